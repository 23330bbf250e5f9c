// The strict check of an archive's integrity, for `varel test`: what the plug-in cannot
// tell its host, since by its contract it turns damage into bytes or zeros with result 0.
//
// The check reads the archive through a caller's read function, never through the plug-in,
// and decodes with decoders of its own that stop at the first fault: zlib's inflate for
// PSARC blocks, the strict escape-byte LZ check for PKG entries. It holds
//   - every record and every entry's stored bytes against the file's size;
//   - PSARC: each entry's block indices inside the block table; each compressed block one
//     complete zlib stream that ends exactly at its stored bytes, its Adler-32 verified,
//     making exactly the plain bytes the block stands for; each plain block as long as its
//     plain bytes and each block stored whole where a whole block's plain bytes are due;
//     the manifest naming each record once; each record's 16-byte digest the MD5 of its name
//     in one of the forms the header's flags allow (as it stands, without its leading '/',
//     and under flag 0x01 upper-cased with and without it);
//   - PKG: each LZ-coded entry's stream, whose header must give the directory's plain size
//     and the entry's stored length, and whose tokens must make exactly that many plain
//     bytes, ending exactly at the stored bytes' end, no copy reaching before the first
//     plain byte; each stored entry as long as its plain size.
// Entries whose stored bytes are those of another entry (identical contents stored once)
// carry a note, not a fault.
//
// Use: CArchiveCheck::Open reads the header and tables (and the PSARC manifest) once; then
// any number of threads check entries at once, each through a CEntryChecker of its own:
//
//   CArchiveCheck archive;
//   if (!archive.Open(read, fileSize)) ...            // not PSARC or PKG
//   for (const CheckFault& f : archive.faults()) ...  // whole-archive faults
//   CEntryChecker checker(archive);                   // one per thread
//   EntryCheck result = checker.Check(index);         // index < archive.entryCount()
//
// Memory per checker is bounded (two block buffers and one zlib state), whatever the
// entry's size: blocks and LZ pieces are read one at a time. Open keeps one small record
// per table entry that lies inside the file, and the manifest's text.
//
// No exception leaves these functions: a shortage of memory is reported as a fault of kind
// kNoMemory (or, in Open, as a whole-archive fault).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Reads `size` bytes of the archive at `offset` into buffer: true when all of them were
// read. Called from several threads at once (a pread-style reader); the check never asks
// for bytes past the file size it was given.
typedef std::function<bool(uint64_t offset, void* buffer, size_t size)> CheckReadFn;

enum class CheckFaultKind : uint8_t {
  // Whole-archive faults.
  kTables,    // the header's tables are cut by the end of the file or do not fit together
  kManifest,  // the manifest is damaged, or does not name each record once
  // An entry's faults.
  kRecord,       // its record lies past the end of the file or of its table, or holds a
                 // value no reader can take (a negative PKG field, a size of 2 GiB or more)
  kStoredBytes,  // its stored bytes run past the end of the file, or into the tables
  kBlockTable,   // PSARC: its block indices run past the end of the block table (or its
                 // block sizes past the end of the file)
  kBlock,        // PSARC: a block is not what it stands for (does not inflate, wrong length)
  kLzStream,     // PKG: the LZ stream is not whole
  kStoredSize,   // PKG: a stored entry's stored bytes are not its plain size
  kDigest,       // PSARC: the record's digest is not the MD5 of its name
  kRead,         // the file could not be read where the entry lies
  kNoMemory,     // the check ran short of memory
  // Notes: what a reader may want to know, not damage.
  kShared,    // its stored bytes are another entry's too
  kNoDigest,  // PSARC: the record carries no digest (all 16 bytes zero), so its name is
              // not checked
};

// True for the kinds that are notes, not faults.
bool IsCheckNote(CheckFaultKind kind);
// The kind as a short word for machine output ("block", "lz-stream", "shared", ...).
const char* CheckFaultKindName(CheckFaultKind kind);

struct CheckFault {
  CheckFaultKind kind;
  // The reason, as a phrase that follows "entry 7: ", such as "block 3 of 5 does not
  // inflate: incorrect data check" or "stored bytes shared with entry 2".
  std::string message;
};

// One entry's result.
struct EntryCheck {
  uint32_t index = 0;  // the record's index, as the plug-in's listing numbers it
  std::string name;    // its name as the listing gives it (bytes of the archive's code page,
                       // before any cut to the listing's field)
  std::vector<CheckFault> faults;  // faults first, in the order found, then notes

  // True when no fault (notes aside) was found.
  bool ok() const;
};

struct ArchiveCheckState;

class CArchiveCheck {
 public:
  CArchiveCheck();
  ~CArchiveCheck();
  CArchiveCheck(const CArchiveCheck&) = delete;
  CArchiveCheck& operator=(const CArchiveCheck&) = delete;

  // Recognises the archive as the plug-in does (PSARC, then PKG), reads its header and
  // tables, and for PSARC decodes the manifest and finds every record's name. False when the
  // file is neither (type() is then 0); true otherwise, with what is wrong in faults().
  // Call once.
  bool Open(CheckReadFn read, uint64_t fileSize);

  // kTypePsarc, kTypePkg, or 0 when Open found neither.
  int32_t type() const;
  // Records as the plug-in lists them: the header's count (records past the end of the file
  // included; each of them checks with a kRecord fault).
  uint32_t entryCount() const;
  // Whole-archive faults: tables, manifest.
  const std::vector<CheckFault>& faults() const;

 private:
  friend class CEntryChecker;
  std::unique_ptr<ArchiveCheckState> state_;
};

struct EntryCheckerState;

// Checks entries of one opened archive. Holds its own buffers and zlib state: one checker
// per thread; any number of checkers may run at once over the same CArchiveCheck, which they
// only read.
class CEntryChecker {
 public:
  explicit CEntryChecker(const CArchiveCheck& archive);
  ~CEntryChecker();
  CEntryChecker(const CEntryChecker&) = delete;
  CEntryChecker& operator=(const CEntryChecker&) = delete;

  // Checks record `index` (below entryCount()): reads its stored bytes and decodes them,
  // stopping at the first fault. An index out of range gives a kRecord fault.
  EntryCheck Check(uint32_t index);

 private:
  const CArchiveCheck& archive_;
  std::unique_ptr<EntryCheckerState> state_;
};
