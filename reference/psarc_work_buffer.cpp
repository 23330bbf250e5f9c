// The type-1 extraction through a work buffer and a copy, as the walk was first written.
#include <cstring>

#include "psarc/psarc.h"
#include "reference/reference.h"

int32_t PsarcGetFileThroughWorkBuffer(const uint8_t* stored, ArchiveEntry* entry,
                                      HGLOBAL* contents) {
  const uint32_t size = static_cast<uint32_t>(entry->size);
  // A record without a table covers no block: its contents are zeros.
  const CStoredSizes none;
  const BlockTable* table = entry->blockTable;
  const CStoredSizes& storedSizes = table != nullptr ? table->storedSizes : none;
  const uint32_t blockSize = table != nullptr ? table->blockSize : 0;
  Cbuffer work;
  DecodeEntryFromBuffer(&work, storedSizes, blockSize, entry, stored, PsarcInflate::kZlibOnly);
  if (work.data == nullptr) return kResultNoMemory;
  CGlobalHandleMemory block;
  if (block.Alloc(size) == nullptr) return kResultNoMemory;
  if (size != 0) {
    void* p = block.Lock();
    if (p == nullptr) return kResultNoMemory;
    std::memcpy(p, work.data, size);  // size <= work.length - kPsarcWorkMargin
  }
  *contents = block.Detach();
  entry->size = size;
  return kResultOk;
}
