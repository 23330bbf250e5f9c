// The PKG half of the check: the directory, each record's values, and the strict walk of
// each LZ-coded entry's stream, read in pieces.
#include <algorithm>
#include <cstring>

#include "bytes/byte_order.h"
#include "pkg/pkg.h"
#include "reference/reference.h"
#include "tools/check/check_internal.h"

namespace {

// The stored bytes of an LZ stream read at a time.
constexpr size_t kPieceBytes = 64 * 1024;

std::string LzFaultMessage(const CPkgLzStrictCheck& c, const CheckedRecord& r) {
  const std::string at = " (stored byte " + std::to_string(c.storedAt()) + ")";
  switch (c.fault()) {
    case PkgLzFault::kNone: break;
    case PkgLzFault::kHeaderCut:
      return "its " + std::to_string(r.packedSize) +
             " stored bytes are too few for the LZ header (" + std::to_string(kPkgLzHeaderSize) +
             " bytes)";
    case PkgLzFault::kLengthMismatch:
      return "its LZ header counts " + std::to_string(c.decodedLength()) +
             " plain bytes; the directory " + std::to_string(r.size);
    case PkgLzFault::kEndMismatch:
      return "its LZ stream ends at byte " + std::to_string(c.endOffset()) +
             " by its header; its stored bytes end at " + std::to_string(r.packedSize);
    case PkgLzFault::kTokenPastEnd:
      return "the LZ stream's last token is cut by the end of its stored bytes" + at;
    case PkgLzFault::kDistance:
      return "a copy at plain byte " + std::to_string(c.plainAt()) + " reaches " +
             std::to_string(c.value()) + " bytes back, before the first plain byte" + at;
    case PkgLzFault::kOverrun:
      return "the LZ stream's last copy makes " + std::to_string(c.value()) +
             " bytes more than its " + std::to_string(r.size) + " plain bytes" + at;
    case PkgLzFault::kShort:
      return "the LZ stream ends after " + std::to_string(c.plainAt()) + " of its " +
             std::to_string(r.size) + " plain bytes";
    case PkgLzFault::kTrailing:
      return "the LZ stream makes its " + std::to_string(r.size) + " plain bytes with " +
             std::to_string(c.value()) + " stored bytes left" + at;
  }
  return "the LZ stream is damaged";
}

}  // namespace

void OpenPkg(ArchiveCheckState* a, const uint8_t* header) {
  // The PKG test admits only a count above 0.
  const uint32_t n = static_cast<uint32_t>(le32s(header + kPkgHeaderEntryCountAt));
  a->count = n;
  const uint64_t fileSize = a->fileSize;
  const uint64_t directoryEnd = kPkgHeaderSize + uint64_t{kPkgDirEntrySize} * n;
  uint64_t held = n;
  if (directoryEnd > fileSize) {
    AddFault(&a->faults, CheckFaultKind::kTables,
             "the directory runs past the end of the file: it ends at " +
                 std::to_string(directoryEnd) + FileEndsAt(fileSize));
    held = fileSize > kPkgHeaderSize ? (fileSize - kPkgHeaderSize) / kPkgDirEntrySize : 0;
    a->pastFault = CheckFault{CheckFaultKind::kRecord,
                              "record past the end of the file" + FileEndsAt(fileSize)};
  }
  std::vector<uint8_t> directory(static_cast<size_t>(held * kPkgDirEntrySize));
  if (!directory.empty() && !a->read(kPkgHeaderSize, directory.data(), directory.size())) {
    AddFault(&a->faults, CheckFaultKind::kRead, "the directory cannot be read");
    a->pastFault = CheckFault{CheckFaultKind::kRead, "the directory cannot be read"};
    return;
  }
  a->records.resize(static_cast<size_t>(held));
  for (size_t i = 0; i < a->records.size(); ++i) {
    const uint8_t* e = directory.data() + i * kPkgDirEntrySize;
    CheckedRecord& r = a->records[i];
    const char* name = reinterpret_cast<const char*>(e + kPkgDirNameAt);
    r.name.assign(name, std::find(name, name + kPkgDirNameBytes, 0));
    const int32_t size = le32s(e + kPkgDirSizeAt);
    const int32_t packedSize = le32s(e + kPkgDirPackedSizeAt);
    const int32_t offset = le32s(e + kPkgDirOffsetAt);
    r.param = le32(e + kPkgDirCompressedAt);
    if (size < 0 || packedSize < 0 || offset < 0) {
      std::string what = size < 0 ? "size" : packedSize < 0 ? "stored size" : "offset";
      const int32_t value = size < 0 ? size : packedSize < 0 ? packedSize : offset;
      AddFault(&r.found, CheckFaultKind::kRecord,
               "its " + what + " is negative (" + std::to_string(value) + ")");
      continue;
    }
    r.size = static_cast<uint64_t>(size);
    r.packedSize = static_cast<uint64_t>(packedSize);
    r.offset = static_cast<uint64_t>(offset);
    r.walk = r.param == kPkgCompressedLz;
    if (r.param != kPkgCompressedLz && r.packedSize != r.size) {
      AddFault(&r.found, CheckFaultKind::kStoredSize,
               "a stored entry of " + std::to_string(r.size) + " plain bytes with " +
                   std::to_string(r.packedSize) + " stored bytes");
    }
    CheckStoredBounds(*a, directoryEnd, &r);
  }
}

void WalkPkg(const ArchiveCheckState& a, const CheckedRecord& r, EntryCheckerState* state,
             std::vector<CheckFault>* faults) {
  CPkgLzStrictCheck check(r.packedSize, r.size);
  if (state->in.size() < kPieceBytes) state->in.resize(kPieceBytes);
  // Open held the stored bytes to the file.
  for (uint64_t done = 0; done < r.packedSize;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(r.packedSize - done, kPieceBytes));
    if (!a.read(r.offset + done, state->in.data(), n)) {
      AddFault(faults, CheckFaultKind::kRead,
               "stored bytes cannot be read at " + std::to_string(r.offset + done));
      return;
    }
    done += n;
    if (!check.Feed(state->in.data(), n)) break;
  }
  if (check.Finish() != PkgLzFault::kNone) {
    AddFault(faults, CheckFaultKind::kLzStream, LzFaultMessage(check, r));
  }
}
