// The frame of the archive check: recognition, the records against the file, notes on
// shared stored bytes, and the per-entry dispatch to the formats' walks.
#include <algorithm>
#include <cstring>
#include <new>

#include "host/host_records.h"
#include "pkg/pkg.h"
#include "psarc/psarc.h"
#include "tools/check/check_internal.h"

bool IsCheckNote(CheckFaultKind kind) {
  return kind == CheckFaultKind::kShared || kind == CheckFaultKind::kNoDigest;
}

const char* CheckFaultKindName(CheckFaultKind kind) {
  switch (kind) {
    case CheckFaultKind::kTables: return "tables";
    case CheckFaultKind::kManifest: return "manifest";
    case CheckFaultKind::kRecord: return "record";
    case CheckFaultKind::kStoredBytes: return "stored-bytes";
    case CheckFaultKind::kBlockTable: return "block-table";
    case CheckFaultKind::kBlock: return "block";
    case CheckFaultKind::kLzStream: return "lz-stream";
    case CheckFaultKind::kStoredSize: return "stored-size";
    case CheckFaultKind::kDigest: return "digest";
    case CheckFaultKind::kRead: return "read";
    case CheckFaultKind::kNoMemory: return "no-memory";
    case CheckFaultKind::kShared: return "shared";
    case CheckFaultKind::kNoDigest: return "no-digest";
  }
  return "fault";
}

bool EntryCheck::ok() const {
  for (const CheckFault& f : faults) {
    if (!IsCheckNote(f.kind)) return false;
  }
  return true;
}

std::string FileEndsAt(uint64_t fileSize) {
  return " (the file ends at " + std::to_string(fileSize) + " bytes)";
}

void CheckStoredBounds(const ArchiveCheckState& archive, uint64_t tablesEnd, CheckedRecord* r) {
  if (r->packedSize == 0) return;
  const uint64_t fileSize = archive.fileSize;
  if (r->offset >= fileSize) {
    AddFault(&r->found, CheckFaultKind::kStoredBytes,
             "stored bytes past the end of the file" + FileEndsAt(fileSize));
  } else if (r->packedSize > fileSize - r->offset) {
    AddFault(&r->found, CheckFaultKind::kStoredBytes,
             "stored bytes cut by the end of the file" + FileEndsAt(fileSize));
  } else if (r->offset < tablesEnd) {
    AddFault(&r->found, CheckFaultKind::kStoredBytes,
             "stored bytes begin at " + std::to_string(r->offset) +
                 ", inside the tables (they end at " + std::to_string(tablesEnd) + ")");
  } else {
    return;
  }
  r->walk = false;
}

void NoteSharedBytes(ArchiveCheckState* archive) {
  std::vector<CheckedRecord>& records = archive->records;
  // The records with stored bytes inside the file, by where those bytes begin and end.
  std::vector<uint32_t> order;
  for (uint32_t i = 0; i < records.size(); ++i) {
    const CheckedRecord& r = records[i];
    if (r.packedSize != 0 && r.offset < archive->fileSize &&
        r.packedSize <= archive->fileSize - r.offset) {
      order.push_back(i);
    }
  }
  const auto before = [&records](uint32_t a, uint32_t b) {
    const CheckedRecord& x = records[a];
    const CheckedRecord& y = records[b];
    if (x.offset != y.offset) return x.offset < y.offset;
    if (x.packedSize != y.packedSize) return x.packedSize < y.packedSize;
    return a < b;
  };
  std::sort(order.begin(), order.end(), before);
  // Runs of the same bytes: each record of a run is noted with the run's lowest other
  // index. A record that begins inside the bytes of an earlier run overlaps the one that
  // reaches furthest.
  uint64_t reach = 0;
  uint32_t reacher = 0;
  bool any = false;
  for (size_t k = 0; k < order.size();) {
    const CheckedRecord& first = records[order[k]];
    size_t end = k + 1;
    while (end < order.size() && records[order[end]].offset == first.offset &&
           records[order[end]].packedSize == first.packedSize) {
      ++end;
    }
    // The run's indexes are in ascending order (the sort's last key).
    for (size_t m = k; m < end && end - k > 1; ++m) {
      const uint32_t other = order[m] == order[k] ? order[k + 1] : order[k];
      std::string note = "stored bytes shared with entry " + std::to_string(other);
      if (end - k > 2) note += " and " + std::to_string(end - k - 2) + " more";
      AddFault(&records[order[m]].found, CheckFaultKind::kShared, note);
    }
    if (any && first.offset < reach) {
      for (size_t m = k; m < end; ++m) {
        AddFault(&records[order[m]].found, CheckFaultKind::kShared,
                 "stored bytes overlap those of entry " + std::to_string(reacher));
      }
    }
    const uint64_t runEnd = first.offset + first.packedSize;
    if (!any || runEnd > reach) {
      reach = runEnd;
      reacher = order[k];
      any = true;
    }
    k = end;
  }
}

CArchiveCheck::CArchiveCheck() : state_(new (std::nothrow) ArchiveCheckState) {}
CArchiveCheck::~CArchiveCheck() = default;

bool CArchiveCheck::Open(CheckReadFn read, uint64_t fileSize) {
  if (state_ == nullptr) return false;
  ArchiveCheckState& s = *state_;
  try {
    s.read = std::move(read);
    s.fileSize = fileSize;
    // The first bytes as a host hands them to the plug-in: zero past the file's end.
    uint8_t header[kHostHeaderBytes] = {};
    const size_t n = fileSize < sizeof(header) ? static_cast<size_t>(fileSize) : sizeof(header);
    if (n != 0 && !s.read(0, header, n)) return false;
    if (PsarcTest(header)) {
      s.type = kTypePsarc;
      OpenPsarc(&s, header);
    } else if (PkgTest(header)) {
      s.type = kTypePkg;
      OpenPkg(&s, header);
    } else {
      return false;
    }
    NoteSharedBytes(&s);
  } catch (...) {
    // Only a shortage of memory throws here: what was found stands, the rest unchecked.
    s.records.clear();
    s.records.shrink_to_fit();
    AddFault(&s.faults, CheckFaultKind::kNoMemory, "out of memory while reading the tables");
    s.pastFault = CheckFault{CheckFaultKind::kNoMemory, "not checked: out of memory"};
  }
  return s.type != 0;
}

int32_t CArchiveCheck::type() const { return state_ != nullptr ? state_->type : 0; }
uint32_t CArchiveCheck::entryCount() const { return state_ != nullptr ? state_->count : 0; }

const std::vector<CheckFault>& CArchiveCheck::faults() const {
  static const std::vector<CheckFault> kNone;
  return state_ != nullptr ? state_->faults : kNone;
}

CEntryChecker::CEntryChecker(const CArchiveCheck& archive)
    : archive_(archive), state_(new (std::nothrow) EntryCheckerState) {}

CEntryChecker::~CEntryChecker() = default;

EntryCheckerState::~EntryCheckerState() {
  if (zlibReady) inflateEnd(&zlib);
  if (fast != nullptr) libdeflate_free_decompressor(fast);
}

EntryCheck CEntryChecker::Check(uint32_t index) {
  EntryCheck result;
  result.index = index;
  try {
    const ArchiveCheckState* a = archive_.state_.get();
    if (a == nullptr || state_ == nullptr) {
      AddFault(&result.faults, CheckFaultKind::kNoMemory, "not checked: out of memory");
      return result;
    }
    if (index >= a->count) {
      AddFault(&result.faults, CheckFaultKind::kRecord,
               "no such entry (the archive has " + std::to_string(a->count) + ")");
      return result;
    }
    if (index >= a->records.size()) {
      result.faults.push_back(a->pastFault);
      return result;
    }
    const CheckedRecord& r = a->records[index];
    result.name = r.name;
    // Open's faults, then the walk's, then the notes.
    for (const CheckFault& f : r.found) {
      if (!IsCheckNote(f.kind)) result.faults.push_back(f);
    }
    if (r.walk) {
      if (a->type == kTypePsarc) {
        WalkPsarc(*a, r, state_.get(), &result.faults, nullptr);
      } else {
        WalkPkg(*a, r, state_.get(), &result.faults);
      }
    }
    for (const CheckFault& f : r.found) {
      if (IsCheckNote(f.kind)) result.faults.push_back(f);
    }
  } catch (...) {
    // Only a shortage of memory throws here.
    result.faults.clear();
    result.faults.shrink_to_fit();
    try {
      AddFault(&result.faults, CheckFaultKind::kNoMemory, "not checked: out of memory");
    } catch (...) {
    }
  }
  return result;
}
