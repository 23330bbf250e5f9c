// Loading and unloading the module: its one object is built on load and released on
// unload, leaving nothing behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/platform_testing.h"
#include "tests/support/test_support.h"

namespace {

// A private copy of the module, so that loading it builds a fresh plug-in object and
// unloading it really destroys that object (the shared copy stays loaded for other tests).
class CModuleCopy {
 public:
  CModuleCopy() : path_(PluginFileName()) {
    std::ifstream in(DefaultPluginPath(), std::ios::binary);
    std::ofstream out(path_.path(), std::ios::binary);
    out << in.rdbuf();
  }
  const std::string& path() const { return path_.path(); }

 private:
  CTempPath path_;
};

TEST(PluginLifetime, LoadsAnswersAndUnloads) {
  CModuleCopy copy;
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  const int32_t heapBefore = PlatformLiveHeapBlocks();
  const int32_t globalBefore = PlatformLiveGlobalBlocks();
#endif
  for (int round = 0; round < 3; ++round) {
    CPluginModule module;
    ASSERT_TRUE(module.Load(copy.path())) << module.error();
    PluginInfo info;
    ASSERT_EQ(module.exports().GetPluginInfo(&info), 0);
    EXPECT_STREQ(info.name, "Varel Archive");
    module.Unload();
  }
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  EXPECT_EQ(PlatformLiveHeapBlocks(), heapBefore);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), globalBefore);
#endif
}

TEST(PluginLifetime, MissingModuleOrExportIsReported) {
  CPluginModule module;
  EXPECT_FALSE(module.Load("no-such-folder/arc_varel_missing.bin"));
  EXPECT_FALSE(module.error().empty());
  EXPECT_FALSE(module.loaded());
}

}  // namespace
