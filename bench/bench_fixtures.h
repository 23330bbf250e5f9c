// Inputs and baselines the benchmark cases are built from: temporary archive files opened
// as a host opens them, the blocks of a PSARC entry as the archive stores them, the zlib
// baselines, and the 100,000-entry tables of the listing benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "plugin/format_reader.h"
#include "tools/plugin_host/host_file.h"

struct libdeflate_decompressor;

// Stops the program with a message: timing a wrong result, or a missing input, is worthless.
[[noreturn]] void BenchFail(const std::string& what);

// Bytes written to a temporary file and opened for reading with CreateFileA; the file is
// removed with the object.
class CBenchTempFile {
 public:
  explicit CBenchTempFile(const std::vector<uint8_t>& bytes);
  ~CBenchTempFile();
  CBenchTempFile(const CBenchTempFile&) = delete;
  CBenchTempFile& operator=(const CBenchTempFile&) = delete;

  const ArchiveSource* source() const { return file_.source(); }
  HANDLE handle() const { return file_.source()->file; }

 private:
  std::string path_;
  CHostFile file_;
};

// One block of a PSARC entry: where its stored bytes start (from the entry's first stored
// byte), how many there are, and how many plain bytes it stands for.
struct EntryBlock {
  uint32_t start;
  uint32_t storedLength;
  uint32_t plainLength;
  bool deflated;  // begins 0x78 0xDA: inflated, else copied
};

// The record a listing fills for entry i of a PSARC archive, from its table of contents:
// size, offset and first block (packedSize 0, no name).
ArchiveEntry PsarcTocRecord(const std::vector<uint8_t>& archive, uint32_t i);

// The blocks of one listed entry, read from the archive's own header and block-size table.
std::vector<EntryBlock> PsarcEntryBlocks(const std::vector<uint8_t>& archive,
                                         const ArchiveEntry& record);

// The baseline work of a PSARC extraction: every block inflated with bare `uncompress`
// (or copied) straight into out, which has room for capacity bytes.
void InflateBlocks(const uint8_t* stored, const std::vector<EntryBlock>& blocks, uint8_t* out,
                   size_t capacity);

// The same with libdeflate's whole-stream decoder, each deflated block decoded into room for
// exactly its plain bytes: the fastest any reader of these blocks can go.
void InflateBlocksLibdeflate(libdeflate_decompressor* decompressor, const uint8_t* stored,
                             const std::vector<EntryBlock>& blocks, uint8_t* out, size_t capacity);

// A PSARC archive whose table of contents lists `entries` entries, entry 0 being the
// manifest of their names. Sizes are spread log-uniformly from 1 byte to 8 MiB; the stored
// bytes of entries 1 onward are not written, since a listing never reads them (their
// offsets point where the writer would put them).
std::vector<uint8_t> BuildListingPsarc(uint32_t entries);
// The name BuildListingPsarc gives entry i (1 or more), like a game's asset tree.
std::string ListingPsarcName(uint32_t i);
// The same archive in the later layout: each row's digest the MD5 of its entry's name, the
// rows from entry 1 on in the order of their digests, header flag 0x04; the manifest still
// lists the names in the entries' first order, so that only names found by digest are right.
std::vector<uint8_t> BuildDigestListingPsarc(uint32_t entries);

// The floor of a listing: the table region read with one positioning and one read into a
// fresh heap buffer, and a zero-filled record block of region.count records locked, touched
// once per record, unlocked and freed.
void ListingFloor(HANDLE file, const ListingRegion& region);
// The manifest's share of the PSARC floor: its stored bytes read with one read and
// inflated block by block into a fresh buffer.
void ManifestFloor(HANDLE file, const ArchiveEntry& manifest,
                   const std::vector<EntryBlock>& blocks);
