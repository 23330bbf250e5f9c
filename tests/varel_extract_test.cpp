// End to end: varel extract decoding on several threads while it writes in archive order.
#include <string>
#include <vector>

#include "tests/support/psarc_test_support.h"
#include "tests/varel_test_support.h"

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

}  // namespace
