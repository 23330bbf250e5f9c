// The bounded ANSI text copy: never a split double-byte character, zeros after the copy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32_api.h"
#include "tests/support/test_support.h"
#include "text/ansi_text.h"

namespace {

struct FieldCase {
  unsigned codePage;
  std::string source;
  size_t width;
  std::string expected;  // all `width` bytes of the field
};

class AnsiFieldCopy : public ::testing::TestWithParam<FieldCase> {};

TEST_P(AnsiFieldCopy, CopiesAsTheRuleSays) {
  const FieldCase& c = GetParam();
  CAnsiCodePage codePage(c.codePage);
  std::string field(c.width, '\x55');
  CopyAnsiField(&field[0], c.width, c.source.data(), c.source.size(), codePage);
  EXPECT_EQ(Hex(Bytes(field.begin(), field.end())),
            Hex(Bytes(c.expected.begin(), c.expected.end())));
}

const std::string Z(size_t n) { return std::string(n, '\0'); }

INSTANTIATE_TEST_SUITE_P(
    Cases, AnsiFieldCopy,
    ::testing::Values(
        // Single-byte: a plain bounded copy.
        FieldCase{1252, "abc", 6, "abc" + Z(3)},
        FieldCase{1252, "abcdef", 6, "abcdef"},    // as long as the field: no terminator
        FieldCase{1252, "abcdefgh", 6, "abcdef"},  // longer: cut, no terminator
        FieldCase{1252,
                  "\x82\xA0"
                  "b",
                  4,
                  "\x82\xA0"
                  "b" +
                      Z(1)},                                        // no lead bytes in 1252
        FieldCase{1252, std::string("ab\0cd", 5), 5, "ab" + Z(3)},  // stops after the terminator
        // Code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC.
        FieldCase{932, "\x82\xA0\x82\xA2", 5, "\x82\xA0\x82\xA2" + Z(1)},
        FieldCase{932, "a\x82\xA0", 2, "a" + Z(1)},     // trail would not fit
        FieldCase{932, "ab\x82\xA0", 4, "ab\x82\xA0"},  // fits exactly
        FieldCase{932, "ab\x82", 6, "ab" + Z(4)},       // trail is the end of the source
        FieldCase{932, std::string("a\xE0\0z", 4), 6, "a" + Z(5)},  // trail is the terminator
        FieldCase{932, "\xA0\xA1", 3, "\xA0\xA1" + Z(1)},           // half-width kana are single
        FieldCase{932, "\xFD\xFE", 2, "\xFD\xFE"},                  // 0xFD is no lead byte
        // Code pages 936, 949 and 950: lead bytes 0x81-0xFE.
        FieldCase{936, "x\xFE\x41", 2, "x" + Z(1)}, FieldCase{949, "\xB0\xA1", 2, "\xB0\xA1"},
        FieldCase{950, "\xA4\x40z", 3, "\xA4\x40z"}),
    [](const ::testing::TestParamInfo<FieldCase>& info) {
      return "cp" + std::to_string(info.param.codePage) + "_" + std::to_string(info.index);
    });

TEST(AnsiPrefixCopy, LeavesBytesPastTheCopyAlone) {
  CAnsiCodePage cp(932);
  char field[8];
  std::memset(field, 'Q', sizeof(field));
  EXPECT_EQ(CopyAnsiPrefix(field, 8, "ab", 2, cp), 3u);
  EXPECT_EQ(std::string(field, 8), std::string("ab\0QQQQQ", 8));
  std::memset(field, 'Q', sizeof(field));
  EXPECT_EQ(CopyAnsiPrefix(field, 3, "ab\x88\x9F", 4, cp), 3u)
      << "a lead byte at the edge becomes 0";
  EXPECT_EQ(std::string(field, 4), std::string("ab\0Q", 4));
}

// Run by ctest twice: under LC_ALL=C.UTF-8, which gives code page 1252, and under
// LC_ALL=ja_JP.UTF-8, which gives 932, natively and under Wine alike.
TEST(AnsiSystemCodePage, FollowsTheLocale) {
  const char* locale = std::getenv("LC_ALL");
  if (locale == nullptr) GTEST_SKIP() << "LC_ALL is not set";
  unsigned expected;
  if (std::strcmp(locale, "C") == 0 || std::strncmp(locale, "C.", 2) == 0 ||
      std::strcmp(locale, "POSIX") == 0) {
    expected = 1252;
  } else if (std::strncmp(locale, "ja_JP", 5) == 0) {
    expected = 932;
  } else {
    GTEST_SKIP() << "no expected code page for LC_ALL=" << locale;
  }
  EXPECT_EQ(GetACP(), expected);
  const CAnsiCodePage& system = CAnsiCodePage::System();
  EXPECT_EQ(system.codePage(), expected);
  EXPECT_EQ(system.HasLeadBytes(), expected == 932);
  EXPECT_EQ(system.IsLeadByte(0x81), expected == 932);
  EXPECT_EQ(system.IsLeadByte(0xE0), expected == 932);
  EXPECT_FALSE(system.IsLeadByte(0xA0)) << "half-width kana and 1252's 0xA0 are single bytes";
  EXPECT_FALSE(system.IsLeadByte('A'));
}

}  // namespace
