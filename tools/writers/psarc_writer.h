// Writes PSARC archives. The layout: a 32-byte header; the table of contents, 30 bytes per
// entry (a name digest, the first block's index, the plain size and the offset, 40 bits
// each); the block-size table, one big-endian u16 per block; then every entry's blocks in
// the order the entries were given. Entry 0 is the name list: the other entries' names
// joined by "\n", in the order given. Each 64 KiB piece of an entry is one block, compressed
// with zlib where that makes it smaller and stored otherwise.
//
// The later layout, which readers name by digest, is chosen field by field in the options:
// header flags 0x04 (table of contents in the order of the name digests), 0x08 (names
// sorted and separated by zero bytes), 0x01 (digests of the upper-cased names), 0x02
// (names that begin with '/'), and entries of identical contents stored once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "psarc/psarc.h"
#include "tools/writers/archive_input.h"
#include "tools/writers/archive_stream.h"

struct PsarcWriterOptions {
  int level = 9;  // zlib level of the blocks (levels 7 to 9 give blocks beginning 0x78 0xDA)
  // Threads compressing blocks; every number gives the same archive.
  unsigned jobs = 1;
  PackProgressFn onProgress;  // called after each piece written, when set

  // The later layout. All off: the layout above, named by position.
  bool tocByDigest = false;         // flag 0x04: entries 1 on ordered by their digests' bytes
  bool zeroSeparated = false;       // flag 0x08: names sorted by their bytes, a zero byte between
  bool zeroAfterLastName = false;   // with zeroSeparated: a zero after the last name too
  bool upperCaseDigests = false;    // flag 0x01: digests of the names with a-z upper-cased
  bool leadingSlash = false;        // flag 0x02: every name written with a leading '/'
  bool digestWithoutSlash = false;  // with leadingSlash: digests of the names without it
  // Entries whose contents have the same size and MD5 are stored once: each later one's
  // record points to the first one's blocks. The entries are read twice.
  bool shareIdentical = false;
};

// What a PSARC archive holds: entries below 2 GiB (the reader walks sizes that fit 31
// bits), names a listing gives back whole (255 bytes), 40-bit offsets.
ArchiveLimits PsarcLimits();

// Builds an archive from the entries, in their order, into sink: the tables are reserved,
// the blocks written behind them as they are compressed, the tables filled in last. False,
// with error saying why, for input the format cannot hold (checked before anything is
// compressed), a read or write that fails, or memory that runs out; sink then holds a
// partial archive, which the caller discards.
bool WritePsarc(CEntrySource& entries, const PsarcWriterOptions& options, CArchiveSink* sink,
                std::string* error);

// The same archive, built in memory.
bool WritePsarc(const std::vector<ArchiveInput>& entries, const PsarcWriterOptions& options,
                std::vector<uint8_t>* out, std::string* error);

// ---- The layout underneath, for hand-made and deliberately odd archives. ----

constexpr uint32_t kPsarcWriterVersion = 0x00010004;

// One stored block: its block-size table value (0: stored whole, blockSize bytes) and the
// bytes it occupies in the archive.
struct PsarcBlock {
  uint32_t value = 0;
  std::vector<uint8_t> bytes;
};

// One table-of-contents entry, field by field.
struct PsarcLayoutEntry {
  uint8_t digest[16] = {};         // 16-byte name digest; read when the flags say so
  uint32_t firstBlock = 0;         // index into blockValues
  uint64_t size = 0;               // plain size, written as 40 bits
  uint64_t dataOffset = 0;         // position in `data`; the bytes before the data are added
  std::optional<uint64_t> offset;  // an absolute file position instead (40 bits)
};

// A whole archive: header fields, entries, block-size values and the stored bytes, which
// follow the block-size table in the file. Every field can be set to an odd value.
struct PsarcLayout {
  char magic[4] = {'P', 'S', 'A', 'R'};
  uint32_t version = kPsarcWriterVersion;
  char compression[4] = {'z', 'l', 'i', 'b'};
  uint32_t tocEntrySize = kPsarcTocEntrySize;
  uint32_t blockSize = kPsarcBlockSize;
  uint32_t flags = 0;  // kPsarcFlag... bits
  std::vector<PsarcLayoutEntry> entries;
  std::vector<uint32_t> blockValues;  // each written big-endian in valueWidth bytes
  uint32_t valueWidth = 2;
  std::vector<uint8_t> data;
  // The header's tocLength: by default the 32 header bytes, the entries and the block-size
  // table, which is where the blocks begin.
  std::optional<uint32_t> tocLength;
  std::optional<uint32_t> tocEntryCount;  // by default entries.size()
};

// Lays the archive out: header, entries (30 bytes each whatever tocEntrySize says),
// block-size table, data.
std::vector<uint8_t> WritePsarcLayout(const PsarcLayout& layout);

// Appends an entry whose stored bytes are the given blocks, in order: their bytes go to
// the end of `data`, their values to the end of the block-size table. Returns its index.
size_t AppendPsarcEntry(PsarcLayout* layout, uint64_t size, const std::vector<PsarcBlock>& blocks);

// The blocks WritePsarc stores for one entry's bytes: each 64 KiB piece compressed at
// `level` when that is smaller, otherwise stored (value 0 for a whole block, the length
// for a short one).
std::vector<PsarcBlock> PsarcBlocksOf(const uint8_t* data, size_t length, int level);

// The 16-byte digest WritePsarc puts at the head of a named entry: MD5 of the name.
void PsarcNameDigest(const std::string& name, uint8_t digest[16]);
// The name with the ASCII letters a-z upper-cased, every other byte as it is.
std::string PsarcUpperCased(const std::string& name);
