// Entry names as varel reads them: the one rule from bytes to text, safe paths from
// untrusted names, and names for terminals and JSON.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/code_page.h"
#include "tests/support/test_support.h"
#include "tools/plugin_host/entry_names.h"

namespace {

struct DecodeCase {
  int32_t type;
  const char* bytes;
  const char* text;
};

TEST(EntryNamesAnsi, PsarcUtf8StaysAndEverythingElseIsTheAnsiCodePage) {
  CCodePageScope cp1252(1252);
  if (!cp1252.active()) GTEST_SKIP() << "needs code page 1252";
  const DecodeCase cases[] = {
      {kTypePsarc, "plain/ascii.txt", "plain/ascii.txt"},
      {kTypePsarc, "caf\xC3\xA9/na\xC3\xAFve.txt", "caf\xC3\xA9/na\xC3\xAFve.txt"},
      {kTypePsarc, "emoji_\xF0\x9F\x98\x80.txt", "emoji_\xF0\x9F\x98\x80.txt"},
      {kTypePsarc, "caf\xE9.txt", "caf\xC3\xA9.txt"},  // not UTF-8: code page 1252
      {kTypePsarc, "\xC0\xAF", "\xC3\x80\xC2\xAF"},    // an overlong '/' is no UTF-8
      {kTypePkg, "caf\xE9.txt", "caf\xC3\xA9.txt"},
      {kTypePkg, "caf\xC3\xA9", "caf\xC3\x83\xC2\xA9"},  // PKG names are never UTF-8
      {kTypePkg, "\x80\x81", "\xE2\x82\xAC\xC2\x81"},    // the euro sign; 0x81 is U+0081
  };
  for (const DecodeCase& c : cases) {
    const EntryName name = DecodeEntryName(MakeRecord(c.type, 0, 0, 0, BytesOf(c.bytes)));
    EXPECT_EQ(name.bytes, c.bytes);
    EXPECT_EQ(name.text, c.text) << HexBytes(c.bytes);
  }
}

TEST(EntryNamesAnsi, Utf8CutByTheNameFieldLosesOnlyItsLastCharacter) {
  CCodePageScope cp1252(1252);
  if (!cp1252.active()) GTEST_SKIP() << "needs code page 1252";
  // 84 three-byte characters and the first byte of one more fill 253 bytes.
  std::string kana;
  for (int i = 0; i < 84; ++i) kana += "\xE3\x81\x82";
  EXPECT_EQ(DecodeNameBytes(kana + "\xE3\x81", true), kana);
  // Far from the field's end a broken character is no cut: the name is not UTF-8.
  EXPECT_EQ(DecodeNameBytes("a\xE3\x81", true), "a\xC3\xA3\xC2\x81");
}

TEST(EntryNamesCp932, DoubleByteNamesBecomeTheirCharacters) {
  CCodePageScope cp932(932);
  if (!cp932.active()) GTEST_SKIP() << "needs code page 932";
  // 0x83 0x5C is katakana SO, whose trail byte is '\': it is no separator.
  const EntryName name =
      DecodeEntryName(MakeRecord(kTypePkg, 0, 0, 0, BytesOf("\x83\x5C/\x93\xFA\x96\x7B.txt")));
  EXPECT_EQ(name.text, "\xE3\x82\xBD/\xE6\x97\xA5\xE6\x9C\xAC.txt");
  EXPECT_EQ(MakeSafeName(name.text, 0, NameRules::kWindows).components.size(), 2u);
}

struct NameCase {
  const char* name;
  NameRules rules;
  const char* expected;  // components joined with '/'
  bool changed;
};

TEST(EntryNamesSafe, NeverLeaveTheOutputFolder) {
  const NameRules P = NameRules::kPosix;
  const NameRules W = NameRules::kWindows;
  const NameCase cases[] = {
      {"a/b/c.txt", P, "a/b/c.txt", false},
      {"a\\b\\c.txt", P, "a/b/c.txt", false},
      {"../x", P, "x", true},
      {"../../../../etc/passwd", P, "etc/passwd", true},
      {"/abs/path", P, "abs/path", true},
      {"\\\\server\\share\\f", P, "server/share/f", true},
      {"C:\\x", P, "x", true},
      {"c:x", P, "x", true},
      {"C:", P, "unnamed-7", true},
      {"a\\..\\..\\b", P, "a/b", true},
      {"a/./b//c", P, "a/b/c", true},
      {"", P, "unnamed-7", true},
      {"/", P, "unnamed-7", true},
      {"../..", P, "unnamed-7", true},
      {"bell\x07name\x1b[31m", P, "bell_name_[31m", true},
      {"tab\tand\x7f", P, "tab_and_", true},
      {"c1\xC2\x9B"
       "31m",
       P, "c1_31m", true},  // U+009B starts a terminal sequence too
      {"stray\xFF", P, "stray_", true},
      {"dir/a:b", P, "dir/a:b", false},  // a colon is an ordinary character on Linux
      {"dir/a:b", W, "dir/a_b", true},   // but names a stream on Windows
      {"x/C:y", W, "x/C_y", true},       // a drive only counts at the start
      {"what?.txt", W, "what_.txt", true},
      {"trailing.", W, "trailing_", true},
      {"space /x", W, "space_/x", true},
      {"...", W, ".._", true},
      {"...", P, "...", false},
      {"CON", W, "_CON", true},
      {"sub/lpt1.txt", W, "sub/_lpt1.txt", true},
      {"COM\xC2\xB9.log", W, "_COM\xC2\xB9.log", true},  // COM with a superscript one
      {"console", W, "console", false},
      {"COM0", W, "COM0", false},
      {"\xCE\xA9mega/caf\xC3\xA9.", W, "\xCE\xA9mega/caf\xC3\xA9_", true},
      {"\xE6\x97\xA5\xE6\x9C\xAC/\xE2\x80\xAE?.txt", W,
       "\xE6\x97\xA5\xE6\x9C\xAC/\xE2\x80\xAE_.txt", true},
  };
  for (const NameCase& c : cases) {
    const SafeName safe = MakeSafeName(c.name, 7, c.rules);
    EXPECT_EQ(safe.Joined('/'), c.expected) << PrintableName(c.name);
    EXPECT_EQ(!safe.changes.empty() || safe.leadingSeparator != 0, c.changed)
        << PrintableName(c.name);
    EXPECT_EQ(safe.leadingSeparator, c.name[0] == '/' || c.name[0] == '\\' ? c.name[0] : 0)
        << PrintableName(c.name);
    for (const std::string& component : safe.components) {
      EXPECT_FALSE(component.empty() || component == "." || component == "..");
      EXPECT_EQ(component.find_first_of("/\\"), std::string::npos);
    }
  }
}

TEST(EntryNamesSafe, WindowsTakesNamesEqualButForCaseForOneFile) {
  const std::string a = "Caf\xC3\xA9/\xCE\xA9mega.txt";  // Café/Ωmega.txt
  const std::string b = "CAF\xC3\x89/\xCF\x89MEGA.TXT";  // CAFÉ/ωMEGA.TXT
  EXPECT_EQ(FileKey(a, NameRules::kWindows), FileKey(b, NameRules::kWindows));
  EXPECT_NE(FileKey(a, NameRules::kPosix), FileKey(b, NameRules::kPosix));
}

TEST(EntryNamesSafe, NumberedNamesKeepTheExtension) {
  EXPECT_EQ(NumberedName("a.txt", 2), "a~2.txt");
  EXPECT_EQ(NumberedName("archive.tar.gz", 3), "archive.tar~3.gz");
  EXPECT_EQ(NumberedName("README", 2), "README~2");
  EXPECT_EQ(NumberedName(".profile", 2), ".profile~2");
}

TEST(EntryNamesText, PrintableAndJsonNames) {
  EXPECT_EQ(PrintableName("a\x1b[0m\n"), "a\\x1B[0m\\x0A");
  EXPECT_EQ(PrintableName("caf\xC3\xA9 \xC2\x9B \xE2\x80\xAE \xFF"),
            "caf\xC3\xA9 \\u009B \\u202E \\xFF");
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("q\"b\\\n\x01"), "\"q\\\"b\\\\\\u000a\\u0001\"");
  EXPECT_EQ(JsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
  EXPECT_EQ(JsonString("caf\xE9"), "\"caf\xEF\xBF\xBD\"");  // a stray byte does not pass
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");  // surrogate
  EXPECT_EQ(HexBytes("caf\xE9"), "636166e9");
}

}  // namespace
