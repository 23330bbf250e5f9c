// The frame: the one place that reads a table region, allocates, locks and detaches the
// blocks the host receives, and writes a record back. Format readers only fill and decode
// into the memory handed to them.
#include <cstring>

#include "plugin/plugin.h"

namespace {

constexpr uint64_t kEntryRecordSize = sizeof(ArchiveEntry);

bool RawBlockSize(const ArchiveEntry& entry, uint32_t* size) {
  *size = static_cast<uint32_t>(entry.size);
  return true;
}

// The host hands in packedSize bytes: never read more; the rest of the block stays zero.
int32_t RawDecode(const uint8_t* stored, const ArchiveEntry& entry, uint8_t* out,
                  uint32_t capacity) {
  const uint32_t n =
      entry.packedSize < capacity ? static_cast<uint32_t>(entry.packedSize) : capacity;
  if (n != 0 && stored != nullptr) std::memcpy(out, stored, n);
  return kResultOk;
}

}  // namespace

const ArchiveFormat kRawCopy = {
    kTypeNone, nullptr, nullptr, nullptr, nullptr, RawBlockSize, RawDecode, false,
};

int32_t ListFormat(const ArchiveFormat& format, const ArchiveSource* source,
                   CBlockTableRegistry* blockTables, HGLOBAL* entries, int32_t* count) {
  const ListingRegion region = format.Region(source->header);
  Cbuffer table;
  if (table.Alloc64(region.length) == nullptr) return kResultNoMemory;
  // Neither the positioning nor the read is examined: bytes not delivered stay zero.
  (void)SetFilePointer(source->file, static_cast<LONG>(region.start), nullptr, FILE_BEGIN);
  DWORD read = 0;
  (void)ReadFile(source->file, table.data, table.length, &read, nullptr);

  CGlobalHandleMemory records;
  if (region.count > INT32_MAX || records.Alloc(region.count * kEntryRecordSize) == nullptr) {
    return kResultNoMemory;
  }
  auto* array = static_cast<ArchiveEntry*>(records.Lock());
  if (array == nullptr && region.count != 0) return kResultNoMemory;

  ListingContext context;
  context.source = source;
  context.region = table.data;
  context.regionLength = table.length;
  context.delivered = read < table.length ? read : table.length;
  context.records = array;
  context.count = static_cast<uint32_t>(region.count);
  context.blockTables = blockTables;
  const int32_t filled = format.Fill(context);
  if (filled != kResultOk) return filled;

  *entries = records.Detach();
  *count = static_cast<int32_t>(region.count);
  return kResultOk;
}

int32_t ExtractRecord(const ArchiveFormat& format, const uint8_t* stored, ArchiveEntry* entry,
                      HGLOBAL* contents) {
  uint32_t size = 0;
  if (!format.BlockSize(*entry, &size)) return kResultNoMemory;
  CGlobalHandleMemory block;
  if (block.Alloc(size) == nullptr) return kResultNoMemory;
  uint8_t* out = nullptr;
  if (size != 0) {
    out = static_cast<uint8_t*>(block.Lock());
    if (out == nullptr) return kResultNoMemory;
  }
  // On a failure the holder frees the block, so nothing reaches the host.
  if (format.Decode(stored, *entry, out, size) != kResultOk) return kResultNoMemory;
  *contents = block.Detach();
  if (format.rewritesSize) entry->size = static_cast<uint32_t>(entry->size);
  return kResultOk;
}
