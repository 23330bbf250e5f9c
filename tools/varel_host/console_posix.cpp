#include <unistd.h>

#include "tools/varel_host/console.h"

bool WriteText(FILE* stream, const std::string& text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

void SetBinaryOutput(FILE*) {}  // bytes always pass as they are
