// varel's file-system layer: the output file that appears only when it is whole. (Unicode
// names and long paths are tested end to end, in varel_unicode_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/os/files.h"

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

}  // namespace
