// Archives that the archive check's tests and `varel test`'s share: a mix of entries that
// meets every kind of PSARC block, the writer's later PSARC layouts, and PKG containers and
// LZ streams laid out field by field, for faults no writer makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pkg/pkg.h"
#include "tests/support/test_support.h"
#include "tools/writers/archive_input.h"
#include "tools/writers/psarc_writer.h"

// PSARC entries: 1 a.txt (three compressed blocks), 2 b.bin (one plain block of 1000
// bytes), 3 Dir/Mixed.TXT (one compressed block), 4 dir/d.txt, 5 empty, 6 exact (one block
// stored whole), 7 dir/e.bin (whole, then plain). PKG: the same from 0.
std::vector<ArchiveInput> MixedInputs();

// Packs the entries with WritePsarc and the options (asserting it succeeds).
Bytes PackPsarcWith(const std::vector<ArchiveInput>& inputs, const PsarcWriterOptions& options);

// The later layouts the writer makes, each with what it is called in a test's trace.
struct PsarcLayoutCase {
  const char* what;
  PsarcWriterOptions options;
};
std::vector<PsarcLayoutCase> LaterPsarcLayouts();

// The fields that tests edit. PSARC: the row of record i in the table of contents, the
// place and value of block-size value k, a record's first block index and offset.
size_t Row(size_t i);
size_t ValueAt(const Bytes& a, size_t k);
uint32_t Param(const Bytes& a, size_t i);
uint64_t Offset(const Bytes& a, size_t i);
uint32_t Value(const Bytes& a, size_t k);
// Writes v big-endian in width bytes at `at`.
void PutBe(Bytes* a, size_t at, uint64_t v, size_t width);
void SetValue(Bytes* a, size_t k, uint32_t v);
// PKG: directory entry i's 32-bit fields.
size_t PkgRowAt(size_t i);
uint32_t PkgField(const Bytes& a, size_t i, size_t field);
void SetPkgField(Bytes* a, size_t i, size_t field, uint32_t v);

// A PKG container: header, directory, then each entry's stored bytes in order.
struct PkgRow {
  std::string name;
  Bytes stored;
  int32_t size;  // the directory's plain size
  uint32_t compressed = kPkgCompressedLz;
};
Bytes PkgOf(const std::vector<PkgRow>& rows);

// An LZ stream: its 12-byte header (plain length, end offset, escape byte), then tokens.
Bytes LzStream(uint8_t escape, int32_t decodedLength, int32_t endOffset, const Bytes& tokens);
