// End to end: the real varel binary (varel.exe under Wine) with the real plug-in beside it,
// driven as a person or a script drives it, checked by exit codes, output and the files
// it leaves.
#include <string>
#include <vector>

#include "tests/varel_test_support.h"
#include "tools/plugin_host/entry_names.h"

namespace {

class VarelRoundTrip : public VarelRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(VarelRoundTrip, PackListExtractCompare) {
  const std::string format = GetParam();
  const std::string archive = "samples." + format;
  const FileTree tree = SampleTree();
  WriteTree("src", tree);

  ProcessResult r = Varel({"pack", format, archive, "-C", "src", "."});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(Contains(r.out, "packed 5 files")) << r.out;

  r = Varel({"list", "-v", archive});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  for (const auto& f : tree) EXPECT_TRUE(Contains(r.out, f.first)) << f.first << "\n" << r.out;
  EXPECT_TRUE(Contains(r.out, format == "psarc" ? "first block" : "compressed")) << r.out;
  // The PSARC listing includes its name list as entry 0.
  const std::string count = format == "psarc" ? "6 entries" : "5 entries";
  EXPECT_TRUE(Contains(r.out, count)) << r.out;

  r = Varel({"list", "--json", archive});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(Contains(r.out, "\"format\": \"" + format + "\"")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\"name\": \"sub/deep/text.txt\", \"size\": 200000")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\"totals\": {\"entries\": " + count.substr(0, 1))) << r.out;

  r = Varel({"extract", archive, "-o", "out"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  FileTree back = ReadTree(At("out"));
  if (format == "psarc") {
    EXPECT_EQ(back.count("NamesBlock.bin"), 1u);
    back.erase("NamesBlock.bin");
  }
  ASSERT_EQ(back.size(), tree.size());
  for (const auto& f : tree) {
    EXPECT_TRUE(back[f.first] == f.second) << f.first << " differs after extraction";
  }

  // cat writes raw bytes: no CR LF translation, no stop at ^Z.
  r = Varel({"cat", archive, "readme.txt"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(r.out, "hello\r\nworld\x1a\n");
  // Entries are packed in name order; the PSARC name list comes first.
  r = Varel({"cat", archive, format == "psarc" ? "#3" : "#2"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(BytesOf(r.out) == tree.at("sub/deep/text.txt"));
}

INSTANTIATE_TEST_SUITE_P(Formats, VarelRoundTrip, ::testing::Values("psarc", "pkg"));

TEST_F(VarelRun, GlobsSelectWhatIsListedAndExtracted) {
  WriteTree("src", SampleTree());
  ASSERT_EQ(Varel({"pack", "pkg", "s.pkg", "-C", "src", "."}).exitCode, 0);

  ProcessResult r = Varel({"list", "s.pkg", "sub/*.txt", "*.dat"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(Contains(r.out, "sub/deep/text.txt"));
  EXPECT_TRUE(Contains(r.out, "empty.dat"));
  EXPECT_FALSE(Contains(r.out, "noise.bin"));
  EXPECT_TRUE(Contains(r.out, "2 entries"));

  r = Varel({"extract", "s.pkg", "-o", "out", "sub/*.bin"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  FileTree back = ReadTree(At("out"));
  EXPECT_EQ(back.size(), 2u);
  EXPECT_EQ(back.count("sub/noise.bin"), 1u);
  EXPECT_EQ(back.count("sub/deep/zeros.bin"), 1u);

  // A pattern that matches nothing is an error that scripts see.
  r = Varel({"list", "s.pkg", "*.none"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "no entry matches '*.none'")) << r.err;
}

TEST_F(VarelRun, HostileNamesStayInsideTheOutputFolder) {
  const std::vector<std::pair<std::string, Bytes>> entries = {
      {"../x", BytesOf("1")},
      {"/varel-e2e-abs", BytesOf("2")},
      {"C:\\x", BytesOf("3")},
      {"a\\..\\..\\b", BytesOf("4")},
      {"ctl\x01\x1b", BytesOf("5")},
      {"dup", BytesOf("6")},
      {"dup", BytesOf("7")},
      {"", BytesOf("8")},
      {"../../../../../../../../../../../../../../../../tmp/varel-e2e", BytesOf("9")},
  };
  WriteFile("in/hostile.pkg", HandBuiltPkg(entries));

  ProcessResult r = Varel({"extract", "in/hostile.pkg", "-o", "out/x"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  const FileTree expected = {
      {"out/x/x", BytesOf("1")},
      {"out/x/varel-e2e-abs", BytesOf("2")},
      {"out/x/x~2", BytesOf("3")},
      {"out/x/a/b", BytesOf("4")},
      {"out/x/ctl__", BytesOf("5")},
      {"out/x/dup", BytesOf("6")},
      {"out/x/dup~2", BytesOf("7")},
      {"out/x/unnamed-7", BytesOf("8")},
      {"out/x/tmp/varel-e2e", BytesOf("9")},
  };
  FileTree everything = ReadTree(work_.path());
  everything.erase("in/hostile.pkg");
  EXPECT_TRUE(everything == expected) << Describe(r);
  EXPECT_EQ(GetPathKind("/varel-e2e-abs"), PathKind::kMissing);
  EXPECT_TRUE(Contains(r.err, "'..' removed")) << r.err;
  EXPECT_TRUE(Contains(r.err, "entry 4 'ctl\\x01\\x1B' written as 'ctl__'")) << r.err;
  EXPECT_TRUE(Contains(r.err, "entry 6 'dup' shares its name; written as 'dup~2'")) << r.err;
  EXPECT_TRUE(Contains(r.err, "empty name")) << r.err;

  // The names show escaped in a listing, so a terminal never gets the raw control bytes.
  r = Varel({"list", "in/hostile.pkg"});
  EXPECT_TRUE(Contains(r.out, "ctl\\x01\\x1B")) << r.out;
  EXPECT_FALSE(Contains(r.out, "\x1b"));
  r = Varel({"list", "--json", "in/hostile.pkg"});
  EXPECT_TRUE(Contains(r.out, "\"name\": \"ctl\\u0001\\u001b\"")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\"name\": \"C:\\\\x\"")) << r.out;
}

// "#N" is an index up to the largest 32-bit count, on 32-bit and 64-bit builds alike;
// beyond it the text is a name.
TEST_F(VarelRun, CatTakesIndicesOfThirtyTwoBits) {
  WriteFile("i.pkg", HandBuiltPkg({{"a", BytesOf("1")}, {"b", BytesOf("2")}}));
  struct Case {
    const char* wanted;
    const char* message;
  };
  const Case cases[] = {
      {"#2", "i.pkg: no entry #2 (it has 2)"},
      {"#4294967295", "i.pkg: no entry #4294967295 (it has 2)"},
      {"#4294967296", "i.pkg: no entry named '#4294967296'"},
      {"#18446744073", "i.pkg: no entry named '#18446744073'"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Varel({"cat", "i.pkg", c.wanted});
    EXPECT_EQ(r.exitCode, 1) << c.wanted << "\n" << Describe(r);
    EXPECT_TRUE(Contains(r.err, c.message)) << c.message << "\n" << r.err;
  }
}

TEST_F(VarelRun, ExistingFilesAndSharedNamesFollowTheChosenRule) {
  WriteFile("d.pkg", HandBuiltPkg({{"dup", BytesOf("first")},
                                   {"dup", BytesOf("second")},
                                   {"solo", BytesOf("solo")}}));
  ProcessResult r = Varel({"extract", "d.pkg", "-o", "o", "--overwrite"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(ReadFile("o/dup"), BytesOf("second"));
  EXPECT_TRUE(Contains(r.err, "the later one is kept")) << r.err;

  r = Varel({"cat", "d.pkg", "dup"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(r.out, "first");
  EXPECT_TRUE(Contains(r.err, "2 entries are named 'dup'; writing #0")) << r.err;

  WriteFile("o/solo", BytesOf("mine"));
  r = Varel({"extract", "d.pkg", "-o", "o", "solo"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "exists (use --overwrite or --skip-existing)")) << r.err;
  EXPECT_EQ(ReadFile("o/solo"), BytesOf("mine"));

  r = Varel({"extract", "d.pkg", "-o", "o", "--skip-existing"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(ReadFile("o/solo"), BytesOf("mine"));
  EXPECT_EQ(ReadFile("o/dup"), BytesOf("second"));
  EXPECT_TRUE(Contains(r.out, "3 skipped")) << r.out;

  r = Varel({"extract", "d.pkg", "-o", "o", "--overwrite", "--quiet"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(ReadFile("o/solo"), BytesOf("solo"));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadTree(At("o")).size(), 2u) << "no temporary files left";
}

TEST_F(VarelRun, UnwritableOutputFolderFails) {
  WriteFile("a.pkg", HandBuiltPkg({{"f", BytesOf("x")}}));
  WriteFile("plain", BytesOf("a file, not a folder"));
  ProcessResult r = Varel({"extract", "a.pkg", "-o", "plain/out"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "plain")) << r.err;
  EXPECT_TRUE(Contains(r.err, "cannot create the folder")) << r.err;
  EXPECT_EQ(ReadFile("plain"), BytesOf("a file, not a folder"));
}

#if !defined(_WIN32)
// A write that fails part-way (here a file-size limit, as a full disk would) stops the
// run with a message and leaves neither the file nor its temporary behind.
TEST_F(VarelRun, FailedWriteStopsAndLeavesNoPartialFile) {
  WriteFile("big.pkg", HandBuiltPkg({{"big.bin", MadeBytes(300000, 3, false)},
                                     {"later.txt", BytesOf("later")}}));
  ProcessResult r = RunProcess(
      "/bin/sh", {"-c", "ulimit -f 200 && exec \"$0\" extract big.pkg -o out", VarelProgram()},
      work_.path());
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "big.bin: cannot write")) << r.err;
  EXPECT_TRUE(Contains(r.err, "stopped after 0 of 2 files")) << r.err;
  std::vector<std::string> names;
  std::string error;
  ASSERT_TRUE(ListFolder(At("out"), &names, &error)) << error;
  std::string left;
  for (const std::string& n : names) left += n + " ";
  EXPECT_TRUE(names.empty()) << "left behind: " << left;
}
#endif

TEST_F(VarelRun, TruncatedArchiveExtractsWhatIsThereAndFails) {
  for (const char* format : {"psarc", "pkg"}) {
    SCOPED_TRACE(format);
    WriteTree("src", {{"a.txt", BytesOf("first")}, {"b.bin", MadeBytes(150000, 4, false)}});
    const std::string archive = std::string("t.") + format;
    ASSERT_EQ(Varel({"pack", format, archive, "-C", "src", ".", "--overwrite"}).exitCode, 0);
    Bytes bytes = ReadFile(archive);
    bytes.resize(bytes.size() - 1000);  // cut inside the last entry
    WriteFile(archive, bytes);

    ProcessResult r = Varel({"extract", archive, "-o", std::string("out-") + format});
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    EXPECT_TRUE(Contains(r.err, "'b.bin': stored bytes cut by the end of the file")) << r.err;
    const FileTree back = ReadTree(At(std::string("out-") + format));
    EXPECT_EQ(back.count("a.txt"), 1u);
    EXPECT_EQ(back.count("b.bin"), 0u) << "no partial file";

    r = Varel({"cat", archive, "b.bin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(VarelRun, FilesThatAreNotArchivesFailClearly) {
  WriteFile("notes.txt", BytesOf("just some text, long enough to fill a header or two......."));
  WriteFile("tiny", BytesOf("P"));
  std::string error;
  ASSERT_TRUE(MakeFolder(At("folder"), &error));
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"list", "notes.txt"}, "notes.txt: not an archive the plug-in recognises"},
      {{"extract", "tiny"}, "tiny: not an archive the plug-in recognises"},
      {{"cat", "notes.txt", "#0"}, "not an archive"},
      {{"list", "missing.psarc"}, "missing.psarc: no such file"},
      {{"list", "folder"}, "folder"},
      {{"--plugin", "no-such-plugin", "list", "notes.txt"}, "cannot load no-such-plugin"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Varel(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args[0] << " " << c.args[1] << "\n" << Describe(r);
    EXPECT_TRUE(Contains(r.err, c.message)) << c.message << "\n" << r.err;
  }
  const ProcessResult r = Varel({"detect", "notes.txt"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Contains(r.out, "notes.txt: unknown")) << r.out;
  EXPECT_EQ(GetPathKind(At("tiny.out")), PathKind::kMissing) << "no folder made for a non-archive";
}

TEST_F(VarelRun, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"--bogus", "info"},
      {"--plugin"},
      {"list"},
      {"list", "a.pkg", "--colour"},
      {"list", "-h"},
      {"list", "a.pkg", "-1", "--json"},
      {"extract", "a.pkg", "-qz"},
      {"extract"},
      {"extract", "a.pkg", "--overwrite", "--skip-existing"},
      {"extract", "a.pkg", "-o"},
      {"cat", "a.pkg"},
      {"pack", "zip", "out.zip", "src"},
      {"pack", "pkg", "out.pkg"},
      {"pack", "pkg", "out.pkg", "--by-digest", "src"},
      {"pack", "pkg", "out.pkg", "--share-identical", "src"},
      {"pack", "psarc", "out.psarc", "--ignore-case", "src"},
      {"pack", "psarc", "out.psarc", "--by-digest=yes", "src"},
      {"detect"},
      {"info", "extra"},
  };
  for (const std::vector<std::string>& args : cases) {
    const ProcessResult r = Varel(args);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_EQ(r.exitCode, 2) << line << "\n" << Describe(r);
    EXPECT_FALSE(r.err.empty()) << line;
  }
}

// --help everywhere; -h too, but in list, where -h means human-readable sizes.
TEST_F(VarelRun, EveryCommandHasHelp) {
  for (const char* command : {"info", "detect", "list", "extract", "cat", "pack"}) {
    for (const char* help : {"--help", "-h"}) {
      if (std::string(command) == "list" && std::string(help) == "-h") continue;
      const ProcessResult r = Varel({command, help});
      EXPECT_EQ(r.exitCode, 0) << command << " " << help;
      EXPECT_TRUE(Contains(r.out, std::string("usage: varel ") + command)) << r.out;
    }
  }
  EXPECT_TRUE(Contains(Varel({"-h"}).out, "usage: varel [--plugin PATH]"));
}

// Where the plug-in is looked for: beside varel, and on Linux, where the package installs
// it apart, in the prefix's private folder.
TEST_F(VarelRun, HelpSaysWhereThePluginIsLookedFor) {
  const std::string help = TextOf(Varel({"--help"}).out);
  EXPECT_TRUE(Contains(help, std::string("(default: ") + PluginFileName() + " beside varel"))
      << help;
#if defined(_WIN32)
  EXPECT_TRUE(Contains(help, "beside varel)\n")) << help;
#else
  EXPECT_TRUE(Contains(help, "else PREFIX/lib/varel/arc_varel.so)\n")) << help;
#endif
}

TEST_F(VarelRun, PackRefusesWhatTheFormatCannotHold) {
  WriteFile("src/" + std::string(64, 'n'), BytesOf("long name"));
  ProcessResult r = Varel({"pack", "pkg", "long.pkg", "-C", "src", "."});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "a PKG name holds at most 63")) << r.err;
  EXPECT_EQ(GetPathKind(At("long.pkg")), PathKind::kMissing);

  // PSARC names may be longer.
  ASSERT_EQ(Varel({"pack", "psarc", "long.psarc", "-C", "src", "."}).exitCode, 0);
  r = Varel({"pack", "psarc", "long.psarc", "-C", "src", "."});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "exists (use --overwrite")) << r.err;
  // Replacing an archive that lies inside the packed tree leaves the old one out, and
  // only it: a copy of it, as large as it is, is packed.
  ASSERT_EQ(Varel({"pack", "psarc", "src/self.psarc", "-C", "src", "."}).exitCode, 0);
  WriteFile("src/copy.psarc", ReadFile("src/self.psarc"));
  r = Varel({"pack", "psarc", "src/self.psarc", "--overwrite", "src"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "src" + std::string(1, PathSeparator()) +
                                  "self.psarc: is the archive being written; left out"))
      << r.err;
  EXPECT_TRUE(Contains(r.out, "packed 2 files")) << r.out;
  EXPECT_FALSE(Contains(r.err, "copy.psarc")) << r.err;

#if !defined(_WIN32)
  // Under --ignore-case, names equal but for case would have one digest: refused, both
  // named, before anything is written. (Windows' file names cannot differ so.)
  WriteFile("cased/Read.me", BytesOf("1"));
  WriteFile("cased/READ.ME", BytesOf("2"));
  r = Varel({"pack", "psarc", "cased.psarc", "--by-digest", "--ignore-case", "cased"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(
      Contains(r.err, "'cased/READ.ME' and 'cased/Read.me': names that differ only in case"))
      << r.err;
  EXPECT_EQ(GetPathKind(At("cased.psarc")), PathKind::kMissing);
  EXPECT_EQ(Varel({"pack", "psarc", "cased.psarc", "--by-digest", "cased"}).exitCode, 0);
#endif
  // With its leading '/' a name of 255 bytes would not fit the 255 a listing gives back.
  WriteFile("full/" + std::string(250, 'f'), BytesOf("full"));
  r = Varel({"pack", "psarc", "full.psarc", "--leading-slash", "full"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "with its leading '/' its name is 256 bytes")) << r.err;
  EXPECT_EQ(Varel({"pack", "psarc", "full.psarc", "full"}).exitCode, 0);

  r = Varel({"pack", "pkg", "up.pkg", "../elsewhere"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "'..'")) << r.err;
  r = Varel({"pack", "pkg", "none.pkg", "nothing-here"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "nothing-here: no such file")) << r.err;
}

}  // namespace
