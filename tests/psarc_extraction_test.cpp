// The type-1 extraction decodes straight into the host's block. It must give the host
// exactly what the reference work-buffer path gives, for every archive of the corpus,
// well-formed or hostile, and for records a host could hand back altered.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform_testing.h"
#include "plugin/plugin.h"
#include "psarc/psarc.h"
#include "reference/reference.h"
#include "tests/support/psarc_test_support.h"

namespace {

// The plug-in's extraction, through its object as TZK_GetFile reaches it.
int32_t PluginGetFile(const uint8_t* stored, ArchiveEntry* entry, HGLOBAL* contents) {
  static CPluginArchivePSX plugin;
  return plugin.GetFile(0, stored, entry, contents);
}

// What a host sees of one extraction, and the record as the extraction left it.
struct Seen {
  HostExtraction x;
  ArchiveEntry entry;
};

Seen Extract(GetFileFn getFile, const Bytes& stored, const ArchiveEntry& record) {
  Seen seen{HostExtraction(), record};
  seen.x = ExtractStored(stored, &seen.entry, getFile);
  return seen;
}

void ExpectSame(const Seen& direct, const Seen& work, const std::string& what) {
  EXPECT_EQ(direct.x.result, work.x.result) << what;
  EXPECT_EQ(direct.x.handleStored, work.x.handleStored) << what;
  EXPECT_EQ(direct.x.blockSize, work.x.blockSize) << what;
  EXPECT_EQ(direct.x.lockCount, 0u) << what;
  EXPECT_TRUE(direct.x.contents == work.x.contents) << what;
  EXPECT_EQ(std::memcmp(&direct.entry, &work.entry, sizeof(ArchiveEntry)), 0) << what;
}

// The records a host might hand back: as listed, with the upper half of `size` set,
// claiming fewer stored bytes, and sizes whose work buffer cannot exist.
std::vector<ArchiveEntry> Variants(const ArchiveEntry& e) {
  std::vector<ArchiveEntry> v(1, e);
  ArchiveEntry high = e;
  high.size |= uint64_t(0x5A) << 32;
  v.push_back(high);
  if (e.packedSize > 0) {
    ArchiveEntry shorter = e;
    shorter.packedSize = e.packedSize / 2;
    v.push_back(shorter);
  }
  for (uint64_t size : {0xFFFFFFF6ull, 0xFFFFFFFFull}) {
    ArchiveEntry huge = e;
    huge.size = size;
    v.push_back(huge);
  }
  return v;
}

TEST(PsarcExtraction, GivesTheHostWhatTheWorkBufferPathGivesOverTheCorpus) {
  size_t compared = 0;
  for (const PsarcCorpusCase& c : PsarcCorpus()) {
    CPluginArchivePSX plugin;
    CArchiveFile file(c.archive);
    const HostListing listing = ListArchive(plugin, file.source());
    ASSERT_EQ(listing.result, 0) << c.name;
    for (const ArchiveEntry& listed : listing.entries) {
      if (static_cast<uint32_t>(listed.size) > kPsarcTestMaxExtract) continue;
      for (const ArchiveEntry& e : Variants(listed)) {
        const Bytes stored = StoredBytesOf(c.archive, e);
        const std::string what = c.name + " / " + listed.name;
        ExpectSame(Extract(PluginGetFile, stored, e),
                   Extract(PsarcGetFileThroughWorkBuffer, stored, e), what);
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 500u);
}

#if defined(VAREL_HAVE_PLATFORM_SEAM)
TEST(PsarcExtraction, AllocatesOnlyTheHostsBlockAndTheDecompressor) {
  const Bytes archive = PackPsarc({{"x", TextBytes(300000)}});
  HostListing listing = ListArchive(archive);
  ASSERT_EQ(listing.count, 2);
  const Bytes stored = StoredBytesOf(archive, listing.entries[1]);
  const uint32_t before = PlatformAllocationCount();
  Seen seen = Extract(PluginGetFile, stored, listing.entries[1]);
  ASSERT_EQ(seen.x.result, 0);
  EXPECT_EQ(PlatformAllocationCount() - before, 2u)
      << "the host's block and the fast decompressor: no work buffer, no scratch";
  EXPECT_EQ(seen.x.contents, TextBytes(300000));
}

TEST(PsarcExtraction, HeapShortageGivesOneWithNothingStoredOnBothPaths) {
  const Bytes archive = PackPsarc({{"x", TextBytes(200000)}});
  const HostListing listing = ListArchive(archive);
  ASSERT_EQ(listing.count, 2);
  for (bool shortRecord : {false, true}) {
    ArchiveEntry e = listing.entries[1];
    if (shortRecord) e.packedSize -= 100;  // needs the scratch buffer as well
    const Bytes stored = StoredBytesOf(archive, e);
    for (GetFileFn getFile : {PluginGetFile, PsarcGetFileThroughWorkBuffer}) {
      bool succeeded = false;
      for (uint32_t n = 1; n < 8 && !succeeded; ++n) {
        const int32_t heap = PlatformLiveHeapBlocks();
        const int32_t global = PlatformLiveGlobalBlocks();
        PlatformFailAllocation(n);
        Seen seen = Extract(getFile, stored, e);
        PlatformFailAllocation(0);
        if (seen.x.result == 0) {
          succeeded = true;
          EXPECT_EQ(seen.x.blockSize, 200000u);
          continue;
        }
        EXPECT_EQ(seen.x.result, 1) << n;
        EXPECT_FALSE(seen.x.handleStored) << n;
        EXPECT_EQ(std::memcmp(&seen.entry, &e, sizeof(e)), 0) << n;
        EXPECT_EQ(PlatformLiveHeapBlocks(), heap) << n;
        EXPECT_EQ(PlatformLiveGlobalBlocks(), global) << n;
      }
      EXPECT_TRUE(succeeded);
    }
  }
}
#endif

}  // namespace
