// Loading and unloading the module: its one object is built on load and released on
// unload, leaving nothing behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "platform/platform_testing.h"
#include "tests/support/test_support.h"
#include "tools/writers/psarc_writer.h"

namespace {

#if defined(_WIN32)
const char kFourExportsModule[] = "varel_four_exports.dll";
#else
const char kFourExportsModule[] = "varel_four_exports.so";
#endif

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

// Every PSARC listing leaves a block table in the module until it unloads, shared with
// any later listing whose table is identical; records of a listing stay usable after the
// host freed their array. Unloading releases every table once.
TEST(PluginLifetime, UnloadReleasesEveryBlockTable) {
  CModuleCopy copy;
  std::vector<Bytes> archives;
  for (uint32_t i = 0; i < 4; ++i) {
    Bytes archive;
    std::string error;
    // An entry of i + 2 blocks: a table of another length, so each archive has its own.
    ASSERT_TRUE(WritePsarc({{"a.txt", BytesOf("alpha")}, {"b.bin", Bytes(70000 + 65536 * i, 'b')}},
                           PsarcWriterOptions(), &archive, &error))
        << error;
    archives.push_back(archive);
  }
  std::vector<std::unique_ptr<CArchiveFile>> files;
  for (const Bytes& a : archives) files.emplace_back(new CArchiveFile(a));
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  const int32_t heapBefore = PlatformLiveHeapBlocks();
  const int32_t globalBefore = PlatformLiveGlobalBlocks();
#endif
  for (int round = 0; round < 2; ++round) {
    CPluginModule module;
    ASSERT_TRUE(module.Load(copy.path())) << module.error();
    const PluginExports& plugin = module.exports();
    // Each archive twice; kept holds the records pass by pass, archive by archive.
    std::vector<ArchiveEntry> kept;
    for (int pass = 0; pass < 2; ++pass) {
      for (const auto& file : files) {
        const HostListing listing = ListArchive(plugin, file->source());
        ASSERT_EQ(listing.count, 3);
        ASSERT_EQ(listing.entries.size(), 3u);
        kept.insert(kept.end(), listing.entries.begin(), listing.entries.end());
      }
    }
#if defined(VAREL_HAVE_PLATFORM_SEAM)
    // A table and its values per archive, and the registry's own storage.
    EXPECT_EQ(PlatformLiveHeapBlocks(), heapBefore + 4 * 2 + 1) << "one table per archive";
    EXPECT_EQ(PlatformLiveGlobalBlocks(), globalBefore);
#endif
    const size_t perPass = 3 * files.size();
    for (size_t a = 0; a < files.size(); ++a) {
      EXPECT_EQ(kept[3 * a + 2].blockTable, kept[perPass + 3 * a + 2].blockTable)
          << "the same archive listed again shares its table";
      if (a > 0) {
        EXPECT_NE(kept[3 * a + 2].blockTable, kept[2].blockTable);
      }
    }
    // The first listing's records still extract, through their table.
    for (size_t a = 0; a < files.size(); ++a) {
      ArchiveEntry big = kept[3 * a + 2];
      const Bytes& archive = archives[a];
      Bytes stored(archive.begin() + static_cast<size_t>(big.offset),
                   archive.begin() + static_cast<size_t>(big.offset + big.packedSize));
      HGLOBAL contents = nullptr;
      ASSERT_EQ(plugin.GetFile(0, stored.data(), &big, &contents), 0);
      ASSERT_NE(contents, nullptr);
      EXPECT_EQ(GlobalSize(contents), 70000u + 65536 * a);
      GlobalFree(contents);
    }
    module.Unload();
#if defined(VAREL_HAVE_PLATFORM_SEAM)
    EXPECT_EQ(PlatformLiveHeapBlocks(), heapBefore) << "round " << round;
    EXPECT_EQ(PlatformLiveGlobalBlocks(), globalBefore) << "round " << round;
#endif
  }
}

// A host refuses a module it cannot load, and one that lacks an export (the test module
// beside this program has four of the five), saying which; nothing stays loaded.
TEST(PluginLifetime, MissingModuleOrExportIsReported) {
  CPluginModule module;
  EXPECT_FALSE(module.Load("no-such-folder/arc_varel_missing.bin"));
  EXPECT_FALSE(module.error().empty());
  EXPECT_FALSE(module.loaded());

  const std::string fourExports = ExecutableDirectory() + kFourExportsModule;
  EXPECT_FALSE(module.Load(fourExports)) << fourExports;
  EXPECT_NE(module.error().find("TZK_GetFile"), std::string::npos) << module.error();
  EXPECT_EQ(module.error().find("TZK_IsSupported"), std::string::npos) << module.error();
  EXPECT_FALSE(module.loaded());
  EXPECT_EQ(module.exports().GetPluginInfo, nullptr) << "nothing stays resolved";
}

}  // namespace
