// Bounded text copy under every code page the platform layer knows. Input: byte 0 picks
// the code page, bytes 1 and 2 the field width (0 to 511), the rest is the source text.
// Source and field both end flush against an inaccessible page. Checked: nothing is
// written past the count CopyAnsiPrefix reports, the field holds a prefix of the source
// that never ends in half a double-byte character, and CopyAnsiField zero-fills the rest.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "text/ansi_text.h"

namespace {

const unsigned kCodePages[] = {932, 936, 949, 950, 1252};

// A field is sound when, walked from its start, every lead byte has a non-zero trail byte
// inside the field, each byte equals the source's (a lead byte cut off becomes 0, which
// ends the text), and nothing but zeros follow the first zero.
void CheckField(const uint8_t* field, size_t n, const uint8_t* src, size_t srcLength,
                const CAnsiCodePage& cp) {
  size_t i = 0;
  while (i < n && field[i] != 0) {
    FUZZ_CHECK(i < srcLength && field[i] == src[i]);
    if (cp.IsLeadByte(field[i])) {
      FUZZ_CHECK(i + 1 < n && field[i + 1] != 0);
      FUZZ_CHECK(i + 1 < srcLength && field[i + 1] == src[i + 1]);
      i += 2;
    } else {
      i += 1;
    }
  }
  for (; i < n; ++i) FUZZ_CHECK(field[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const CAnsiCodePage cp(kCodePages[data[0] % (sizeof(kCodePages) / sizeof(kCodePages[0]))]);
  const size_t width = FuzzLe16(data, size, 1) % 512;
  CGuardedBytes src(data + 3, size - 3);
  const char* text = reinterpret_cast<const char*>(src.data());

  {
    // Pre-filled, so that a stray write beyond the reported count shows.
    CGuardedBytes field(width);
    std::memset(field.data(), 0xA5, width);
    const size_t n =
        CopyAnsiPrefix(reinterpret_cast<char*>(field.data()), width, text, src.size(), cp);
    FUZZ_CHECK(n <= width);
    for (size_t i = n; i < width; ++i) FUZZ_CHECK(field.data()[i] == 0xA5);
    // A count short of the width means the copy ended with the terminator it wrote.
    FUZZ_CHECK(n == width || (n > 0 && field.data()[n - 1] == 0));
    CheckField(field.data(), n, src.data(), src.size(), cp);
  }
  {
    CGuardedBytes field(width);
    std::memset(field.data(), 0xA5, width);
    CopyAnsiField(reinterpret_cast<char*>(field.data()), width, text, src.size(), cp);
    CheckField(field.data(), width, src.data(), src.size(), cp);
  }
  return 0;
}
