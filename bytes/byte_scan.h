// Searching bytes a 32-bit word at a time. The runtime's memchr is no faster than a byte
// loop under some Windows runtimes, and the listing and the LZ decoder scan many short
// stretches; these make no library call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

typedef uint32_t ScanWord;
constexpr size_t kScanWordBytes = sizeof(ScanWord);
constexpr ScanWord kScanOnes = 0x01010101u;

// The word at p, read unaligned (a plain move on x86).
inline ScanWord LoadScanWord(const void* p) {
  ScanWord v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

// A flag in the high bit of each byte of v below limit (1 to 128). The flag of the first
// such byte in memory order (the lowest, little-endian) is exact: the bytes before it are
// limit or more and lend no borrow, while later flags may be borrows and are ignored.
inline ScanWord BytesBelowFlags(ScanWord v, uint8_t limit) {
  return (v - kScanOnes * limit) & ~v & (kScanOnes * 0x80);
}

// A flag in the high bit of each zero byte of v, the first exact.
inline ScanWord ZeroByteFlags(ScanWord v) { return BytesBelowFlags(v, 1); }

// The bytes before the first flagged one; flags is not zero.
inline size_t BytesBeforeFlag(ScanWord flags) {
  return static_cast<size_t>(__builtin_ctz(flags)) >> 3;
}

// The index of the first byte equal to b among the n bytes at p, or n when there is none.
// Reads only those n bytes.
inline size_t FindByte(const char* p, size_t n, uint8_t b) {
  const ScanWord pattern = kScanOnes * b;
  size_t i = 0;
  while (n - i >= kScanWordBytes) {
    // A byte equal to b is a zero byte of the word xor the pattern.
    const ScanWord flags = ZeroByteFlags(LoadScanWord(p + i) ^ pattern);
    if (flags != 0) return i + BytesBeforeFlag(flags);
    i += kScanWordBytes;
  }
  for (; i < n; ++i) {
    if (static_cast<uint8_t>(p[i]) == b) return i;
  }
  return n;
}

// The index of the first line break or zero byte among the n bytes at p, or n when there
// is none. Reads only those n bytes. A word passes with one test when none of its bytes is
// a control character up to the line feed, as in nearly every line of text.
inline size_t FindLineEnd(const char* p, size_t n) {
  constexpr uint8_t kBelow = '\n' + 1;
  size_t i = 0;
  while (n - i >= kScanWordBytes) {
    const ScanWord controls = BytesBelowFlags(LoadScanWord(p + i), kBelow);
    if (controls == 0) {
      i += kScanWordBytes;
      continue;
    }
    const size_t k = i + BytesBeforeFlag(controls);
    if (p[k] == '\n' || p[k] == 0) return k;
    i = k + 1;  // another control character: the line goes on after it
  }
  for (; i < n; ++i) {
    if (p[i] == '\n' || p[i] == 0) return i;
  }
  return n;
}
