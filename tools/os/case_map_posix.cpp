// Case on Linux: utf8proc's simple case mappings, one code point for one, for every pair
// of the Unicode version it was built with (utf8proc_unicode_version).
#include <utf8proc.h>

#include "tools/util/unicode_text.h"

namespace {

// utf8proc takes code points as a signed 32-bit value; past U+10FFFF it has no data.
constexpr uint32_t kLastCodePoint = 0x10FFFF;
constexpr uint32_t kSmallSharpS = 0xDF;

}  // namespace

uint32_t UpperCase(uint32_t c) {
  // Unicode gives the small sharp s no capital of its own (only "SS"); utf8proc maps it to
  // U+1E9E, which Windows's table does not.
  if (c > kLastCodePoint || c == kSmallSharpS) return c;
  return static_cast<uint32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(c)));
}

uint32_t LowerCase(uint32_t c) {
  if (c > kLastCodePoint) return c;
  return static_cast<uint32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c)));
}
