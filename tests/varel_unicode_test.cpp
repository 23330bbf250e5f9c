// End to end: names in every script through the real varel binary. Both platforms run
// these with the same expectations (LC_ALL=C.UTF-8: code page 1252, Unicode file names);
// varel_names_on_disk_test.py holds both to the same bytes on the Linux file system.
#include <string>
#include <vector>

#include "tests/support/psarc_test_support.h"
#include "tests/varel_test_support.h"

namespace {

// Latin, Greek, Japanese, an emoji, a combining accent (e + U+0301, never composed).
const char kCafe[] = "caf\xC3\xA9/na\xC3\xAFve.txt";
const char kOmega[] = "\xCE\xA9mega.bin";
const char kJapanese[] = "\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.txt";
const char kEmoji[] = "emoji_\xF0\x9F\x98\x80.txt";
const char kCombining[] = "e\xCC\x81t\xC3\xA9.txt";

FileTree UnicodeTree() {
  FileTree t;
  for (const char* name : {kCafe, kOmega, kJapanese, kEmoji, kCombining}) t[name] = BytesOf(name);
  return t;
}

Bytes PsarcWithNames(const std::vector<std::string>& names) {
  std::vector<ArchiveInput> entries;
  for (const std::string& n : names) entries.push_back({n, BytesOf(n)});
  return PackPsarc(entries);
}

TEST_F(VarelRun, UnicodeNamesRoundTripThroughPsarc) {
  const FileTree tree = UnicodeTree();
  WriteTree("src", tree);
  // An archive with a Unicode name of its own, opened by the host with the wide calls.
  const std::string archive = "\xE3\x82\xA2\xE3\x83\xBC\xE3\x82\xAB\xE3\x82\xA4\xE3\x83\x96.psarc";
  ProcessResult r = Varel({"pack", "psarc", archive, "-C", "src", "."});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);

  r = Varel({"list", "--json", archive});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  for (const auto& f : tree) {
    EXPECT_TRUE(Contains(r.out, "\"name\": \"" + f.first + "\", \"size\"")) << f.first << r.out;
  }
  EXPECT_FALSE(Contains(r.out, "nameBytes")) << "every name is stored as UTF-8\n" << r.out;
  r = Varel({"list", archive, "*.txt"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(Contains(r.out, kJapanese)) << r.out;

  // The default folder is named after the archive.
  r = Varel({"extract", archive});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  FileTree back = ReadTree(At("\xE3\x82\xA2\xE3\x83\xBC\xE3\x82\xAB\xE3\x82\xA4\xE3\x83\x96"));
  back.erase("NamesBlock.bin");
  EXPECT_TRUE(back == tree) << Describe(r);

  for (const auto& f : tree) {
    r = Varel({"cat", archive, f.first});
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_EQ(r.out, f.first);
  }
}

TEST_F(VarelRun, NamesNotInUtf8AreReadInTheSystemCodePage) {
  WriteFile("utf8.psarc", PsarcWithNames({kCafe, kJapanese, kEmoji}));
  WriteFile("cp1252.psarc", PsarcWithNames({"caf\xE9/na\xEFve.txt", "\x80uro.txt"}));
  WriteFile("cp1252.pkg", HandBuiltPkg({{"caf\xE9.txt", BytesOf("pkg")}}));
  for (const char* archive : {"utf8.psarc", "cp1252.psarc", "cp1252.pkg"}) {
    const ProcessResult r = Varel({"extract", archive, "-o", std::string("out/") + archive});
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
  }
  FileTree back = ReadTree(At("out"));
  std::vector<std::string> names;
  for (const auto& f : back) names.push_back(f.first);
  const std::vector<std::string> expected = {
      "cp1252.pkg/caf\xC3\xA9.txt",
      "cp1252.psarc/NamesBlock.bin",
      "cp1252.psarc/caf\xC3\xA9/na\xC3\xAFve.txt",
      "cp1252.psarc/\xE2\x82\xACuro.txt",
      std::string("utf8.psarc/") + "NamesBlock.bin",
      std::string("utf8.psarc/") + kCafe,
      std::string("utf8.psarc/") + kEmoji,
      std::string("utf8.psarc/") + kJapanese,
  };
  EXPECT_EQ(names, expected);
  EXPECT_EQ(back["cp1252.psarc/caf\xC3\xA9/na\xC3\xAFve.txt"], BytesOf("caf\xE9/na\xEFve.txt"));

  // JSON gives the text, and the bytes whenever they are not that text.
  ProcessResult r = Varel({"list", "--json", "cp1252.psarc"});
  EXPECT_TRUE(Contains(r.out,
                       "\"name\": \"caf\xC3\xA9/na\xC3\xAFve.txt\", \"nameBytes\": "
                       "\"636166e92f6e61ef76652e747874\""))
      << r.out;
  r = Varel({"cat", "cp1252.pkg", "caf\xC3\xA9.txt"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(r.out, "pkg");
}

TEST_F(VarelRun, PkgRefusesANameItsCodePageCannotHold) {
  WriteTree("src", {{"ok.txt", BytesOf("ok")}, {kOmega, BytesOf("omega")}});
  ProcessResult r = Varel({"pack", "pkg", "out.pkg", "-C", "src", "."});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, std::string(kOmega) + ": cannot be packed: its name holds '\xCE\xA9' "
                                                    "(U+03A9), which the ANSI code page (1252)"))
      << r.err;
  EXPECT_EQ(GetPathKind(At("out.pkg")), PathKind::kMissing);
  EXPECT_EQ(ReadTree(work_.path()).size(), 2u) << "nothing left behind";

  // A name the code page holds is stored in it, one byte for é.
  WriteTree("latin", {{"caf\xC3\xA9.txt", BytesOf("latin")}});
  r = Varel({"pack", "pkg", "latin.pkg", "-C", "latin", "."});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  const Bytes stored = ReadFile("latin.pkg");
  EXPECT_TRUE(Contains(std::string(stored.begin(), stored.end()), "caf\xE9.txt"));
  r = Varel({"list", "--json", "latin.pkg"});
  EXPECT_TRUE(Contains(r.out, "\"name\": \"caf\xC3\xA9.txt\", \"nameBytes\": \"636166e92e747874\""))
      << r.out;
#if !defined(_WIN32)
  // A Linux file name that is not UTF-8 has no Unicode name to store.
  WriteTree("bytes", {{"caf\xE9.txt", BytesOf("x")}});
  r = Varel({"pack", "psarc", "bytes.psarc", "-C", "bytes", "."});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "caf\xE9.txt: cannot be packed: its name is not valid UTF-8"))
      << r.err;
  EXPECT_EQ(GetPathKind(At("bytes.psarc")), PathKind::kMissing);
#endif
}

TEST_F(VarelRun, PathsOfOver300CharactersPackAndExtract) {
  std::string deep;
  for (int i = 0; i < 4; ++i) deep += std::string(50, static_cast<char>('a' + i)) + "/";
  const std::string name = deep + "\xE6\x97\xA5\xE6\x9C\xAC-deep.txt";
  WriteTree("src", {{name, BytesOf("deep")}});
  ProcessResult r = Varel({"pack", "psarc", "deep.psarc", "-C", "src", "."});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  const std::string out = std::string(60, 'o');
  r = Varel({"extract", "deep.psarc", "-o", out});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  ASSERT_GT(At(out + "/" + name).size(), 300u);
  EXPECT_EQ(ReadFile(out + "/" + name), BytesOf("deep"));
}

// Windows ignores case in patterns and names by default, Linux respects it; either can be
// told otherwise.
TEST_F(VarelRun, CaseInPatternsFollowsTheSystem) {
  WriteFile("c.pkg", HandBuiltPkg({{"Readme.TXT", BytesOf("1")},
                                   {"\xD9mega.bin", BytesOf("2")},  // Ùmega in 1252
                                   {"caf\xE9.txt", BytesOf("3")}}));
  const std::vector<std::string> patterns = {"readme.txt", "\xC3\xB9MEGA.*", "CAF\xC3\x89.TXT"};
#if defined(_WIN32)
  const bool byDefault = true;
#else
  const bool byDefault = false;
#endif
  struct Case {
    const char* option;
    bool ignoresCase;
  };
  for (const Case& c :
       {Case{nullptr, byDefault}, Case{"--ignore-case", true}, Case{"--case-sensitive", false}}) {
    std::vector<std::string> args = {"list", "c.pkg"};
    if (c.option != nullptr) args.push_back(c.option);
    args.insert(args.end(), patterns.begin(), patterns.end());
    ProcessResult r = Varel(args);
    SCOPED_TRACE(c.option != nullptr ? c.option : "default");
    EXPECT_EQ(r.exitCode, c.ignoresCase ? 0 : 1) << Describe(r);
    EXPECT_EQ(Contains(r.out, "3 entries"), c.ignoresCase) << r.out;
    args = {"cat", "c.pkg", "README.txt"};
    if (c.option != nullptr) args.push_back(c.option);
    r = Varel(args);
    EXPECT_EQ(r.out, c.ignoresCase ? "1" : "") << Describe(r);
  }
  EXPECT_EQ(Varel({"list", "c.pkg", "--ignore-case", "--case-sensitive"}).exitCode, 2);
}

// --ignore-case maps every script's letters, those of Latin Extended-B (Romanian) among
// them, in list's patterns and cat's names alike.
TEST_F(VarelRun, IgnoreCaseMapsEveryScript) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"\xC8\x98tefan.txt", "\xC8\x99TEFAN.TXT"},  // Stefan, s comma below
      {"\xC8\x9Aurcan.txt", "\xC8\x9BURCAN.TXT"},  // Turcan, t comma below
      {"\xC3\xA9mile.txt", "\xC3\x89MILE.txt"},    // Emile, e acute
      {"\xCF\x89mega.txt", "\xCE\xA9MEGA.txt"},    // omega
      {"\xE1\x83\x90.txt", "\xE1\xB2\x90.txt"},    // Georgian an
      {"\xEA\xAD\xB0.txt", "\xE1\x8E\xA0.txt"},    // Cherokee a
  };
  std::map<std::string, std::vector<uint8_t>> tree;
  for (const auto& n : names) tree[n.first] = BytesOf(n.first);
  WriteTree("src", tree);
  ProcessResult r = Varel({"pack", "psarc", "n.psarc", "-q", "-C", "src", "."});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  for (const auto& n : names) {
    SCOPED_TRACE(n.second);
    r = Varel({"list", "-1", "--ignore-case", "n.psarc", n.second});
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_EQ(TextOf(r.out), n.first + "\n");
    r = Varel({"cat", "n.psarc", n.second, "--ignore-case"});
    EXPECT_EQ(r.out, n.first) << Describe(r);
  }
}

// What Windows cannot hold is renamed there, non-ASCII names alike; Linux keeps them.
TEST_F(VarelRun, NamesWindowsCannotHoldAreRenamedThere) {
  WriteFile("w.pkg", HandBuiltPkg({{"caf\xE9.", BytesOf("1")},
                                   {"\xC9t\xE9.txt", BytesOf("2")},  // Été.txt
                                   {"\xE9t\xE9.txt", BytesOf("3")},  // été.txt
                                   {"\xC6ther:x", BytesOf("4")}}));  // Æther:x
  const ProcessResult r = Varel({"extract", "w.pkg", "-o", "out"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  std::vector<std::string> names;
  for (const auto& f : ReadTree(At("out"))) names.push_back(f.first);
#if defined(_WIN32)
  const std::vector<std::string> expected = {"caf\xC3\xA9_", "\xC3\x86ther_x",
                                             "\xC3\x89t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9~2.txt"};
  EXPECT_TRUE(Contains(r.err, "shares its name; written as '\xC3\xA9t\xC3\xA9~2.txt'")) << r.err;
#else
  const std::vector<std::string> expected = {"caf\xC3\xA9.", "\xC3\x86ther:x",
                                             "\xC3\x89t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9.txt"};
#endif
  EXPECT_EQ(names, expected) << Describe(r);
}

}  // namespace
