// End to end: the conventions of command-line archive tools, in the real varel binary (under
// Wine varel.exe): --version, getopt-style options, '-' for standard input and output, a
// closed pipe, output that cannot be written, and what extract selects.
#include <string>
#include <vector>

#include "tests/varel_test_support.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace {

std::string Line(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) line += a + " ";
  return line;
}

std::vector<std::string> Names(const FileTree& tree) {
  std::vector<std::string> names;
  for (const auto& f : tree) names.push_back(f.first);
  return names;
}

class VarelConventions : public VarelRun {
 protected:
  void SetUp() override {
    VarelRun::SetUp();
    WriteTree("src", SampleTree());
    ASSERT_EQ(Varel({"pack", "pkg", "t.pkg", "-q", "-C", "src", "."}).exitCode, 0);
    archive_ = ReadFile("t.pkg");
    // Whatever varel copies or builds on the side goes here, and must be gone after.
    UseTemporaryFolder("tmp");
  }

  std::vector<std::string> TemporaryFilesLeft() {
    std::vector<std::string> names;
    std::string error;
    EXPECT_TRUE(ListFolder(At("tmp"), &names, &error)) << error;
    return names;
  }

  ProcessStreams FromPipe() const {
    ProcessStreams s;
    s.pipeInput = true;
    s.input.assign(archive_.begin(), archive_.end());
    return s;
  }

  Bytes archive_;
};

TEST_F(VarelConventions, VersionNamesVarelAndThePluginItLoads) {
  ProcessResult r = Varel({"--version"});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(r.out.compare(0, 6, "varel "), 0) << r.out;
  const std::string info = TextOf(Varel({"info"}).out);
  const size_t v = info.find("version: ");
  ASSERT_NE(v, std::string::npos) << info;
  const std::string version = info.substr(v + 9, info.find('\n', v) - v - 9);
  EXPECT_TRUE(Contains(r.out, PluginFileName())) << r.out;
  EXPECT_TRUE(Contains(TextOf(r.out), "Varel Archive " + version + ")\n")) << r.out;

  r = Varel({"--plugin", "no-such-plugin", "--version"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "cannot load no-such-plugin")) << r.err;
}

// Each row: the same request spelled another way, and the folder its files land in.
TEST_F(VarelConventions, ShortOptionsBundleAndTakeTheirValuesAttached) {
  struct Case {
    std::vector<std::string> args;
    const char* folder;
    bool quiet;
  };
  const Case cases[] = {
      {{"extract", "t.pkg", "-q", "-o", "a"}, "a", true},
      {{"extract", "t.pkg", "-qo", "b"}, "b", true},
      {{"extract", "t.pkg", "-qoc"}, "c", true},
      {{"extract", "t.pkg", "-od"}, "d", false},
      {{"extract", "-vqo", "e", "t.pkg"}, "e", true},
      {{"extract", "t.pkg", "--output=f", "-q"}, "f", true},
      {{"extract", "t.pkg", "-vo", "g"}, "g", false},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Varel(c.args);
    SCOPED_TRACE(Line(c.args));
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_EQ(Names(ReadTree(At(c.folder))), Names(SampleTree()));
    EXPECT_EQ(r.out.empty(), c.quiet) << r.out;
  }
  // -v prints each file written.
  EXPECT_TRUE(Contains(Varel({"extract", "t.pkg", "-vo", "h"}).out, "readme.txt"));

  ProcessResult r = Varel({"pack", "psarc", "j.psarc", "-qj2", "-Csrc", "."});
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(r.out, "");
  r = Varel({"list", "-1", "j.psarc", "sub/deep"});
  EXPECT_EQ(TextOf(r.out), "sub/deep/text.txt\nsub/deep/zeros.bin\n") << Describe(r);

  struct Refused {
    std::vector<std::string> args;
    const char* message;
  };
  const Refused refused[] = {
      {{"extract", "t.pkg", "-qx"}, "unknown option '-x'"},
      {{"extract", "t.pkg", "-qo"}, "-o needs a value"},
      {{"pack", "pkg", "x.pkg", "-qjx", "src"}, "--jobs takes a number"},
      {{"list", "-1", "--json", "t.pkg"}, "--json and --names exclude each other"},
  };
  for (const Refused& c : refused) {
    const ProcessResult refusal = Varel(c.args);
    EXPECT_EQ(refusal.exitCode, 2) << Line(c.args) << "\n" << Describe(refusal);
    EXPECT_TRUE(Contains(refusal.err, c.message)) << Line(c.args) << "\n" << refusal.err;
  }
}

// Standard input reaches the plug-in as a file: through a pipe, copied first.
TEST_F(VarelConventions, StandardInputServesAsTheArchive) {
  ProcessResult r = Varel({"list", "-1", "-"}, FromPipe());
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(TextOf(r.out),
            "empty.dat\nreadme.txt\nsub/deep/text.txt\nsub/deep/zeros.bin\nsub/noise.bin\n");

  r = Varel({"list", "--json", "-"}, FromPipe());
  EXPECT_TRUE(Contains(r.out, "\"archive\": \"-\"")) << r.out;

  r = Varel({"cat", "-", "readme.txt"}, FromPipe());
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(r.out, "hello\r\nworld\x1a\n");

  r = Varel({"extract", "-", "-o", "out"}, FromPipe());
  ASSERT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(ReadTree(At("out")) == SampleTree());

  // With no -o, standard input extracts into the current folder.
  std::string error;
  ASSERT_TRUE(MakeFolder(At("here"), &error)) << error;
  const ProcessResult here =
      RunProcess(VarelProgram(), {"extract", "-", "-q", "sub/deep"}, At("here"), FromPipe());
  ASSERT_EQ(here.exitCode, 0) << Describe(here);
  EXPECT_EQ(Names(ReadTree(At("here"))),
            (std::vector<std::string>{"sub/deep/text.txt", "sub/deep/zeros.bin"}));

  // What is not an archive is still named as such, and an empty input too.
  ProcessStreams text;
  text.pipeInput = true;
  text.input = "just some text, long enough to fill a header or two......................";
  r = Varel({"list", "-"}, text);
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "-: not an archive the plug-in recognises")) << r.err;
  ProcessStreams empty;
  empty.pipeInput = true;
  r = Varel({"cat", "-", "#0"}, empty);
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "not an archive")) << r.err;

  EXPECT_TRUE(TemporaryFilesLeft().empty()) << TemporaryFilesLeft().front();
}

TEST_F(VarelConventions, PackWritesTheArchiveToStandardOutput) {
  for (const char* format : {"psarc", "pkg"}) {
    SCOPED_TRACE(format);
    const std::string file = std::string("file.") + format;
    ASSERT_EQ(Varel({"pack", format, file, "-C", "src", "."}).exitCode, 0);
    const ProcessResult r = Varel({"pack", format, "-", "-C", "src", "."});
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    // Byte for byte the archive written to a file: no text-mode translation on Windows.
    EXPECT_TRUE(BytesOf(r.out) == ReadFile(file));
    EXPECT_TRUE(Contains(r.err, "packed 5 files")) << r.err;
    EXPECT_EQ(GetPathKind(At("-")), PathKind::kMissing);
  }
  EXPECT_TRUE(TemporaryFilesLeft().empty()) << TemporaryFilesLeft().front();
}

// A reader that stops reading is no error: varel ends as a filter does, saying nothing,
// with its temporary files gone (the copy of standard input, the archive for stdout).
TEST_F(VarelConventions, ClosedPipeEndsQuietly) {
  WriteFile("big.pkg", HandBuiltPkg({{"big.bin", MadeBytes(1 << 20, 3, false)}}));
  struct Case {
    std::vector<std::string> args;
    bool fromPipe;
  };
  const Case cases[] = {
      {{"cat", "big.pkg", "big.bin"}, false},
      {{"cat", "-", "sub/deep/text.txt"}, true},
      {{"list", "t.pkg"}, false},
      {{"list", "-", "--json"}, true},
      {{"test", "t.pkg", "-v"}, false},
      {{"test", "-", "--json"}, true},
      {{"pack", "psarc", "-", "src"}, false},
      {{"info"}, false},
      {{"detect", "t.pkg"}, false},
      {{"--version"}, false},
      {{"--help"}, false},
      {{"list", "--help"}, false},
      {{"extract", "-h"}, false},
  };
  for (const Case& c : cases) {
    ProcessStreams streams = c.fromPipe ? FromPipe() : ProcessStreams();
    streams.output = ProcessStreams::Output::kClosedPipe;
    const ProcessResult r = Varel(c.args, streams);
    SCOPED_TRACE(Line(c.args));
#if defined(_WIN32)
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
#else
    EXPECT_EQ(r.exitCode, 128 + SIGPIPE) << Describe(r);
#endif
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(TemporaryFilesLeft().empty()) << TemporaryFilesLeft().front();
  }
}

// Output that cannot be written fails every command, with a message.
TEST_F(VarelConventions, OutputThatCannotBeWrittenFails) {
  const std::vector<std::vector<std::string>> cases = {
      {"info"},
      {"detect", "t.pkg"},
      {"list", "t.pkg"},
      {"list", "-1", "t.pkg"},
      {"list", "--json", "t.pkg"},
      {"cat", "t.pkg", "sub/noise.bin"},
      {"extract", "t.pkg", "-o", "out"},
      {"test", "t.pkg"},
      {"pack", "pkg", "-", "src"},
      {"--version"},
      {"--help"},
      {"help", "cat"},
      {"info", "--help"},
      {"detect", "-h"},
      {"list", "--help"},
      {"pack", "--help"},
  };
  ProcessStreams failing;
  failing.output = ProcessStreams::Output::kFailing;
  for (const std::vector<std::string>& args : cases) {
    const ProcessResult r = Varel(args, failing);
    SCOPED_TRACE(Line(args));
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    EXPECT_TRUE(Contains(r.err, "cannot write to stdout")) << r.err;
    EXPECT_EQ(r.err.find("cannot write"), r.err.rfind("cannot write")) << "said once\n" << r.err;
  }
  EXPECT_TRUE(TemporaryFilesLeft().empty()) << TemporaryFilesLeft().front();
}

// A pattern selects entries by name, by a folder they lie in, or by index; nothing
// selected makes nothing, not even the output folder.
TEST_F(VarelConventions, ExtractSelectsByNameFolderOrIndex) {
  struct Case {
    std::vector<std::string> patterns;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {{"#1"}, {"readme.txt"}},
      {{"sub/deep"}, {"sub/deep/text.txt", "sub/deep/zeros.bin"}},
      {{"sub/"}, {"sub/deep/text.txt", "sub/deep/zeros.bin", "sub/noise.bin"}},
      {{"s*/d??p"}, {"sub/deep/text.txt", "sub/deep/zeros.bin"}},
      {{"#0", "sub/deep/"}, {"empty.dat", "sub/deep/text.txt", "sub/deep/zeros.bin"}},
      {{"*.bin", "#4"}, {"sub/deep/zeros.bin", "sub/noise.bin"}},
      {{"su"}, {}},
      {{"sub/dee"}, {}},
      {{"readme.txt/"}, {}},
      {{"#5"}, {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string folder = "out" + std::to_string(n++);
    std::vector<std::string> args = {"extract", "t.pkg", "-o", folder};
    args.insert(args.end(), c.patterns.begin(), c.patterns.end());
    const ProcessResult r = Varel(args);
    SCOPED_TRACE(Line(args));
    EXPECT_EQ(r.exitCode, c.files.empty() ? 1 : 0) << Describe(r);
    EXPECT_EQ(Names(ReadTree(At(folder))), c.files);
    if (c.files.empty()) {
      EXPECT_EQ(GetPathKind(At(folder)), PathKind::kMissing) << "nothing selected, nothing made";
      EXPECT_TRUE(Contains(r.err, "no entry matches '" + c.patterns[0] + "'")) << r.err;
    }
  }
  // The default folder is not made either.
  EXPECT_EQ(Varel({"extract", "t.pkg", "nothing*"}).exitCode, 1);
  EXPECT_EQ(GetPathKind(At("t")), PathKind::kMissing);
}

// The name last, so that no name moves another column; the index, offset and details with
// -v; sizes for people with -h; names alone with -1.
TEST_F(VarelConventions, ListPutsTheNameLast) {
  WriteFile("l.pkg", HandBuiltPkg({{"a.txt", BytesOf("hello")},
                                   {"dir/b.bin", Bytes(2000, 'b')},
                                   {"caf\xE9.txt", BytesOf("z")}}));
  const std::string totals =
      "3 entries, 2006 bytes (2.0 KiB), packed 2006 bytes (2.0 KiB), 100.0%\n";
  struct Case {
    std::vector<std::string> options;
    std::string expected;
  };
  const Case cases[] = {
      {{},
       "size  packed   ratio  name\n"
       "   5       5  100.0%  a.txt\n"
       "2000    2000  100.0%  dir/b.bin\n"
       "   1       1  100.0%  caf\xC3\xA9.txt\n" +
           totals},
      {{"-v"},
       "index  size  packed   ratio  offset  details  name\n"
       "    0     5       5  100.0%     248  stored   a.txt\n"
       "    1  2000    2000  100.0%     253  stored   dir/b.bin\n"
       "    2     1       1  100.0%    2253  stored   caf\xC3\xA9.txt\n" +
           totals},
      {{"-h"},
       "   size   packed   ratio  name\n"
       "    5 B      5 B  100.0%  a.txt\n"
       "2.0 KiB  2.0 KiB  100.0%  dir/b.bin\n"
       "    1 B      1 B  100.0%  caf\xC3\xA9.txt\n" +
           totals},
      {{"--names"}, "a.txt\ndir/b.bin\ncaf\xC3\xA9.txt\n"},
      {{"-1", "dir"}, "dir/b.bin\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"list", "l.pkg"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ProcessResult r = Varel(args);
    EXPECT_EQ(r.exitCode, 0) << Line(args) << "\n" << Describe(r);
    EXPECT_EQ(TextOf(r.out), c.expected) << Line(args);
  }
}

#if !defined(_WIN32)

// A FIFO named as the archive is read as standard input is, never refused.
TEST_F(VarelConventions, FifoNamedAsTheArchiveIsCopiedFirst) {
  ASSERT_EQ(mkfifo(At("fifo").c_str(), 0600), 0);
  const ProcessResult r = RunProcess(
      "/bin/sh", {"-c", "cat t.pkg > fifo & exec \"$0\" cat fifo readme.txt", VarelProgram()},
      work_.path());
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(r.out, "hello\r\nworld\x1a\n");
  EXPECT_TRUE(TemporaryFilesLeft().empty()) << TemporaryFilesLeft().front();
}

// Ctrl-C while standard input is being copied: the copy goes. The pipe stays open, so the
// copy is certainly under way when the signal comes.
TEST_F(VarelConventions, InterruptWhileCopyingStandardInputLeavesNothing) {
  for (const char* command : {"list", "test"}) {
    SCOPED_TRACE(command);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = SpawnVarel({command, "-"}, work_.path(), fds[0]);
    close(fds[0]);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(write(fds[1], archive_.data(), 1000), 1000);
    const Interrupted r = InterruptWhen(
        pid, SIGINT, [&] { return !VarelTemporaries(At("tmp")).empty(); }, 10);
    close(fds[1]);
    EXPECT_TRUE(r.ready);
    ASSERT_TRUE(r.reaped);
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGINT) << r.status;
    EXPECT_TRUE(TemporaryFilesLeft().empty()) << TemporaryFilesLeft().front();
  }
}

// Ctrl-C while an extracted file is being written: its temporary goes, the files finished
// before it stay. The child is stopped once a temporary file shows, and interrupted only
// if the file is still there; otherwise it goes on to the next entry.
TEST_F(VarelConventions, InterruptMidExtractLeavesNoTemporaryFile) {
  std::vector<std::pair<std::string, Bytes>> entries;
  for (int i = 0; i < 32; ++i) {
    entries.push_back({"part" + std::to_string(100 + i), Bytes(2 << 20, static_cast<uint8_t>(i))});
  }
  WriteFile("parts.pkg", HandBuiltPkg(entries));
  entries.clear();
  const pid_t pid = SpawnVarel({"extract", "parts.pkg", "-o", "out"}, work_.path(), -1);
  ASSERT_GT(pid, 0);
  bool interrupted = false;
  bool ended = false;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!interrupted && !ended && std::chrono::steady_clock::now() < deadline) {
    if (VarelTemporaries(At("out")).empty()) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      continue;
    }
    kill(pid, SIGSTOP);
    ended = waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status);
    interrupted = !ended && !VarelTemporaries(At("out")).empty();
    if (interrupted) kill(pid, SIGINT);
    if (!ended) kill(pid, SIGCONT);
  }
  if (!ended) {
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
  }
  ASSERT_TRUE(interrupted) << "no temporary file caught while it was written";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_TRUE(VarelTemporaries(At("out")).empty()) << VarelTemporaries(At("out")).front();
  for (const auto& f : ReadTree(At("out"))) EXPECT_EQ(f.second.size(), 2u << 20) << f.first;
}

#endif

}  // namespace
