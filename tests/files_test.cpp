// varel's file-system layer: the output file that appears only when it is whole. (Unicode
// names and long paths are tested end to end, in varel_unicode_test.cpp.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/os/files.h"
#include "tools/plugin_host/host_file.h"

namespace {

class HostFs : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(MakeFolder(folder_.path(), &error_)) << error_; }
  void TearDown() override { RemoveTree(folder_.path()); }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    EXPECT_TRUE(ListFolder(folder_.path(), &names, &error_));
    return names;
  }
  std::string At(const std::string& name) { return JoinPath(folder_.path(), name); }
  CTempPath folder_;
  std::string error_;
};

TEST_F(HostFs, OutputFileAppearsOnlyOnCommit) {
  COutputFile out;
  ASSERT_TRUE(out.Open(folder_.path(), "f.bin", &error_)) << error_;
  ASSERT_TRUE(out.Write("abc", 3, &error_));
  EXPECT_EQ(GetPathKind(At("f.bin")), PathKind::kMissing);
  ASSERT_TRUE(out.Commit(false, &error_)) << error_;
  std::vector<uint8_t> back;
  ASSERT_TRUE(ReadWholeFile(At("f.bin"), &back, &error_));
  EXPECT_EQ(back, BytesOf("abc"));
  EXPECT_EQ(Names(), std::vector<std::string>{"f.bin"});
}

TEST_F(HostFs, AbandonedOutputFileLeavesNothing) {
  {
    COutputFile out;
    ASSERT_TRUE(out.Open(folder_.path(), "f.bin", &error_));
    ASSERT_TRUE(out.Write("abc", 3, &error_));
  }  // destroyed without Commit, as when a run is cut short
  EXPECT_TRUE(Names().empty());
}

TEST_F(HostFs, OutputFileReplacesOnlyWhenAsked) {
  const std::string path = At("f.bin");
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

TEST_F(HostFs, MissingFolderIsAClearError) {
  COutputFile out;
  EXPECT_FALSE(out.Open(At("nope"), "f.bin", &error_));
  EXPECT_NE(error_.find("f.bin"), std::string::npos);
}

// Reads at offsets on either side of every 32-bit boundary, through the shared reader and
// the archive file built on it: the low 32 bits all ones with the high ones set is an
// offset like any other. The file is sparse: 8 GiB that take no room.
TEST_F(HostFs, ReaderTakesEverySixtyFourBitOffset) {
  struct Mark {
    uint64_t offset;
    const char* bytes;
  };
  const Mark marks[] = {
      {0, "head"},
      {0x7FFFFFFEull, "2gib"},
      {0xFFFFFFFCull, "4gib"},  // its last byte at 0xFFFFFFFF, the next at 4 GiB
      {0x100000000ull, "past"},
      {0x17FFFFFFFull, "6gib"},
      {0x1FFFFFFFFull, "tail"},  // the low 32 bits all ones, the high ones 1
  };
  COutputFile out;
  ASSERT_TRUE(out.Open(folder_.path(), "big.bin", &error_)) << error_;
  for (const Mark& m : marks) ASSERT_TRUE(out.WriteAt(m.offset, m.bytes, 4, &error_)) << error_;
  ASSERT_TRUE(out.Commit(false, &error_)) << error_;

  CFileReader reader;
  ASSERT_TRUE(reader.Open(At("big.bin"), &error_)) << error_;
  EXPECT_EQ(reader.size(), 0x200000003ull);
  CHostFile host;
  ASSERT_TRUE(host.Open(At("big.bin"), &error_)) << error_;
  for (const Mark& m : marks) {
    SCOPED_TRACE(m.bytes);
    char got[16] = {};
    size_t n = 0;
    ASSERT_TRUE(reader.ReadAt(m.offset, reinterpret_cast<uint8_t*>(got), 4, &n, &error_));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(got, n), m.bytes);
    std::vector<uint8_t> viaHost;
    ASSERT_TRUE(host.ReadAt(m.offset, 4, &viaHost));
    EXPECT_EQ(viaHost, BytesOf(m.bytes));
  }
  // Across the 4 GiB line in one read.
  char across[8] = {};
  size_t n = 0;
  ASSERT_TRUE(reader.ReadAt(0xFFFFFFFCull, reinterpret_cast<uint8_t*>(across), 8, &n, &error_));
  EXPECT_EQ(std::string(across, n), "4gibpast");
  // Short at the end of the file, nothing past it.
  ASSERT_TRUE(reader.ReadAt(0x1FFFFFFFFull, reinterpret_cast<uint8_t*>(across), 8, &n, &error_));
  EXPECT_EQ(std::string(across, n), "tail");
  ASSERT_TRUE(reader.ReadAt(0x200000003ull, reinterpret_cast<uint8_t*>(across), 8, &n, &error_));
  EXPECT_EQ(n, 0u);
  ASSERT_TRUE(reader.ReadAt(UINT64_MAX - 1, reinterpret_cast<uint8_t*>(across), 8, &n, &error_));
  EXPECT_EQ(n, 0u);
  std::vector<uint8_t> past;
  ASSERT_TRUE(host.ReadAt(0x300000000ull, 4, &past));
  EXPECT_TRUE(past.empty());
}

// One reader, many threads: every read lands at its own offset, whatever the others do.
TEST_F(HostFs, OneReaderServesEveryThread) {
  std::vector<uint8_t> data(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 11));
  ASSERT_TRUE(WriteFileAtomically(At("f.bin"), data.data(), data.size(), false, &error_));
  CFileReader reader;
  ASSERT_TRUE(reader.Open(At("f.bin"), &error_)) << error_;
  constexpr unsigned kThreads = 8;
  std::vector<unsigned> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint8_t> buffer(4096 + t);
      for (unsigned k = 0; k < 300; ++k) {
        const size_t offset = (k * 7919u + t * 104729u) % (data.size() - buffer.size());
        size_t got = 0;
        std::string error;
        if (!reader.ReadAt(offset, buffer.data(), buffer.size(), &got, &error) ||
            got != buffer.size() ||
            std::memcmp(buffer.data(), data.data() + offset, buffer.size()) != 0) {
          ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<unsigned>(kThreads, 0));
}

TEST_F(HostFs, ReaderRefusesAFolderAndAMissingFile) {
  CFileReader reader;
  EXPECT_FALSE(reader.Open(folder_.path(), &error_));
  EXPECT_NE(error_.find("is a folder"), std::string::npos) << error_;
  EXPECT_FALSE(reader.Open(At("missing"), &error_));
  EXPECT_NE(error_.find("missing"), std::string::npos) << error_;
  EXPECT_FALSE(reader.isOpen());
}

}  // namespace
