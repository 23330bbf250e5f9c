#include "bytes/byte_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

size_t LineEndByteByByte(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' || s[i] == 0) return i;
  }
  return s.size();
}

// Every byte value below the line feed and around it, as the end or as a byte the scan
// must pass, at every offset in and around the words of a line.
TEST(FindLineEnd, MatchesAByteLoopAtEveryOffset) {
  const char fillers[] = {'a', '\t', '\x01', '\x0B', '\r', '\x7F', '\x80', '\xFF'};
  const char ends[] = {'\n', '\0'};
  for (char filler : fillers) {
    for (char end : ends) {
      for (size_t length = 0; length < 20; ++length) {
        for (size_t at = 0; at <= length; ++at) {
          std::string s(length, filler);
          if (at < length) s[at] = end;
          // A control character before the end must not stop the scan.
          if (at >= 2) s[at - 2] = '\t';
          ASSERT_EQ(FindLineEnd(s.data(), s.size()), LineEndByteByByte(s))
              << "filler " << int(filler) << " end " << int(end) << " at " << at << " of "
              << length;
        }
      }
    }
  }
}

// Each sought byte among fillers equal to it but in one bit, at every offset in and
// around the words, with a second one after it that must not be taken.
TEST(FindByte, MatchesAByteLoopAtEveryOffset) {
  const uint8_t sought[] = {0x00, 0x0A, 0x2F, 0x80, 0xFF};
  for (uint8_t b : sought) {
    for (uint8_t bit = 1; bit != 0; bit = static_cast<uint8_t>(bit << 1)) {
      const char filler = static_cast<char>(b ^ bit);
      for (size_t length = 0; length < 20; ++length) {
        for (size_t at = 0; at <= length; ++at) {
          std::string s(length, filler);
          if (at < length) s[at] = static_cast<char>(b);
          if (at + 3 < length) s[at + 3] = static_cast<char>(b);
          ASSERT_EQ(FindByte(s.data(), s.size(), b), at)
              << "byte " << int(b) << " filler " << int(filler) << " at " << at << " of " << length;
        }
      }
    }
  }
}

TEST(ByteFlags, TheFirstFlagIsExact) {
  // Each word with byte values below and above the limit: the first flagged byte is the
  // first byte below the limit, whatever borrows mark after it.
  const uint8_t values[] = {0, 1, 9, 10, 11, 0x7F, 0x80, 0x8A, 0xFF};
  for (uint8_t a : values) {
    for (uint8_t b : values) {
      for (uint8_t c : values) {
        for (uint8_t d : values) {
          const uint8_t bytes[4] = {a, b, c, d};
          const ScanWord w = LoadScanWord(bytes);
          size_t first = 4;
          for (size_t k = 0; k < 4; ++k) {
            if (bytes[k] < 11) {
              first = k;
              break;
            }
          }
          const ScanWord flags = BytesBelowFlags(w, 11);
          ASSERT_EQ(flags == 0 ? 4 : BytesBeforeFlag(flags), first)
              << int(a) << " " << int(b) << " " << int(c) << " " << int(d);
        }
      }
    }
  }
}

}  // namespace
