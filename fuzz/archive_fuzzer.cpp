// Whole-archive target: the input is an archive file's bytes. It is detected, listed and
// every listed entry extracted, the way a host drives the plug-in: 84 header bytes, the
// file read through a handle, and for each entry exactly packedSize stored bytes read at
// offset (zero past the file's end), flush against an inaccessible page.
//
// Each input gets a plug-in object of its own, so that the block tables of its listing are
// released when it is done and the live-block counters must come back to where they were.
#include <cstring>
#include <vector>

#include "bytes/byte_order.h"
#include "fuzz/fuzz_support.h"
#include "pkg/pkg.h"
#include "platform/platform_testing.h"
#include "plugin/plugin.h"
#include "psarc/psarc.h"

namespace {

// A host reads no entry it cannot hold; entries whose plain size reads as negative are
// still extracted, since they must fail cleanly without allocating anything large.
constexpr uint64_t kMaxHostBytes = 256u << 10;
constexpr int32_t kMaxExtractions = 64;

// A header may declare tables of up to 4 GiB whatever the file holds; the listing then
// allocates and fills them at that size. Those runs take seconds and say nothing new, so
// headers that declare more than this are left out: the search stays fast.
constexpr uint64_t kMaxDeclaredRegion = 1u << 20;

// The table sizes a PSARC or PKG header declares, and the PSARC manifest's size (0 for any
// other header).
uint64_t DeclaredRegion(const uint8_t* h) {
  if (std::memcmp(h + kPsarcHeaderMagicAt, "PSAR", 4) == 0) {
    // The manifest's work buffer follows entry 0's plain size (its low 32 bits).
    const uint64_t count = be32(h + kPsarcHeaderTocEntryCountAt);
    const uint64_t manifest = be32(h + kPsarcHeaderSize + kPsarcTocPlainSizeAt + 1);
    uint64_t most = be32(h + kPsarcHeaderTocLengthAt);
    if (count * sizeof(ArchiveEntry) > most) most = count * sizeof(ArchiveEntry);
    if (count != 0 && manifest > most) most = manifest;
    return most;
  }
  if (le32(h + kPkgHeaderReservedAt) == 0) {
    return uint64_t{le32(h + kPkgHeaderEntryCountAt)} * sizeof(ArchiveEntry);
  }
  return 0;
}

void Extract(CPluginArchivePSX& plugin, const uint8_t* file, size_t fileSize, ArchiveEntry entry) {
  const uint32_t plain = static_cast<uint32_t>(entry.size);
  if (entry.packedSize > kMaxHostBytes) return;
  if (plain < 0x80000000u && plain > kMaxHostBytes) return;

  CGuardedBytes stored(static_cast<size_t>(entry.packedSize));
  if (entry.offset < fileSize) {
    const uint64_t room = fileSize - entry.offset;
    const uint64_t n = entry.packedSize < room ? entry.packedSize : room;
    std::memcpy(stored.data(), file + entry.offset, static_cast<size_t>(n));
  }

  const ArchiveEntry before = entry;
  HGLOBAL contents = FuzzGetFile(plugin, stored.data(), &entry);
  if (contents == nullptr) return;
  const bool decoded = entry.type == kTypePsarc || (entry.type == kTypePkg && entry.param == 1);
  const size_t expected = plain + ((entry.type == kTypePkg && entry.param == 1) ? 256u : 0u);
  FUZZ_CHECK(GlobalSize(contents) == expected);
  // Only a decoded extraction writes the record, and then only the upper half of size.
  ArchiveEntry want = before;
  if (decoded) want.size = plain;
  FUZZ_CHECK(std::memcmp(&want, &entry, sizeof(entry)) == 0);
  GlobalFree(contents);
}

void Drive(const uint8_t* data, size_t size) {
  static CFuzzFile file;
  file.Write(data, size);
  // The header as a host hands it: 84 bytes, zero-padded, nothing readable past them.
  CGuardedBytes header(kHostHeaderBytes);
  std::memcpy(header.data(), data, size < kHostHeaderBytes ? size : kHostHeaderBytes);
  ArchiveSource source;
  source.file = file.handle();
  source.header = header.data();

  CPluginArchivePSX plugin;
  if (DeclaredRegion(header.data()) > kMaxDeclaredRegion) return;
  int32_t type = kTypeNone;
  FUZZ_CHECK(plugin.IsSupported(&source, &type) == kResultOk);
  FUZZ_CHECK(type == kTypeNone || type == kTypePsarc || type == kTypePkg);

  HGLOBAL entries = kFuzzUntouched;
  int32_t count = -1;
  const int32_t listed = plugin.GetArchiveInfo(&source, &entries, &count);
  FUZZ_CHECK(listed == kResultOk || listed == kResultNoMemory);
  if (listed != kResultOk || type == kTypeNone) {
    FUZZ_CHECK(entries == kFuzzUntouched);
    FUZZ_CHECK(count == 0);
    return;
  }
  FUZZ_CHECK(entries != kFuzzUntouched && count >= 0);
  FUZZ_CHECK((GlobalFlags(entries) & GMEM_LOCKCOUNT) == 0);
  FUZZ_CHECK(GlobalSize(entries) == static_cast<size_t>(count) * sizeof(ArchiveEntry));

  std::vector<ArchiveEntry> records;
  if (count > 0) {
    const auto* p = static_cast<const ArchiveEntry*>(GlobalLock(entries));
    FUZZ_CHECK(p != nullptr);
    records.assign(p, p + count);
    GlobalUnlock(entries);
  }
  GlobalFree(entries);  // the host may free the array before it extracts

  for (int32_t i = 0; i < count && i < kMaxExtractions; ++i) {
    const ArchiveEntry& r = records[static_cast<size_t>(i)];
    FUZZ_CHECK(r.type == type);
    FUZZ_CHECK(r.name[255] == 0);
    FUZZ_CHECK(std::strcmp(r.tag, type == kTypePsarc ? "PSARC" : "PKG") == 0);
    FUZZ_CHECK(type == kTypePsarc ? r.blockTable != nullptr
                                  : r.name[64] == 0 && r.blockTable == nullptr);
    Extract(plugin, data, size, r);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  const int32_t heapBefore = PlatformLiveHeapBlocks();
  const int32_t globalBefore = PlatformLiveGlobalBlocks();
#endif
  Drive(data, size);
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  FUZZ_CHECK(PlatformLiveHeapBlocks() == heapBefore);
  FUZZ_CHECK(PlatformLiveGlobalBlocks() == globalBefore);
#endif
  return 0;
}
