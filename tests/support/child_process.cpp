#include "tests/support/child_process.h"

#include <cstdint>
#include <vector>

#include "tools/os/files.h"

std::string ReadCapturedOutput(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  ReadWholeFile(path, &bytes, &error);
  return std::string(bytes.begin(), bytes.end());
}

std::string QuoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}
