// The host side's own logic, without the plug-in: safe paths from untrusted entry names,
// the glob matcher, JSON strings, the progress line and the atomic output file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32_api.h"
#include "tests/support/test_support.h"
#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/host_fs.h"
#include "tools/varel_host/progress.h"

namespace {

CLeadBytes Cp932LeadBytes() {
  CLeadBytes lead;
  lead.AddRange(0x81, 0x9F);
  lead.AddRange(0xE0, 0xFC);
  return lead;
}

struct NameCase {
  const char* name;
  NameRules rules;
  const char* expected;  // components joined with '/'
  bool changed;
};

TEST(VarelSafeName, NeverLeavesTheOutputFolder) {
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
      {"dir/a:b", P, "dir/a:b", false},  // a colon is an ordinary byte on Linux
      {"dir/a:b", W, "dir/a_b", true},   // but names a stream on Windows
      {"x/C:y", W, "x/C_y", true},       // a drive only counts at the start
      {"what?.txt", W, "what_.txt", true},
      {"trailing.", W, "trailing_", true},
      {"space /x", W, "space_/x", true},
      {"...", W, ".._", true},
      {"...", P, "...", false},
      {"CON", W, "_CON", true},
      {"sub/lpt1.txt", W, "sub/_lpt1.txt", true},
      {"console", W, "console", false},
      {"COM0", W, "COM0", false},
  };
  for (const NameCase& c : cases) {
    const SafeName safe = MakeSafeName(c.name, 7, CLeadBytes(), c.rules);
    EXPECT_EQ(safe.Joined('/'), c.expected) << PrintableName(c.name);
    EXPECT_EQ(!safe.changes.empty(), c.changed) << PrintableName(c.name);
    for (const std::string& component : safe.components) {
      EXPECT_FALSE(component.empty() || component == "." || component == "..");
      EXPECT_EQ(component.find_first_of("/\\"), std::string::npos);
    }
  }
}

TEST(VarelSafeNameCp932, TrailByteBackslashIsNotASeparator) {
  // 0x83 0x5C is one katakana character whose trail byte is '\'.
  const std::string name = "\x83\x5C/\x83\x5C.txt";
  const SafeName safe = MakeSafeName(name, 0, Cp932LeadBytes(), NameRules::kWindows);
  ASSERT_EQ(safe.components.size(), 2u);
  EXPECT_EQ(safe.components[0], "\x83\x5C");
  EXPECT_EQ(safe.components[1], "\x83\x5C.txt");
  EXPECT_TRUE(safe.changes.empty());
  // Without the code page's lead bytes the same bytes split into three components.
  EXPECT_EQ(MakeSafeName(name, 0, CLeadBytes(), NameRules::kPosix).components.size(), 3u);
}

TEST(VarelSafeNameCp932, SystemCodePageKnowsItsLeadBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  const CLeadBytes lead = CLeadBytes::System();
  EXPECT_TRUE(lead.IsLead(0x83));
  EXPECT_FALSE(lead.IsLead('a'));
  EXPECT_EQ(MakeSafeName("\x83\x5C", 0, lead, NameRules::kPosix).components.size(), 1u);
}

TEST(VarelSafeName, NumberedNamesKeepTheExtension) {
  EXPECT_EQ(NumberedName("a.txt", 2), "a~2.txt");
  EXPECT_EQ(NumberedName("archive.tar.gz", 3), "archive.tar~3.gz");
  EXPECT_EQ(NumberedName("README", 2), "README~2");
  EXPECT_EQ(NumberedName(".profile", 2), ".profile~2");
}

struct GlobCase {
  const char* pattern;
  const char* name;
  bool match;
};

TEST(VarelGlob, MatchesLikeAShell) {
  const GlobCase cases[] = {
      {"*", "", true},
      {"*", "any/thing", true},
      {"*.txt", "a.txt", true},
      {"*.txt", "dir/a.txt", true},  // '*' crosses folders
      {"*.txt", "a.txt.bak", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"[ab]x", "bx", true},
      {"[ab]x", "cx", false},
      {"[a-c]x", "cx", true},
      {"[!a-c]x", "dx", true},
      {"[^a-c]x", "ax", false},
      {"[]]", "]", true},
      {"[*]", "*", true},
      {"[*]", "a", false},
      {"[abc", "[abc", true},  // an unclosed '[' is literal
      {"sub/*", "sub\\x", true},
      {"sub\\*", "sub/x", true},
      {"*a*b*c*", "xxaxxbxxcxx", true},
      {"*a*b*c*", "xxaxxcxxbxx", false},
      {"Readme", "README", false},
      {"", "", true},
      {"", "a", false},
  };
  for (const GlobCase& c : cases) {
    EXPECT_EQ(GlobMatch(c.pattern, c.name, CLeadBytes()), c.match) << c.pattern << " on " << c.name;
  }
}

TEST(VarelGlobCp932, QuestionMarkTakesAWholeCharacter) {
  const CLeadBytes lead = Cp932LeadBytes();
  EXPECT_TRUE(GlobMatch("?.txt", "\x83\x5C.txt", lead));
  EXPECT_FALSE(GlobMatch("??.txt", "\x83\x5C.txt", lead));
  // The trail byte '\' is no separator, so "*/..." does not match inside the character.
  EXPECT_FALSE(GlobMatch("*/*", "\x83\x5C", lead));
}

TEST(VarelGlob, LongNamesDoNotBlowUp) {
  const std::string name(255, 'a');
  EXPECT_FALSE(GlobMatch("*a*a*a*a*a*a*a*a*b", name, CLeadBytes()));
}

TEST(VarelText, PrintableAndJsonNames) {
  EXPECT_EQ(PrintableName("a\x1b[0m\n"), "a\\x1B[0m\\x0A");
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("q\"b\\\n\x01"), "\"q\\\"b\\\\\\u000a\\u0001\"");
}

TEST(VarelTextAnsi, JsonNamesAreUtf8) {
#if defined(_WIN32)
  if (GetACP() != 1252) GTEST_SKIP() << "checks the conversion from code page 1252";
  EXPECT_EQ(JsonString("caf\xE9"), "\"caf\xC3\xA9\"");
#else
  EXPECT_EQ(JsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");  // valid UTF-8 passes
  EXPECT_EQ(JsonString("caf\xE9"), "\"caf\xEF\xBF\xBD\"");  // a stray byte does not
  EXPECT_EQ(JsonString("\xED\xA0\x80"),
            "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");  // no surrogates
#endif
}

TEST(VarelProgress, LineSaysWhatIsDoneAndWhatIsLeft) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(3u << 20), "3.0 MiB");
  ProgressState s;
  s.entriesDone = 3;
  s.entriesTotal = 10;
  s.bytesDone = 2u << 20;
  s.bytesTotal = 6u << 20;
  s.seconds = 2;
  EXPECT_EQ(FormatProgress(s), "3/10 entries, 2.0 MiB of 6.0 MiB, 1.0 MiB/s, 4s left");
  s.bytesDone = 1u << 20;
  s.bytesTotal = 200u << 20;
  EXPECT_EQ(FormatProgress(s), "3/10 entries, 1.0 MiB of 200.0 MiB, 512.0 KiB/s, 6m38s left");
  s.seconds = 0;  // no rate before any time has passed
  EXPECT_EQ(FormatProgress(s), "3/10 entries, 1.0 MiB of 200.0 MiB");
}

class VarelOutputFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(MakeFolder(folder_.path(), &error_)) << error_; }
  void TearDown() override { RemoveTree(folder_.path()); }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    EXPECT_TRUE(ListFolder(folder_.path(), &names, &error_));
    return names;
  }
  CTempPath folder_;
  std::string error_;
};

TEST_F(VarelOutputFile, AppearsOnlyOnCommit) {
  COutputFile out;
  ASSERT_TRUE(out.Open(folder_.path(), "f.bin", &error_)) << error_;
  ASSERT_TRUE(out.Write("abc", 3, &error_));
  EXPECT_EQ(GetPathKind(JoinPath(folder_.path(), "f.bin")), PathKind::kMissing);
  ASSERT_TRUE(out.Commit(false, &error_)) << error_;
  std::vector<uint8_t> back;
  ASSERT_TRUE(ReadWholeFile(JoinPath(folder_.path(), "f.bin"), &back, &error_));
  EXPECT_EQ(back, BytesOf("abc"));
  EXPECT_EQ(Names(), std::vector<std::string>{"f.bin"});
}

TEST_F(VarelOutputFile, AbandonedWriteLeavesNothing) {
  {
    COutputFile out;
    ASSERT_TRUE(out.Open(folder_.path(), "f.bin", &error_));
    ASSERT_TRUE(out.Write("abc", 3, &error_));
  }  // destroyed without Commit, as when a run is cut short
  EXPECT_TRUE(Names().empty());
}

TEST_F(VarelOutputFile, ReplacesOnlyWhenAsked) {
  const std::string path = JoinPath(folder_.path(), "f.bin");
  ASSERT_TRUE(
      WriteFileAtomically(path, reinterpret_cast<const uint8_t*>("old"), 3, false, &error_));
  EXPECT_FALSE(
      WriteFileAtomically(path, reinterpret_cast<const uint8_t*>("new"), 3, false, &error_));
  EXPECT_NE(error_.find("f.bin"), std::string::npos);
  std::vector<uint8_t> back;
  ASSERT_TRUE(ReadWholeFile(path, &back, &error_));
  EXPECT_EQ(back, BytesOf("old"));
  ASSERT_TRUE(WriteFileAtomically(path, reinterpret_cast<const uint8_t*>("new"), 3, true, &error_));
  ASSERT_TRUE(ReadWholeFile(path, &back, &error_));
  EXPECT_EQ(back, BytesOf("new"));
  EXPECT_EQ(Names(), std::vector<std::string>{"f.bin"});  // no temporary left behind
}

TEST_F(VarelOutputFile, MissingFolderIsAClearError) {
  COutputFile out;
  EXPECT_FALSE(out.Open(JoinPath(folder_.path(), "nope"), "f.bin", &error_));
  EXPECT_NE(error_.find("f.bin"), std::string::npos);
}

}  // namespace
