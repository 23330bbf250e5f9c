// PKG recognition and the listing of its directory.
#include <cstring>

#include "bytes/byte_order.h"
#include "pkg/pkg.h"
#include "text/ansi_text.h"

namespace {

// A directory value widened to the record's 64 bits with its sign.
uint64_t Widen(const uint8_t* field) {
  return static_cast<uint64_t>(static_cast<int64_t>(le32s(field)));
}

const char kPkgTag[] = "PKG";

}  // namespace

bool PkgTest(const uint8_t* header) {
  if (le32(header + kPkgHeaderReservedAt) != 0) return false;
  const int32_t entryCount = le32s(header + kPkgHeaderEntryCountAt);
  if (entryCount <= 0) return false;
  // Exact in 64 bits: a product beyond 32 bits never matches the u32 it is compared with.
  const uint64_t firstData = static_cast<uint64_t>(entryCount) * kPkgDirEntrySize + kPkgHeaderSize;
  return firstData == le32(header + kPkgHeaderFirstOffsetAt);
}

ListingRegion PkgRegion(const uint8_t* header) {
  const int32_t entryCount = le32s(header + kPkgHeaderEntryCountAt);
  const uint64_t count = entryCount > 0 ? static_cast<uint64_t>(entryCount) : 0;
  return ListingRegion{static_cast<uint32_t>(kPkgHeaderSize), count * kPkgDirEntrySize, count};
}

int32_t PkgFill(const ListingContext& context) {
  // The frame read the region at its full size; entries past it, should it ever be short,
  // read as a zero entry like a directory cut short by the end of the file.
  static const uint8_t kZeroEntry[kPkgDirEntrySize] = {};
  const uint32_t available = context.regionLength / kPkgDirEntrySize;
  for (uint32_t k = 0; k < context.count; ++k) {
    const uint8_t* dir =
        k < available ? context.region + static_cast<size_t>(k) * kPkgDirEntrySize : kZeroEntry;
    ArchiveEntry& record = context.records[k];
    // The record array is zero-filled: the name's bytes from 64 on, byte 64 among them, and
    // every byte not written here stay 0.
    CopyAnsiField(record.name, kPkgDirNameBytes, reinterpret_cast<const char*>(dir + kPkgDirNameAt),
                  kPkgDirNameBytes);
    record.name[kPkgDirNameBytes] = 0;
    record.offset = Widen(dir + kPkgDirOffsetAt);
    record.packedSize = Widen(dir + kPkgDirPackedSizeAt);
    record.size = Widen(dir + kPkgDirSizeAt);
    record.type = kTypePkg;
    std::memcpy(record.tag, kPkgTag, sizeof(kPkgTag));
    record.param = le32(dir + kPkgDirCompressedAt);
    record.blockTable = nullptr;
  }
  return kResultOk;
}
