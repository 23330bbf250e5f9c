#include "tools/util/format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    out.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}
