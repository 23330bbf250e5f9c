// varel's file-system layer: the atomic output file, Unicode names and long paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/varel_host/host_fs.h"

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

// Names are UTF-8 on both platforms and come back from a listing as they went in, in the
// order of their bytes.
TEST_F(HostFs, UnicodeNamesRoundTrip) {
  const std::vector<std::string> names = {"caf\xC3\xA9.txt", "e\xCC\x81t\xC3\xA9",
                                          "emoji_\xF0\x9F\x98\x80", "\xCE\xA9mega",
                                          "\xE6\x97\xA5\xE6\x9C\xAC"};
  for (const std::string& n : names) {
    ASSERT_TRUE(WriteFileAtomically(At(n), BytesOf(n).data(), n.size(), false, &error_)) << error_;
  }
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(Names(), sorted);
  std::vector<uint8_t> back;
  ASSERT_TRUE(ReadWholeFile(At(names[2]), &back, &error_)) << error_;
  EXPECT_EQ(back, BytesOf(names[2]));
  EXPECT_TRUE(IsSameFile(At(names[0]), At(names[0])));
  EXPECT_FALSE(IsSameFile(At(names[0]), At(names[1])));
}

// A path of over 300 characters: folders made, a file written, read, listed and removed.
TEST_F(HostFs, PathsPastTheOldLimitWork) {
  std::string path = folder_.path();
  for (int i = 0; i < 6; ++i) path = JoinPath(path, std::string(50, static_cast<char>('a' + i)));
  ASSERT_TRUE(MakeFolders(path, &error_)) << error_;
  const std::string file = JoinPath(path, "\xE6\x97\xA5\xE6\x9C\xAC-deep.txt");
  ASSERT_GT(file.size(), 300u);
  ASSERT_TRUE(WriteFileAtomically(file, BytesOf("deep").data(), 4, false, &error_)) << error_;
  EXPECT_EQ(GetPathKind(file), PathKind::kFile);
  std::vector<uint8_t> back;
  ASSERT_TRUE(ReadWholeFile(file, &back, &error_)) << error_;
  EXPECT_EQ(back, BytesOf("deep"));
  std::vector<std::string> names;
  ASSERT_TRUE(ListFolder(path, &names, &error_)) << error_;
  EXPECT_EQ(names, std::vector<std::string>{"\xE6\x97\xA5\xE6\x9C\xAC-deep.txt"});
  EXPECT_TRUE(RemoveTree(JoinPath(folder_.path(), std::string(50, 'a'))));
  EXPECT_TRUE(Names().empty());
}

}  // namespace
