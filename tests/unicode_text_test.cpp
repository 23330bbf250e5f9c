// UTF-8, UTF-16 and the ANSI code page, and case, as varel converts names between them.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/code_page.h"
#include "tools/plugin_host/entry_names.h"
#include "tools/util/unicode_text.h"

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

// Case pairs of every script with case that names use, one row each: the small letter, its
// capital. Linux maps them through utf8proc, Windows through its own table; both must
// give the same answer.
TEST(UnicodeText, CaseMapsEveryScriptWithCase) {
  struct Pair {
    const char* script;
    uint32_t small;
    uint32_t capital;
  };
  const Pair pairs[] = {
      {"Basic Latin", 'a', 'A'},
      {"Basic Latin", 'z', 'Z'},
      {"Latin-1", 0xE9, 0xC9},
      {"Latin-1", 0xFE, 0xDE},
      {"Latin-1 / Extended-A", 0xFF, 0x178},
      {"Latin Extended-A", 0x101, 0x100},
      {"Latin Extended-A", 0x142, 0x141},
      {"Latin Extended-A", 0x15F, 0x15E},  // s cedilla
      {"Latin Extended-A", 0x17E, 0x17D},
      {"Latin Extended-B", 0x219, 0x218},  // s comma below (Romanian)
      {"Latin Extended-B", 0x21B, 0x21A},  // t comma below (Romanian)
      {"Latin Extended-B", 0x180, 0x243},  // b with stroke
      {"Latin Extended-B", 0x1C6, 0x1C4},  // dz with caron
      {"Latin Extended-B", 0x1CE, 0x1CD},  // a with caron
      {"Latin Extended-B", 0x1EF, 0x1EE},  // ezh with caron
      {"Latin Extended-B", 0x233, 0x232},  // y with macron
      {"Latin Extended-B", 0x24F, 0x24E},  // y with stroke
      {"IPA / Extended-B", 0x253, 0x181},  // b with hook
      {"Latin Extended Additional", 0x1EA1, 0x1EA0},
      {"Latin Extended Additional", 0x1EFF, 0x1EFE},
      {"Greek", 0x3B1, 0x391},
      {"Greek", 0x3C9, 0x3A9},
      {"Greek", 0x3AC, 0x386},
      {"Greek", 0x3CE, 0x38F},
      {"Greek", 0x3D9, 0x3D8},  // archaic koppa
      {"Greek", 0x3F3, 0x37F},  // yot
      {"Greek Extended", 0x1F00, 0x1F08},
      {"Cyrillic", 0x430, 0x410},
      {"Cyrillic", 0x44F, 0x42F},
      {"Cyrillic", 0x451, 0x401},
      {"Cyrillic", 0x491, 0x490},  // ghe with upturn
      {"Cyrillic", 0x4CF, 0x4C0},  // palochka
      {"Cyrillic Supplement", 0x501, 0x500},
      {"Cyrillic Extended-B", 0xA641, 0xA640},
      {"Armenian", 0x561, 0x531},
      {"Armenian", 0x586, 0x556},
      {"Georgian", 0x2D00, 0x10A0},  // Nuskhuri and Asomtavruli
      {"Georgian", 0x2D25, 0x10C5},
      {"Georgian", 0x10D0, 0x1C90},  // Mkhedruli and Mtavruli
      {"Georgian", 0x10FA, 0x1CBA},
      {"Cherokee", 0xAB70, 0x13A0},
      {"Cherokee", 0xABBF, 0x13EF},
      {"Cherokee", 0x13F8, 0x13F0},
      {"Roman numerals", 0x2170, 0x2160},
      {"circled letters", 0x24D0, 0x24B6},
      {"full-width Latin", 0xFF41, 0xFF21},
      {"full-width Latin", 0xFF5A, 0xFF3A},
      {"Deseret", 0x10428, 0x10400},  // past the 16-bit range: a surrogate pair in UTF-16
  };
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.script);
    EXPECT_EQ(UpperCase(p.small), p.capital) << std::hex << p.small;
    EXPECT_EQ(LowerCase(p.capital), p.small) << std::hex << p.capital;
    EXPECT_EQ(UpperCase(p.capital), p.capital) << std::hex << p.capital;
    EXPECT_EQ(LowerCase(p.small), p.small) << std::hex << p.small;
    std::string small;
    std::string capital;
    AppendUtf8(p.small, &small);
    AppendUtf8(p.capital, &capital);
    EXPECT_EQ(CaseKey("x" + small + ".txt"), CaseKey("X" + capital + ".TXT"))
        << std::hex << p.small;
  }
  EXPECT_EQ(UpperCase(0x3C2), 0x3A3u);  // final sigma
  // Without another case, or with one only as a string of several (sharp s: "SS").
  for (uint32_t c :
       {0xDFu, 0x65E5u, 0x1F600u, 0x30u, 0xD7u, 0xF7u, 0x5D0u, 0xD800u, 0x110000u, kNotUtf8}) {
    EXPECT_EQ(UpperCase(c), c) << std::hex << c;
    EXPECT_EQ(LowerCase(c), c) << std::hex << c;
  }
}

}  // namespace
