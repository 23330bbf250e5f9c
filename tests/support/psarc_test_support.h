// PSARC fixtures: archives packed by the writer, hand-made layouts block by block, a host
// extraction that pads short stored bytes as a host's zero-filled buffer does, and the
// corpus of well-formed and hostile archives that several tests run over.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

// Packs the entries with WritePsarc (asserting it succeeds).
Bytes PackPsarc(const std::vector<ArchiveInput>& entries, int level = 9);
// The same with WritePkg, for tests that take both formats.
Bytes PackPkg(const std::vector<ArchiveInput>& entries,
              PkgCompression compression = PkgCompression::kAuto);

// Pseudo-random bytes (incompressible) and repetitive text (compressible).
Bytes NoiseBytes(size_t n, uint32_t seed);
Bytes TextBytes(size_t n);

// One block of a hand-made entry.
PsarcBlock PlainBlock(const Bytes& bytes);            // value = its length (must be below 65536)
PsarcBlock FullBlock(const Bytes& bytes);             // value 0; bytes must be 65536 long
PsarcBlock ZlibBlock(const Bytes& plain, int level);  // compress2 at level

// A zlib stream (0x78 0xDA, level 9) exactly as long as the plain bytes it codes.
struct ExactStream {
  PsarcBlock block;
  Bytes plain;
};
ExactStream StreamAsLongAsItsPlainBytes();

// A layout whose entry 0 is the given manifest text, stored as one plain block (or none
// when empty); further entries are appended by the test.
PsarcLayout LayoutWithManifest(const std::string& manifest);

// The stored bytes a host hands in: packedSize bytes at offset, zero where the file ends.
Bytes StoredBytesOf(const Bytes& archive, const ArchiveEntry& entry);
// ExtractStored with those bytes.
HostExtraction ExtractPadded(const Bytes& archive, ArchiveEntry* entry);

// Entries larger than this are listed but not extracted by the helpers below: hostile
// tables can claim sizes near 2 GiB, which only the heap-shortage tests should meet.
constexpr uint32_t kPsarcTestMaxExtract = 16u << 20;

// Every entry listed and extracted (up to kPsarcTestMaxExtract bytes each).
struct PsarcRoundTrip {
  HostListing listing;
  std::vector<Bytes> contents;  // one per listed entry, entry 0 included; empty when skipped
};
PsarcRoundTrip ListAndExtractAll(const Bytes& archive);

struct PsarcCorpusCase {
  std::string name;
  Bytes archive;
};
// Well-formed archives (every zlib level, sizes around the block boundary, many entries)
// and hostile ones (tables cut short, indices past the table, blocks that overrun, short
// files, odd zlib streams).
const std::vector<PsarcCorpusCase>& PsarcCorpus();
