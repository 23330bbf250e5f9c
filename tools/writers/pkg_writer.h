// Writes PKG containers. The layout: an 8-byte header {0, entry count}; one 80-byte
// directory row per entry {name in 64 bytes, zero-padded; plain size; stored size; offset
// from the container's start; compressed flag}; then each entry's stored bytes in entry
// order: LZ-coded (a 12-byte header and the tokens) where that makes them smaller, or the
// plain bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pkg/pkg.h"
#include "tools/writers/archive_input.h"
#include "tools/writers/archive_stream.h"

// The longest name a directory entry holds with its terminator.
constexpr size_t kPkgMaxNameBytes = kPkgDirNameBytes - 1;

enum class PkgCompression {
  kAuto,    // LZ-coded when that is smaller, stored otherwise
  kNever,   // every entry stored
  kAlways,  // every entry LZ-coded
};

struct PkgWriterOptions {
  PkgCompression compression = PkgCompression::kAuto;
  // Threads coding entries; every number gives the same container.
  unsigned jobs = 1;
  PackProgressFn onProgress;  // called after each piece written, when set
};

// What a PKG container holds: sizes and offsets are signed 32-bit, so entries below 2 GiB
// in a container of at most 2 GiB - 1 bytes; names of kPkgMaxNameBytes bytes.
ArchiveLimits PkgLimits();

// Builds a container from the entries, in their order, into sink: the directory is
// reserved, each entry's stored bytes are written behind it as they are coded, and the
// directory is filled in last. An entry is coded in segments on the threads, and its escape
// byte is chosen by a first read of the whole entry. False, with error saying why, for
// input the format cannot hold (no entries, a name or an entry too large: checked before
// anything is coded; a container that grows past 2 GiB), a read or write that fails, or
// memory that runs out; sink then holds a partial container, which the caller discards.
bool WritePkg(CEntrySource& entries, const PkgWriterOptions& options, CArchiveSink* sink,
              std::string* error);

// The same container, built in memory.
bool WritePkg(const std::vector<ArchiveInput>& entries, const PkgWriterOptions& options,
              std::vector<uint8_t>* out, std::string* error);

// How the LZ encoder chooses its tokens. The writer uses the defaults; the other choices
// exist to be measured against them.
enum class PkgLzParse {
  kGreedy,   // at each position the longest copy, where it is shorter than the literals
  kLazy,     // the same, unless the next position starts a longer copy
  kOptimal,  // the fewest coded bytes for the segment (a shortest path over its positions)
};
constexpr size_t kPkgLzDefaultSegmentBytes = 64 * 1024;
struct PkgLzSettings {
  PkgLzParse parse = PkgLzParse::kOptimal;
  // Every distance from 1 to 254 is tried at every position, instead of the positions that
  // share the next three bytes: slow, but finds every copy the format can express.
  bool everyDistance = false;
  // The plain bytes coded at a time (0: the whole entry at once); see pkg_lz_encoder.h.
  size_t segmentBytes = kPkgLzDefaultSegmentBytes;
};

// The escape-byte LZ coding of one entry's bytes: the 12-byte header {decodedLength =
// length, endOffset = the coded size, escape byte} and the tokens. The escape byte is the
// least frequent byte value of the data (the lowest on ties); copies reach 1 to 254 bytes
// back with counts up to 255, and runs of zeros are coded as distance-0 copies, which the
// decoder's zeroed block turns into zeros. length must be below 2 GiB (WritePkg refuses
// larger entries); data may be null when length is 0.
std::vector<uint8_t> EncodePkgLz(const uint8_t* data, size_t length,
                                 const PkgLzSettings& settings = PkgLzSettings());
