// PSARC reader: recognition, the table of contents and the block walk.
//
// A PSARC archive is a 32-byte big-endian header, a table of contents of 30-byte entries,
// a table of stored block sizes, then the entries' blocks. Every block but an entry's
// last stands for blockSize plain bytes; a table value of 0 marks a block stored whole,
// any other value is the number of bytes the block occupies in the archive. Entry 0, the
// manifest, holds the names of the other entries, one per line.
#pragma once

#include <cstdint>

#include "host/host_records.h"
#include "memory/memory.h"
#include "plugin/format_reader.h"

// Header fields (big-endian u32 unless said otherwise).
constexpr uint32_t kPsarcHeaderMagic = 0;        // "PSAR"
constexpr uint32_t kPsarcHeaderCompression = 8;  // "zlib"
constexpr uint32_t kPsarcHeaderTocLength = 12;   // bytes read from kPsarcHeaderSize on
constexpr uint32_t kPsarcHeaderTocEntrySize = 16;
constexpr uint32_t kPsarcHeaderTocEntryCount = 20;
constexpr uint32_t kPsarcHeaderBlockSize = 24;
constexpr uint32_t kPsarcHeaderSize = 32;  // the table of contents starts here

// Table-of-contents entry fields.
constexpr uint32_t kPsarcTocEntrySize = 30;
constexpr uint32_t kPsarcTocFirstBlock = 16;  // u32: index into the block-size table
constexpr uint32_t kPsarcTocSize = 20;        // 40-bit plain size
constexpr uint32_t kPsarcTocOffset = 25;      // 40-bit file position of the first block

// The one block size recognition admits.
constexpr uint32_t kPsarcBlockSize = 65536;
// Spare bytes of the work buffer beyond an entry's size: the manifest text always has room
// for its terminator there.
constexpr uint32_t kPsarcWorkMargin = 10;

// True for a header with "PSAR", "zlib", 30-byte table entries and 65536-byte blocks.
bool PsarcTest(const uint8_t* header);
// Table region: tocLength bytes from file offset 32; tocEntryCount records.
ListingRegion PsarcRegion(const uint8_t* header);
// Fills the records, creates and registers the archive's BlockTable (or shares an identical
// one registered before), names the entries from the manifest. 0, or 1 when heap memory
// runs short (nothing is then registered).
int32_t PsarcFill(const ListingContext& context);
// The type-1 extraction: the entry's plain bytes in a new block of exactly its size (low
// 32 bits of `size`), `size` rewritten with its upper half cleared. 0, or 1 with nothing
// stored and the record untouched when memory cannot be had.
int32_t PsarcGetFile(const uint8_t* stored, ArchiveEntry* entry, HGLOBAL* contents);
// The same extraction through a work buffer of size + 10 bytes and a copy, as the walk was
// first written: the reference the direct path is held to. Not used by the plug-in.
int32_t PsarcGetFileThroughWorkBuffer(const uint8_t* stored, ArchiveEntry* entry,
                                      HGLOBAL* contents);

// The number of blocks an entry covers: one per started blockSize bytes of its size (the
// low 32 bits of `size`, read as signed, so 2 GiB or more covers none), ending early at
// the end of the block-size table. The listing's packed sizes and both walks use it, so a
// walk consumes exactly the packedSize the listing reported.
uint32_t PsarcEntryBlockCount(const ArchiveEntry& entry, uint32_t blockSize,
                              const CStoredSizes& storedSizes);
// The stored bytes of those blocks: a value of 0 counts as blockSize.
uint64_t PsarcPackedSize(const ArchiveEntry& entry, uint32_t blockSize,
                         const CStoredSizes& storedSizes);

// The block walk, over the archive file: each block is read through source->file from the
// entry's `offset` on (bytes a read does not deliver read as zero). output is given the
// entry's size + kPsarcWorkMargin bytes, zero beyond what the blocks produce; it stays
// empty (data NULL) when that buffer or the walk's one blockSize scratch buffer cannot be
// had, or the size does not fit. storedSizes holds the archive's u32 block values.
void DecodeEntryFromFile(const ArchiveSource* source, Cbuffer* output,
                         const CStoredSizes& storedSizes, uint32_t blockSize,
                         const ArchiveEntry* entry);
// The same walk over the entry's stored bytes as the host hands them in: entry->packedSize
// bytes at stored, read in place; bytes past packedSize read as zero.
void DecodeEntryFromBuffer(Cbuffer* output, const CStoredSizes& storedSizes, uint32_t blockSize,
                           const ArchiveEntry* entry, const uint8_t* stored);
