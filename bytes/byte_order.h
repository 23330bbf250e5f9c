// Reads of fixed-width integers from untrusted bytes, byte by byte, so that alignment and
// the machine's byte order never matter. PSARC fields are big-endian, PKG fields and the
// host records little-endian.
#pragma once

#include <cstdint>

inline uint32_t be16(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 8) | static_cast<uint32_t>(p[1]);
}

inline uint32_t be24(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) |
         static_cast<uint32_t>(p[2]);
}

inline uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// A 40-bit value: the first byte gives bits 32 to 39.
inline uint64_t be40(const uint8_t* p) {
  return (static_cast<uint64_t>(p[0]) << 32) | static_cast<uint64_t>(be32(p + 1));
}

inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A little-endian i32, as stored (two's complement).
inline int32_t le32s(const uint8_t* p) { return static_cast<int32_t>(le32(p)); }
