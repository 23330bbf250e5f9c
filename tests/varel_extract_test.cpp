// End to end: varel extract decoding on several threads while it writes in archive order,
// and leaving nothing behind when it is interrupted.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/psarc_test_support.h"
#include "tests/varel_test_support.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace {

// Entries of many sizes, some of several 64 KiB blocks, so that threads finish out of order;
// names that two entries share on Windows (case) or everywhere (the PKG's hand-made ones).
std::vector<ArchiveInput> MixedInputs() {
  std::vector<ArchiveInput> inputs;
  for (int i = 0; i < 40; ++i) {
    const size_t size = static_cast<size_t>((i * 7919) % 300000);
    inputs.push_back({"group" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin",
                      MadeBytes(size, static_cast<uint32_t>(i), i % 3 != 0)});
  }
  inputs.push_back({"Case.txt", BytesOf("upper")});
  inputs.push_back({"case.txt", BytesOf("lower")});
  inputs.push_back({"empty", Bytes()});
  return inputs;
}

// What one run of varel left: its exit code, its output and the tree it wrote.
struct RunOutcome {
  int exitCode;
  std::string out;
  std::string err;
  FileTree tree;
};

// An archive of the later layout, names sorted and found by digest, identical contents
// stored once: every file comes out under its own name, with its own contents. (Names
// that differ only in case have one upper-cased digest, which cannot tell them apart:
// "case.txt" is left out.)
TEST_F(VarelRun, ExtractWritesTheLaterLayoutUnderItsNames) {
  std::vector<ArchiveInput> inputs = MixedInputs();
  inputs.erase(inputs.begin() + 41);
  ASSERT_EQ(inputs[40].name, "Case.txt");
  FileTree expected;
  for (const ArchiveInput& in : inputs) expected[in.name] = in.data;
  for (bool leadingSlash : {false, true}) {
    SCOPED_TRACE(leadingSlash ? "names with '/'" : "names");
    PsarcWriterOptions options;
    options.tocByDigest = true;
    options.zeroSeparated = true;
    options.upperCaseDigests = true;
    options.leadingSlash = leadingSlash;
    options.shareIdentical = true;
    Bytes archive;
    std::string error;
    ASSERT_TRUE(WritePsarc(inputs, options, &archive, &error)) << error;
    const std::string name = leadingSlash ? "slash.psarc" : "later.psarc";
    WriteFile(name, archive);
    const ProcessResult r = Varel({"extract", name, "-q", "-o", name + ".out"});
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    FileTree back = ReadTree(At(name + ".out"));
    back.erase("NamesBlock.bin");
    EXPECT_TRUE(back == expected) << back.size() << " files";
  }
}

// For every archive, extracting with 1, 2 and 3 jobs gives the same files, names, messages
// and exit code; so does extracting it again over what the first run wrote (every file
// exists), and so does a damaged copy. Each run has a folder of its own with the archive
// in it, so that even the paths in the messages are the same.
TEST_F(VarelRun, ExtractIsTheSameForEveryNumberOfJobs) {
  const std::vector<ArchiveInput> inputs = MixedInputs();
  const Bytes psarc = PackPsarc(inputs);
  Bytes cut = psarc;
  cut.resize(cut.size() * 2 / 3);
  const std::vector<std::pair<std::string, Bytes>> archives = {
      {"a.psarc", psarc},
      {"a.pkg", PackPkg(inputs)},
      {"cut.psarc", cut},
      {"names.pkg", HandBuiltPkg({{"dup", MadeBytes(90000, 1, true)},
                                  {"../dup", BytesOf("2")},
                                  {"DUP", MadeBytes(200000, 3, false)},
                                  {"", BytesOf("4")},
                                  {"sub", BytesOf("a file where a folder goes")},
                                  {"sub/x", BytesOf("6")}})},
  };
  for (const auto& archive : archives) {
    SCOPED_TRACE(archive.first);
    std::vector<RunOutcome> outcomes;
    for (const std::string jobs : {"1", "2", "3"}) {
      const std::string folder = At(archive.first + "-j" + jobs);
      WriteFile(archive.first + "-j" + jobs + "/" + archive.first, archive.second);
      for (int round = 0; round < 2; ++round) {
        const ProcessResult r = RunProcess(
            VarelProgram(), {"extract", archive.first, "-o", "out", "-v", "-j", jobs}, folder);
        ASSERT_TRUE(r.started) << r.error;
        outcomes.push_back({r.exitCode, r.out, r.err, ReadTree(JoinPath(folder, "out"))});
      }
    }
    for (size_t k = 2; k < outcomes.size(); ++k) {
      const RunOutcome& first = outcomes[k % 2];
      EXPECT_EQ(outcomes[k].exitCode, first.exitCode) << "run " << k;
      EXPECT_EQ(outcomes[k].out, first.out) << "run " << k;
      EXPECT_EQ(outcomes[k].err, first.err) << "run " << k;
      EXPECT_TRUE(outcomes[k].tree == first.tree) << "run " << k;
    }
    // The runs did what they should: the first extracts, the second meets existing files.
    EXPECT_EQ(outcomes[0].exitCode, archive.first == "cut.psarc" ? 1 : 0) << outcomes[0].err;
    EXPECT_EQ(outcomes[1].exitCode, 1);
    EXPECT_NE(outcomes[1].err.find("exists (use --overwrite"), std::string::npos);
  }
  const ProcessResult r = Varel({"extract", "x.pkg", "-j", "0"});
  EXPECT_EQ(r.exitCode, 2) << Describe(r);
  EXPECT_NE(r.err.find("--jobs takes a number from 1 to"), std::string::npos) << r.err;
}

#if !defined(_WIN32)

// A PKG of `count` stored entries of `size` zero bytes each, written as a sparse file: no
// disk, quick to read, and every entry takes a while to write out.
void WriteSparsePkg(const std::string& path, uint32_t count, uint32_t size) {
  CByteWriter w;
  w.Le32(0);      // reserved
  w.Le32(count);  // entryCount
  for (uint32_t i = 0; i < count; ++i) {
    const std::string name = "part" + std::to_string(i);
    w.Text(name);
    w.Zeros(64 - name.size());          // name
    w.Le32(size);                       // size
    w.Le32(size);                       // packedSize
    w.Le32(8 + 80 * count + i * size);  // offset
    w.Le32(0);                          // stored
  }
  std::string error;
  ASSERT_TRUE(MakeSparseFile(path, 8 + 80 * uint64_t{count} + uint64_t{count} * size, &error))
      << error;
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(pwrite(fd, w.bytes().data(), w.bytes().size(), 0),
            static_cast<ssize_t>(w.bytes().size()));
  close(fd);
}

// Ctrl-C in the middle of extract -j 8 on thousands of entries, with more temporary files
// staged at once than any small fixed number of watch slots: every one of them goes.
TEST_F(VarelRun, InterruptedExtractWithManyJobsLeavesNoTemporaryFile) {
  std::vector<std::pair<std::string, Bytes>> entries;
  for (int i = 0; i < 3000; ++i) {
    // Every 64th entry large, so that the small ones after it wait, staged, for their turn.
    const size_t size = i % 64 == 0 ? (2u << 20) : 20000 + 37 * static_cast<size_t>(i);
    entries.push_back({"d" + std::to_string(i % 50) + "/e" + std::to_string(i) + ".bin",
                       MadeBytes(size, static_cast<uint32_t>(i), i % 2 == 0)});
  }
  WriteFile("many.pkg", HandBuiltPkg(entries));
  entries.clear();
  const std::string out = At("out");
  size_t most = 0;
  const auto staged = [&out, &most] {
    size_t n = 0;
    std::vector<std::string> folders;
    std::string error;
    ListFolder(out, &folders, &error);
    for (const std::string& f : folders) n += VarelTemporaries(JoinPath(out, f)).size();
    most = std::max(most, n);
    return n > 64;
  };
  const pid_t pid = SpawnVarel({"extract", "many.pkg", "-o", "out", "-j", "8"}, work_.path());
  ASSERT_GT(pid, 0);
  const Interrupted r = InterruptWhen(pid, SIGINT, staged, 60);
  EXPECT_TRUE(r.ready) << "at most " << most << " temporary files seen at once";
  ASSERT_TRUE(r.reaped);
  EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGINT) << r.status;
  std::vector<std::string> folders;
  std::string error;
  ASSERT_TRUE(ListFolder(out, &folders, &error)) << error;
  size_t left = 0;
  for (const std::string& f : folders) left += VarelTemporaries(JoinPath(out, f)).size();
  EXPECT_EQ(left, 0u);
}

// A real varel child stopped by SIGINT (Ctrl-C) or SIGTERM while it writes a file: the
// temporary file goes, the files written before it stay whole, and nothing else is left.
TEST_F(VarelRun, InterruptedExtractLeavesNothingBehind) {
  constexpr uint32_t kPartSize = 64u << 20;
  WriteSparsePkg(At("big.pkg"), 8, kPartSize);
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const std::string out = At("out");
    const pid_t pid = SpawnVarel({"extract", "big.pkg", "-o", "out"}, work_.path());
    ASSERT_GT(pid, 0);
    // Wait (at most 20 s) for a temporary file in the output folder, then interrupt.
    const auto temporary = [&out] { return !VarelTemporaries(out).empty(); };
    const Interrupted r = InterruptWhen(pid, signal, temporary, 20);
    EXPECT_TRUE(r.ready);
    ASSERT_TRUE(r.reaped);
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == signal) << r.status;
    EXPECT_FALSE(temporary());
    std::vector<std::string> left;
    std::string error;
    ASSERT_TRUE(ListFolder(out, &left, &error)) << error;
    EXPECT_LT(left.size(), 8u) << "interrupted before the end";
    for (const std::string& name : left) {
      uint64_t size = 0;
      EXPECT_TRUE(GetFileSize(JoinPath(out, name), &size, &error) && size == kPartSize) << name;
    }
    RemoveTree(out);
  }
}

#endif

}  // namespace
