// What the frame needs of a format reader. The frame (plugin/) owns I/O, memory and the
// hand-over: it reads a format's table region, allocates, locks and detaches every block
// the host receives, and rewrites the record. A reader only recognises, sizes, fills and
// decodes, into memory it is given; it holds no global block.
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

// One format's row: detection and listing, then the extraction of its records. Rows with
// no Test (the raw copy) take part in extraction only.
struct ArchiveFormat {
  int32_t type;
  // True when the header bytes (at least kHostHeaderBytes) are of this format.
  bool (*Test)(const uint8_t* header);
  ListingRegion (*Region)(const uint8_t* header);
  // Fills every record; 0, or 1 when memory cannot be had (everything released).
  int32_t (*Fill)(const ListingContext& context);

  // True for the records of this type that this row extracts (NULL: all of them); the
  // frame hands every other record to the raw copy.
  bool (*Takes)(const ArchiveEntry& entry);
  // The size of the block handed to the host for this record, in *size; false when the
  // reader refuses the record's size (the frame then returns 1 and allocates nothing).
  bool (*BlockSize)(const ArchiveEntry& entry, uint32_t* size);
  // Writes the record's plain bytes into out[0, capacity), capacity being BlockSize's
  // answer. out is zero-filled, and NULL when capacity is 0; stored holds the packedSize
  // bytes the host read for the record. 0, or 1 when the reader's own working memory
  // cannot be had (the frame then frees the block and stores nothing).
  int32_t (*Decode)(const uint8_t* stored, const ArchiveEntry& entry, uint8_t* out,
                    uint32_t capacity);
  // True when a successful extraction writes the record's size back with its upper half
  // cleared; the raw copy leaves the record as it is.
  bool rewritesSize;
};
