// PSARC reader: recognition, the table of contents and the block walk.
//
// A PSARC archive is a 32-byte big-endian header, a table of contents of 30-byte entries,
// a table of stored block sizes, then the entries' blocks. Every block but an entry's
// last stands for blockSize plain bytes; a table value of 0 marks a block stored whole,
// any other value is the number of bytes the block occupies in the archive. Entry 0, the
// manifest, holds the names of the other entries, one per line. In the later layout (header
// flags 0x04 or 0x08) the names may be sorted and separated by zero bytes, and each entry
// is named by the name whose MD5 is the digest at the head of its table row.
#pragma once

#include <cstdint>

#include "host/host_records.h"
#include "memory/memory.h"
#include "plugin/format_reader.h"

// Header fields (big-endian u32 unless said otherwise).
constexpr uint32_t kPsarcHeaderMagicAt = 0;        // "PSAR"
constexpr uint32_t kPsarcHeaderVersionAt = 4;      // not read
constexpr uint32_t kPsarcHeaderCompressionAt = 8;  // "zlib"
constexpr uint32_t kPsarcHeaderTocLengthAt = 12;   // bytes read from kPsarcHeaderSize on
constexpr uint32_t kPsarcHeaderTocEntrySizeAt = 16;
constexpr uint32_t kPsarcHeaderTocEntryCountAt = 20;
constexpr uint32_t kPsarcHeaderBlockSizeAt = 24;
constexpr uint32_t kPsarcHeaderFlagsAt = 28;
constexpr uint32_t kPsarcHeaderSize = 32;  // the table of contents starts here
// The magic and the one compression recognition admits.
constexpr uint8_t kPsarcMagic[4] = {'P', 'S', 'A', 'R'};
constexpr uint8_t kPsarcZlib[4] = {'z', 'l', 'i', 'b'};

// Header flags of the later layout, in which the listing names entries by digest.
constexpr uint32_t kPsarcFlagUpperCaseDigests = 0x01;  // digests of the upper-cased names
constexpr uint32_t kPsarcFlagLeadingSlash = 0x02;      // names begin with '/'
constexpr uint32_t kPsarcFlagTocByDigest = 0x04;       // entries in the order of their digests
constexpr uint32_t kPsarcFlagZeroSeparated = 0x08;     // names sorted, separated by zero bytes

// Table-of-contents entry fields.
constexpr uint32_t kPsarcTocEntrySize = 30;
constexpr uint32_t kPsarcTocDigestAt = 0;  // 16 bytes: MD5 of the entry's name

// The manifest names a listing compares with the entries' digests: the first of them, at
// least this many, or twice as many as named entries when that is more. A manifest of more
// names is hostile (or padded with zeros up to a size it declares); the bound keeps the
// work in proportion to the entries.
constexpr uint64_t kPsarcDigestNamesAtLeast = 65536;
constexpr uint32_t kPsarcTocFirstBlockAt = 16;  // u32: index into the block-size table
constexpr uint32_t kPsarcTocPlainSizeAt = 20;   // 40-bit plain size
constexpr uint32_t kPsarcTocOffsetAt = 25;      // 40-bit file position of the first block

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
// one registered before), names the entries from the manifest: by position, or, when the
// header has flag 0x04 or 0x08, each by the name whose digest is its own (by position where
// none is). 0, or 1 when heap memory runs short (nothing is then registered).
int32_t PsarcFill(const ListingContext& context);
// The type-1 extraction, for the frame: a block of exactly the entry's size L (low 32 bits
// of `size`). Sizes whose work buffer (L + kPsarcWorkMargin) would not fit in 32 bits are
// refused, as DecodeEntryFromBuffer refuses them.
bool PsarcBlockSize(const ArchiveEntry& entry, uint32_t* size);
// The block walk over the host's stored bytes straight into the host's block. 1 when the
// scratch buffer a record whose packedSize falls short of its blocks needs cannot be had.
int32_t PsarcDecode(const uint8_t* stored, const ArchiveEntry& entry, uint8_t* out,
                    uint32_t capacity);

// The number of blocks an entry covers: one per started blockSize bytes of its size (the
// low 32 bits of `size`, read as signed, so 2 GiB or more covers none), ending early at
// the end of the block-size table. The listing's packed sizes and both walks use it, so a
// walk consumes exactly the packedSize the listing reported.
uint32_t PsarcEntryBlockCount(const ArchiveEntry& entry, uint32_t blockSize,
                              const CStoredSizes& storedSizes);
// The stored bytes of those blocks: a value of 0 counts as blockSize.
uint64_t PsarcPackedSize(const ArchiveEntry& entry, uint32_t blockSize,
                         const CStoredSizes& storedSizes);

// How a walk inflates the blocks that go to zlib. Every block's result is defined by
// zlib's uncompress (kZlibOnly). kFast first tries libdeflate's whole-stream decoder and
// keeps its result only where zlib's is the same bytes; it may differ only for streams
// zlib rejects for a reserved or out-of-range code that libdeflate reads as a valid one,
// and only when they also pass the Adler-32 check (docs/inflate.md).
enum class PsarcInflate { kFast, kZlibOnly };

// The block walk, over the archive file: each block is read through source->file from the
// entry's `offset` on (bytes a read does not deliver read as zero). output is given the
// entry's size + kPsarcWorkMargin bytes, zero beyond what the blocks produce; it stays
// empty (data NULL) when that buffer or the walk's one blockSize scratch buffer cannot be
// had, or the size does not fit. storedSizes holds the archive's u32 block values.
void DecodeEntryFromFile(const ArchiveSource* source, Cbuffer* output,
                         const CStoredSizes& storedSizes, uint32_t blockSize,
                         const ArchiveEntry* entry, PsarcInflate inflate = PsarcInflate::kFast);
// The same walk over the entry's stored bytes as the host hands them in: entry->packedSize
// bytes at stored, read in place; bytes past packedSize read as zero.
void DecodeEntryFromBuffer(Cbuffer* output, const CStoredSizes& storedSizes, uint32_t blockSize,
                           const ArchiveEntry* entry, const uint8_t* stored,
                           PsarcInflate inflate = PsarcInflate::kFast);
