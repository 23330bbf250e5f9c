#include <unistd.h>

#include <cerrno>

#include "tools/os/console.h"

bool WriteText(FILE* stream, const std::string& text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

void SetBinaryMode(FILE*) {}

bool IsClosedPipe(int error) { return error == EPIPE; }
