// Case on Windows: the system's own table, as the file system and the shell use it, the same
// for every locale.
#include "tools/util/unicode_text.h"

namespace {

uint32_t MapCase(uint32_t c, DWORD how) {
  // No case past Unicode's last code point or for a surrogate, which UTF-16 cannot carry
  // alone: such a value (kNotUtf8 among them) comes back as it is, not as U+FFFD.
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return c;
  std::string one;
  AppendUtf8(c, &one);
  const WideString w = WideFromUtf8(one);
  WCHAR out[4];
  const int n = LCMapStringW(LOCALE_INVARIANT, how, w.data(), static_cast<int>(w.size()), out, 4);
  if (n <= 0) return c;
  size_t i = 0;
  const std::string mapped = Utf8FromWide(out, static_cast<size_t>(n));
  const uint32_t m = NextCodePoint(mapped, &i);
  return i == mapped.size() && m != kNotUtf8 ? m : c;  // one code point for one, or none
}

}  // namespace

uint32_t UpperCase(uint32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
  if (c == 0x03C2) return 0x03A3;  // the final sigma's capital, missing from some tables
  return MapCase(c, LCMAP_UPPERCASE);
}

uint32_t LowerCase(uint32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
  return MapCase(c, LCMAP_LOWERCASE);
}
