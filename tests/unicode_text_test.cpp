// UTF-8, UTF-16 and the ANSI code page, and case, as varel converts names between them.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/code_page.h"
#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/unicode_text.h"

namespace {

TEST(UnicodeText, Utf8IsWalkedByWellFormedCharacters) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"ascii", true},
      {"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", true},
      {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
      {"\xC0\xAF", false},          // overlong '/'
      {"\xE0\x80\xAF", false},      // overlong '/'
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xE6\x97", false},          // cut short
      {"\x80", false},              // a trail byte alone
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << HexBytes(c.text);
  EXPECT_EQ(ValidUtf8Prefix("ab\xE6\x97"), 2u);
}

TEST(UnicodeText, Utf16RoundTripKeepsEveryCharacter) {
  const std::string text = "caf\xC3\xA9 \xCE\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80 e\xCC\x81";
  const WideString wide = WideFromUtf8(text);
  EXPECT_EQ(wide.size(), 14u);  // the emoji is a surrogate pair
  EXPECT_EQ(Utf8FromWide(wide.data(), wide.size()), text);
  const WCHAR lone[] = {'a', 0xD800, 'b'};
  EXPECT_EQ(Utf8FromWide(lone, 3),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(WideFromUtf8("a\xFF"), WideFromUtf8("a\xEF\xBF\xBD"));
}

TEST(UnicodeTextAnsi, Cp1252BothWays) {
  CCodePageScope cp1252(1252);
  if (!cp1252.active()) GTEST_SKIP() << "needs code page 1252";
  EXPECT_EQ(Utf8FromAnsi("caf\xE9 \x80 \x81 \x9F"), "caf\xC3\xA9 \xE2\x82\xAC \xC2\x81 \xC5\xB8");
  // Every byte is a character, and comes back as itself.
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  std::string back;
  ASSERT_TRUE(AnsiFromUtf8(Utf8FromAnsi(all), &back));
  EXPECT_EQ(back, all);
  // Characters 1252 lacks are refused, never a look-alike or '?'.
  EXPECT_FALSE(AnsiFromUtf8("\xCE\xA9mega.bin", &back));  // Ωmega
  EXPECT_FALSE(AnsiFromUtf8("\xE6\x97\xA5", &back));
  EXPECT_FALSE(AnsiFromUtf8("caf\xE9", &back));  // not UTF-8
}

TEST(UnicodeTextCp932, DoubleByteBothWays) {
  CCodePageScope cp932(932);
  if (!cp932.active()) GTEST_SKIP() << "needs code page 932";
  const std::string text = "\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x82\xBD.txt";  // 日本/ソ.txt
  const std::string bytes = "\x93\xFA\x96\x7B/\x83\x5C.txt";
  EXPECT_EQ(Utf8FromAnsi(bytes), text);
  std::string back;
  ASSERT_TRUE(AnsiFromUtf8(text, &back));
  EXPECT_EQ(back, bytes);
  EXPECT_FALSE(AnsiFromUtf8("\xF0\x9F\x98\x80", &back));  // an emoji
  EXPECT_FALSE(AnsiFromUtf8("\xC3\xA9", &back));          // é
  // A code page given outright is the one used.
  ASSERT_TRUE(CodePageFromUtf8("\xC3\xA9", 1252, &back));
  EXPECT_EQ(back, "\xE9");
}

// The UTF-8 code page (65001, which Windows may have as its ANSI code page) holds every
// name as its own bytes; only text that is not UTF-8 is refused.
TEST(UnicodeText, Utf8CodePageHoldsEveryName) {
  std::string bytes;
  for (const char* name : {"caf\xC3\xA9", "\xCE\xA9mega", "\xE6\x97\xA5\xE6\x9C\xAC",
                           "emoji_\xF0\x9F\x98\x80", "e\xCC\x81"}) {
    EXPECT_TRUE(CodePageFromUtf8(name, 65001, &bytes)) << HexBytes(name);
    EXPECT_EQ(bytes, name);
  }
  EXPECT_FALSE(CodePageFromUtf8("caf\xE9", 65001, &bytes));
}

// Linux's case table and Windows's own must agree on the characters of everyday names.
TEST(UnicodeText, CaseAgreesWithTheSystemsTable) {
  struct Pair {
    uint32_t small;
    uint32_t capital;
  };
  const Pair pairs[] = {
      {'a', 'A'},       {0xE9, 0xC9},     {0xFE, 0xDE},     {0xFF, 0x178},    {0x101, 0x100},
      {0x142, 0x141},   {0x17E, 0x17D},   {0x3B1, 0x391},   {0x3C9, 0x3A9},   {0x3AC, 0x386},
      {0x3CE, 0x38F},   {0x430, 0x410},   {0x44F, 0x42F},   {0x451, 0x401},   {0x561, 0x531},
      {0x1EA1, 0x1EA0}, {0x2170, 0x2160}, {0x24D0, 0x24B6}, {0xFF41, 0xFF21},
  };
  for (const Pair& p : pairs) {
    EXPECT_EQ(UpperCase(p.small), p.capital) << std::hex << p.small;
    EXPECT_EQ(LowerCase(p.capital), p.small) << std::hex << p.capital;
    EXPECT_EQ(UpperCase(p.capital), p.capital) << std::hex << p.capital;
  }
  EXPECT_EQ(UpperCase(0x3C2), 0x3A3u);  // final sigma
  for (uint32_t c : {0xDFu, 0x65E5u, 0x1F600u, 0x30u, 0xD7u, 0xF7u}) {
    EXPECT_EQ(UpperCase(c), c) << std::hex << c;
    EXPECT_EQ(LowerCase(c), c) << std::hex << c;
  }
}

}  // namespace
