// End to end: varel pack streaming its archive into a temporary file, on several threads,
// under a memory ceiling, and leaving nothing behind when it fails or is interrupted.
#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bytes/byte_order.h"
#include "tests/support/psarc_test_support.h"
#include "tests/varel_test_support.h"
#include "tools/os/interrupt_cleanup.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace {

// Files on the edges of blocks and of the pieces handed to threads (64 KiB), files of
// several pieces and of nothing at all, and many small ones. Collected in this order by varel
// (names sorted in each folder) and by the map.
FileTree EdgeTree() {
  FileTree t;
  t["empty"] = Bytes();
  t["exact"] = MadeBytes(65536, 1, true);
  t["noise"] = MadeBytes(300000, 2, false);
  t["pieces"] = MadeBytes(2 * 262144 + 1, 3, true);
  for (int i = 0; i < 60; ++i) {
    t["small/" + std::string(1, static_cast<char>('0' + i / 10)) +
      static_cast<char>('0' + i % 10)] =
        MadeBytes(static_cast<size_t>(i) * 37, static_cast<uint32_t>(i), i % 2 == 0);
  }
  t["zeros"] = Bytes(70000, 0);
  return t;
}

std::vector<ArchiveInput> InputsOf(const FileTree& tree) {
  std::vector<ArchiveInput> inputs;
  for (const auto& f : tree) inputs.push_back({f.first, f.second});
  return inputs;
}

TEST_F(VarelRun, PackGivesOneArchiveForEveryNumberOfJobs) {
  const FileTree tree = EdgeTree();
  WriteTree("src", tree);
  for (const std::string format : {"psarc", "pkg"}) {
    const Bytes expected = format == "pkg" ? PackPkg(InputsOf(tree)) : PackPsarc(InputsOf(tree));
    for (const std::string jobs : {"1", "2", "3"}) {
      const std::string out = "j" + jobs + "." + format;
      const ProcessResult r = Varel({"pack", format, out, "-C", "src", "--jobs", jobs, "."});
      ASSERT_EQ(r.exitCode, 0) << Describe(r);
      EXPECT_TRUE(ReadFile(out) == expected) << format << " with " << jobs << " jobs";
    }
  }
  EXPECT_EQ(Varel({"pack", "pkg", "x.pkg", "-j", "0", "src"}).exitCode, 2);
  EXPECT_EQ(Varel({"pack", "pkg", "x.pkg", "--jobs=many", "src"}).exitCode, 2);
}

// The lines of varel's text output.
std::vector<std::string> LinesOf(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream text(TextOf(out));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

// Every PSARC layout option, round trip through the real plug-in: packed on 8 threads (the
// same archive as on one), its header flags and table order, listed under the names given
// (with their '/' when asked), list -v's last line, extracted under those names with those
// contents. Files of equal contents, many of them, so that sharing is visible in the size.
TEST_F(VarelRun, PackLayoutOptionsRoundTripThroughThePlugin) {
  FileTree tree = EdgeTree();
  tree["copy/noise"] = tree["noise"];
  tree["copy/empty"] = Bytes();
  for (int i = 0; i < 150; ++i) {
    tree["many/" + std::to_string(i) + ".txt"] = BytesOf("line " + std::to_string(i % 50));
  }
  WriteTree("src", tree);
  struct Case {
    const char* what;
    std::vector<std::string> options;
    uint32_t flags;
    const char* naming;  // list -v's last line, or nullptr for the totals
  };
  const Case cases[] = {
      {"first layout", {}, 0, nullptr},
      {"by digest", {"--by-digest"}, 0x0C, "names found by digest (header flags 0x0c)"},
      {"ignoring case",
       {"--by-digest", "--ignore-case"},
       0x0D,
       "names found by digest, ignoring case (header flags 0x0d)"},
      {"leading slash", {"--leading-slash"}, 0x02, nullptr},
      {"shared", {"--share-identical"}, 0, nullptr},
      {"all of them",
       {"--share-identical", "--leading-slash", "--ignore-case", "--by-digest"},
       0x0F,
       "names found by digest, ignoring case (header flags 0x0f)"},
  };
  std::map<std::string, size_t> sizes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = std::string(c.what) + ".psarc";
    std::vector<std::string> args = {"pack", "psarc", out, "-q", "-C", "src"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    for (const std::string jobs : {"8", "1"}) {
      std::vector<std::string> run = args;
      run.insert(run.end(), {"--overwrite", "-j", jobs, "."});
      const ProcessResult r = Varel(run);
      ASSERT_EQ(r.exitCode, 0) << Describe(r);
      EXPECT_EQ(r.out + r.err, "");
      if (jobs == "8") WriteFile(out + ".j8", ReadFile(out));
    }
    const Bytes archive = ReadFile(out);
    EXPECT_TRUE(archive == ReadFile(out + ".j8")) << "-j 8 and -j 1 differ";
    sizes[c.what] = archive.size();
    if (c.options.empty()) {
      EXPECT_TRUE(archive == PackPsarc(InputsOf(tree))) << "the default layout changed";
    }
    ASSERT_GT(archive.size(), 32u);
    EXPECT_EQ(be32(archive.data() + 28), c.flags);
    const uint32_t rows = be32(archive.data() + 20);
    ASSERT_EQ(rows, tree.size() + 1);
    for (uint32_t row = 2; row < rows && (c.flags & 0x04) != 0; ++row) {
      EXPECT_LT(std::memcmp(&archive[32 + 30 * (row - 1)], &archive[32 + 30 * row], 16), 0) << row;
    }

    const bool slash = (c.flags & 0x02) != 0;
    std::vector<std::string> expected = {"NamesBlock.bin"};
    for (const auto& f : tree) expected.push_back((slash ? "/" : "") + f.first);
    std::vector<std::string> names = LinesOf(Varel({"list", "-1", out}).out);
    std::sort(expected.begin(), expected.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);

    const ProcessResult listed = Varel({"list", "-v", out});
    EXPECT_EQ(listed.exitCode, 0) << Describe(listed);
    const std::vector<std::string> lines = LinesOf(listed.out);
    ASSERT_FALSE(lines.empty());
    if (c.naming != nullptr) {
      EXPECT_EQ(lines.back(), c.naming);
    } else {
      EXPECT_TRUE(Contains(lines.back(), std::to_string(rows) + " entries, ")) << lines.back();
    }
    EXPECT_FALSE(Contains(Varel({"list", out}).out, "names found")) << "only with -v";

    const ProcessResult r = Varel({"extract", out, "-o", out + ".out", "-j", "8"});
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_EQ(TextOf(r.err), slash ? "varel extract: leading '/' removed from entry names\n" : "");
    FileTree back = ReadTree(At(out + ".out"));
    back.erase("NamesBlock.bin");
    EXPECT_TRUE(back == tree) << back.size() << " files of " << tree.size();
  }
  // The copy of 300,000 noise bytes and 250 of the small files are stored once.
  EXPECT_LT(sizes["shared"] + 300000, sizes["first layout"]);
  EXPECT_LT(sizes["all of them"] + 300000, sizes["by digest"]);
}

// Names that begin with '/' (header flag 0x02), more than eight jobs hold at once: extract
// says once that the '/' was removed, with -q too (-q silences progress and the summary, not
// notes). The plan's own test says it once for thousands.
TEST_F(VarelRun, ExtractSaysOnceThatLeadingSlashesWereRemoved) {
  std::vector<ArchiveInput> inputs;
  for (int i = 0; i < 600; ++i) {
    inputs.push_back({"d" + std::to_string(i % 7) + "/" + std::to_string(i), BytesOf("x")});
  }
  PsarcWriterOptions options;
  options.leadingSlash = true;
  options.jobs = 2;
  Bytes archive;
  std::string error;
  ASSERT_TRUE(WritePsarc(inputs, options, &archive, &error)) << error;
  WriteFile("slash.psarc", archive);
  const std::string note = "varel extract: leading '/' removed from entry names\n";
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "-q" : "without -q");
    const std::string folder = quiet ? "quiet" : "loud";
    const ProcessResult r = quiet ? Varel({"extract", "slash.psarc", "-q", "-j8", "-o", folder})
                                  : Varel({"extract", "slash.psarc", "-j8", "-o", folder});
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_EQ(TextOf(r.err), note);
    EXPECT_EQ(r.out.empty(), quiet) << r.out;
    EXPECT_EQ(ReadTree(At(folder)).size(), inputs.size() + 1);
    EXPECT_TRUE(ReadFile(folder + "/d4/599") == BytesOf("x"));
  }
}

TEST_F(VarelRun, PackIntoAMissingFolderFailsBeforeReadingAnything) {
  WriteFile("src/a.txt", BytesOf("a"));
  for (const char* format : {"psarc", "pkg"}) {
    const ProcessResult r = Varel({"pack", format, "missing/out.pkg", "src"});
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    EXPECT_TRUE(Contains(r.err, "the folder missing does not exist")) << r.err;
    EXPECT_EQ(GetPathKind(At("missing")), PathKind::kMissing);
  }
  // A file in the way of the folder is no folder either.
  WriteFile("file", BytesOf("x"));
  const ProcessResult r = Varel({"pack", "pkg", "file/out.pkg", "src"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "the folder file does not exist")) << r.err;
}

// What an interrupt handler does, on the real file calls of each platform: a temporary
// file still open for writing is removed (on Windows once its handle is closed), so that
// the archive it would have become never appears.
TEST_F(VarelRun, InterruptRemovesTheOpenTemporaryFile) {
  COutputFile out;
  std::string error;
  ASSERT_TRUE(out.Open(work_.path(), "archive.psarc", &error)) << error;
  const Bytes data = MadeBytes(100000, 4, false);
  ASSERT_TRUE(out.WriteAt(0, data.data(), data.size(), &error)) << error;
  RemoveWatchedFiles();
  EXPECT_FALSE(out.Commit(false, &error));
  out.Abandon();
  std::vector<std::string> left;
  ASSERT_TRUE(ListFolder(work_.path(), &left, &error)) << error;
  EXPECT_TRUE(left.empty()) << left.front();
}

// The same for far more files than a run of many jobs holds at once: every one is watched,
// so every one goes.
TEST_F(VarelRun, InterruptRemovesThousandsOfTemporaryFiles) {
  constexpr size_t kFiles = 2000;
  std::vector<std::unique_ptr<COutputFile>> files;
  std::string error;
  for (size_t i = 0; i < kFiles; ++i) {
    files.emplace_back(new COutputFile);
    ASSERT_TRUE(files.back()->Open(work_.path(), "f" + std::to_string(i), &error)) << error;
    ASSERT_TRUE(files.back()->Write("x", 1, &error)) << error;
    ASSERT_TRUE(files.back()->FinishWriting(&error)) << error;  // closed, as staged files are
  }
  RemoveWatchedFiles();
  std::vector<std::string> left;
  ASSERT_TRUE(ListFolder(work_.path(), &left, &error)) << error;
  EXPECT_EQ(left.size(), 0u) << left.front();
  files.clear();
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)

// Runs varel under limits set by the shell: ulimit -v caps the address space (KiB), -f
// the size of files written (blocks of 1 KiB).
ProcessResult VarelLimited(const std::string& folder, const std::string& limits,
                           const std::vector<std::string>& args) {
  std::vector<std::string> shell = {"-c", limits + "; exec \"$0\" \"$@\"", VarelProgram()};
  shell.insert(shell.end(), args.begin(), args.end());
  return RunProcess("/bin/sh", shell, folder);
}

// 320 MiB of input (a sparse file: no disk, quick to read) through a process that may use
// 128 MiB of address space, code, libraries and thread stacks included: a pack that held
// its input or its archive in memory cannot run.
TEST_F(VarelRun, PackStreamsUnderAMemoryCeiling) {
  if (RunsUnderAnI386Emulator()) {
    GTEST_SKIP() << "qemu-user needs more address space than the ceiling leaves; the 64-bit "
                    "build and i386 kernels run this case";
  }
  const uint64_t size = uint64_t{320} << 20;
  std::string error;
  ASSERT_TRUE(MakeSparseFile(At("big.bin"), size, &error)) << error;
  WriteFile("text.txt", MadeBytes(1 << 20, 5, true));
  for (const char* format : {"psarc", "pkg"}) {
    const std::string out = std::string("big.") + format;
    const ProcessResult r = VarelLimited(work_.path(), "ulimit -v 131072",
                                         {"pack", format, out, "-j", "2", "big.bin", "text.txt"});
    ASSERT_EQ(r.exitCode, 0) << Describe(r);
    const ProcessResult listed = Varel({"list", "--json", out});
    EXPECT_TRUE(Contains(listed.out, "\"name\": \"big.bin\", \"size\": 335544320")) << listed.out;
  }
}

TEST_F(VarelRun, PackThatCannotWriteLeavesNothingBehind) {
  WriteFile("noise.bin", MadeBytes(1 << 20, 6, false));
  for (const char* format : {"psarc", "pkg"}) {
    const ProcessResult r =
        VarelLimited(work_.path(), "ulimit -f 64", {"pack", format, "out.a", "noise.bin"});
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    EXPECT_TRUE(Contains(r.err, "cannot write")) << r.err;
    std::vector<std::string> left;
    std::string error;
    ASSERT_TRUE(ListFolder(work_.path(), &left, &error)) << error;
    EXPECT_EQ(left, std::vector<std::string>{"noise.bin"});
  }
}

// A real varel child stopped by SIGINT (Ctrl-C) or SIGTERM once its temporary file exists.
TEST_F(VarelRun, InterruptedPackLeavesNothingBehind) {
  std::string error;
  ASSERT_TRUE(MakeSparseFile(At("big.bin"), uint64_t{1} << 30, &error)) << error;
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string folder = work_.path();
    const pid_t pid = SpawnVarel({"pack", "psarc", "out.psarc", "big.bin"}, folder);
    ASSERT_GT(pid, 0);
    // Wait (at most 10 s) for the temporary file, then interrupt.
    const Interrupted r = InterruptWhen(
        pid, signal,
        [&] {
          std::vector<std::string> names;
          ListFolder(folder, &names, &error);
          return names.size() > 1;
        },
        10);
    EXPECT_TRUE(r.ready);
    ASSERT_TRUE(r.reaped);
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == signal) << r.status;
    std::vector<std::string> left;
    ASSERT_TRUE(ListFolder(folder, &left, &error)) << error;
    EXPECT_EQ(left, std::vector<std::string>{"big.bin"});
  }
}

#endif

}  // namespace
