// What the listing frame and the extraction dispatch need of a format reader. The frame
// owns I/O, memory and the hand-over; a reader only recognises, sizes and fills.
#pragma once

#include <cstdint>

#include "host/host_records.h"
#include "memory/memory.h"

// The file region that holds a format's table, and its number of entries. Both sizes are
// 64-bit so that no product or sum wraps before it is compared or allocated.
struct ListingRegion {
  uint32_t start;   // file position, from the beginning of the file
  uint64_t length;  // bytes read in one read
  uint64_t count;   // entry records to fill
};

// One listing in progress: the region bytes as read (zero where the read delivered
// nothing) and the locked, zero-filled record array.
struct ListingContext {
  const ArchiveSource* source;
  const uint8_t* region;
  uint32_t regionLength;
  uint32_t delivered;  // bytes the read delivered, at most regionLength; the rest are zero
  ArchiveEntry* records;
  uint32_t count;
  CBlockTableRegistry* blockTables;
};

struct ArchiveFormat {
  int32_t type;
  // True when the header bytes (at least kHostHeaderBytes) are of this format.
  bool (*Test)(const uint8_t* header);
  ListingRegion (*Region)(const uint8_t* header);
  // Fills every record; 0, or 1 when memory cannot be had (everything released).
  int32_t (*Fill)(const ListingContext& context);
};
