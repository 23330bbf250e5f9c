// What the archive check's parts share: the tables Open reads, and the per-thread state of
// an entry checker. Not for callers: archive_check.h is the interface.
#pragma once

#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/check/archive_check.h"

// One record as Open found it.
struct CheckedRecord {
  uint64_t offset = 0;      // first stored byte in the file
  uint64_t packedSize = 0;  // stored bytes
  uint64_t size = 0;        // plain bytes
  uint32_t param = 0;       // PSARC: first block index; PKG: compression word
  bool walk = false;        // Open found nothing that keeps the entry from being decoded
  std::string name;
  std::vector<CheckFault> found;  // faults and notes found by Open (record, digest, shared)
};

struct ArchiveCheckState {
  CheckReadFn read;
  uint64_t fileSize = 0;
  int32_t type = 0;
  uint32_t count = 0;  // records the header declares
  std::vector<CheckFault> faults;
  // The records that lie inside the file (and the table); records from records.size() to
  // count carry pastFault alone.
  std::vector<CheckedRecord> records;
  CheckFault pastFault{CheckFaultKind::kRecord, std::string()};
  // PSARC.
  uint32_t blockSize = 0;
  std::vector<uint32_t> blockValues;
};

// What a checker keeps between entries.
struct EntryCheckerState {
  std::vector<uint8_t> in;   // one block's stored bytes, or one piece of an LZ stream
  std::vector<uint8_t> out;  // one block's plain bytes and one more
  z_stream zlib{};
  bool zlibReady = false;
  libdeflate_decompressor* fast = nullptr;  // asked for at the first compressed block

  EntryCheckerState() = default;
  ~EntryCheckerState();
  EntryCheckerState(const EntryCheckerState&) = delete;
  EntryCheckerState& operator=(const EntryCheckerState&) = delete;
};

// Adds a fault or note.
inline void AddFault(std::vector<CheckFault>* faults, CheckFaultKind kind, std::string message) {
  faults->push_back(CheckFault{kind, std::move(message)});
}

// " (the file ends at N bytes)".
std::string FileEndsAt(uint64_t fileSize);

// The stored bytes [offset, offset + packedSize) against the file and the tables, which end
// at tablesEnd: a kStoredBytes fault, or nothing. An entry with no stored bytes has nothing
// to lose.
void CheckStoredBounds(const ArchiveCheckState& archive, uint64_t tablesEnd, CheckedRecord* r);
// Notes on the records whose stored bytes are another's, in whole or in part.
void NoteSharedBytes(ArchiveCheckState* archive);

// The formats' halves of Open and Check. Open: fills archive from its header bytes (at
// least kHostHeaderBytes, zero past the file). Walk: the entry's stored bytes decoded,
// adding at most one fault; plain receives the plain bytes when not NULL.
void OpenPsarc(ArchiveCheckState* archive, const uint8_t* header);
void OpenPkg(ArchiveCheckState* archive, const uint8_t* header);
void WalkPsarc(const ArchiveCheckState& archive, const CheckedRecord& r, EntryCheckerState* state,
               std::vector<CheckFault>* faults, std::vector<uint8_t>* plain);
void WalkPkg(const ArchiveCheckState& archive, const CheckedRecord& r, EntryCheckerState* state,
             std::vector<CheckFault>* faults);
