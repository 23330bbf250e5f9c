#include "tools/plugin_host/host_archive.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// A global block the plug-in handed over; freed however the caller leaves.
class CHandedBlock {
 public:
  explicit CHandedBlock(HGLOBAL block) : block_(block) {}
  ~CHandedBlock() {
    if (block_ != nullptr) GlobalFree(block_);
  }
  CHandedBlock(const CHandedBlock&) = delete;
  CHandedBlock& operator=(const CHandedBlock&) = delete;
  HGLOBAL get() const { return block_; }

 private:
  HGLOBAL block_;
};

}  // namespace

const char* CHostArchive::TypeName() const {
  switch (type_) {
    case kTypePsarc: return "psarc";
    case kTypePkg: return "pkg";
    default: return "unknown";
  }
}

bool CHostArchive::Open(const PluginExports& plugin, const std::string& path, std::string* error) {
  plugin_ = plugin;
  entries_.clear();
  names_.clear();
  damage_.clear();
  type_ = kTypeNone;
  if (!file_.Open(path, error)) return false;
  int32_t type = kTypeNone;
  plugin_.IsSupported(file_.source(), 1, &type);
  if (type == kTypeNone) {
    const std::string what = DescribeUnrecognised(file_.source()->header, file_.size());
    *error = path + ": " + (what.empty() ? "not an archive the plug-in recognises" : what);
    return false;
  }
  HGLOBAL handle = nullptr;
  int32_t count = 0;
  const int32_t result = plugin_.GetArchiveInfo(file_.source(), &handle, &count);
  CHandedBlock block(handle);
  if (result != kResultOk) {
    *error = path + (result == kResultNoMemory ? std::string(": not enough memory to list it")
                                               : ": the plug-in could not list it (result " +
                                                     std::to_string(result) + ")");
    return false;
  }
  if (count < 0 || (count > 0 && handle == nullptr)) {
    *error = path + ": the plug-in returned no entries";
    return false;
  }
  type_ = type;
  if (count == 0) return true;
  // Never read past the block, whatever count says.
  const size_t available = GlobalSize(handle) / sizeof(ArchiveEntry);
  if (available < static_cast<size_t>(count)) {
    *error = path + ": the plug-in's entry array is shorter than its count";
    return false;
  }
  try {
    entries_.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    *error = path + ": not enough memory for " + std::to_string(count) + " entries";
    return false;
  }
  const void* records = GlobalLock(handle);
  if (records == nullptr) {
    *error = path + ": cannot lock the plug-in's entry array";
    entries_.clear();
    return false;
  }
  std::memcpy(entries_.data(), records, entries_.size() * sizeof(ArchiveEntry));
  GlobalUnlock(handle);
  try {
    names_.reserve(entries_.size());
    for (const ArchiveEntry& e : entries_) names_.push_back(DecodeEntryName(e));
    damage_ = FindDamage(type_, file_.source()->header, fileSize(), entries_);
  } catch (const std::bad_alloc&) {
    *error = path + ": not enough memory for the names of " + std::to_string(count) + " entries";
    entries_.clear();
    names_.clear();
    damage_.clear();
    return false;
  }
  return true;
}

bool CHostArchive::Extract(size_t i, std::vector<uint8_t>* contents, std::string* error) {
  contents->clear();
  return Extract(
      i,
      [contents](const uint8_t* data, size_t n, std::string* sinkError) {
        try {
          contents->assign(data, data + n);
        } catch (const std::bad_alloc&) {
          *sinkError = "not enough memory for its contents";
          return false;
        }
        return true;
      },
      error);
}

bool CHostArchive::Extract(size_t i, const Sink& sink, std::string* error) {
  CEntryPiece piece;
  Read(i, &piece);
  piece.Decode();
  return piece.Deliver(sink, error);
}

void CHostArchive::Read(size_t i, CEntryPiece* piece) const {
  piece->plugin_ = plugin_;
  piece->read_ = true;
  piece->record_ = entries_.at(i);
  piece->where_ =
      path() + ": entry " + std::to_string(i) + " (" + PrintableName(names_.at(i).text) + ")";
  const ArchiveEntry& record = piece->record_;
  // Stored bytes past the end of the file were found when it was opened (FindDamage); a
  // file that shrank since shows as a short read below.
  if (damage_.at(i) != EntryDamage::kWhole) {
    piece->Fail(DamageReason(damage_[i], fileSize()));
    return;
  }
  const uint32_t size = static_cast<uint32_t>(record.size);
  // The plug-in extracts from the low 32 bits of size, read as signed.
  if (static_cast<int32_t>(size) < 0 || record.size >= 0x80000000ull) {
    piece->Fail(std::to_string(record.size) +
                " bytes; entries of 2 GiB or more are beyond the plug-in");
    return;
  }
  if (record.packedSize >= 0x80000000ull) {
    piece->Fail("2 GiB or more of stored bytes are beyond the plug-in");
    return;
  }
  const uint32_t packed = static_cast<uint32_t>(record.packedSize);
  // Exactly packedSize bytes, as every host hands in: the plug-in reads no more than that.
  try {
    piece->stored_.assign(packed == 0 ? 1 : static_cast<size_t>(packed), 0);
  } catch (const std::bad_alloc&) {
    piece->Fail("not enough memory for its stored bytes");
    return;
  }
  std::string why;
  size_t got = 0;
  if (!file_.reader().ReadAt(record.offset, piece->stored_.data(), packed, &got, &why) ||
      got != packed) {
    piece->Fail("cannot read its stored bytes");
  }
}

CEntryPiece::~CEntryPiece() {
  if (contents_ != nullptr) GlobalFree(contents_);
}

bool CEntryPiece::Fail(const std::string& why) {
  if (error_.empty()) error_ = where_ + ": " + why;
  std::vector<uint8_t>().swap(stored_);
  return false;
}

void CEntryPiece::Decode() {
  if (!read_ || !error_.empty() || contents_ != nullptr) return;
  HGLOBAL handle = nullptr;
  const int32_t result = plugin_.GetFile(0, stored_.data(), &record_, &handle);
  // The stored bytes are done with: only the contents stay held.
  std::vector<uint8_t>().swap(stored_);
  if (result != kResultOk) {
    if (handle != nullptr) GlobalFree(handle);
    Fail(result == kResultNoMemory
             ? std::string("not enough memory to extract it")
             : "the plug-in could not extract it (result " + std::to_string(result) + ")");
    return;
  }
  if (handle == nullptr) {
    Fail("the plug-in returned no contents");
    return;
  }
  contents_ = handle;
  if (GlobalSize(handle) < static_cast<uint32_t>(record_.size)) {
    Fail("the plug-in returned fewer bytes than the entry's size");
  }
}

bool CEntryPiece::Deliver(const Sink& sink, std::string* error) {
  CHandedBlock block(contents_);
  contents_ = nullptr;
  if (!read_ && error_.empty()) error_ = "the entry was not read";
  if (!error_.empty()) {
    *error = error_;
    return false;
  }
  const uint32_t length = static_cast<uint32_t>(record_.size);
  if (length == 0) return sink(nullptr, 0, error);
  const void* p = GlobalLock(block.get());
  if (p == nullptr) {
    *error = where_ + ": cannot lock the contents block";
    return false;
  }
  const bool ok = sink(static_cast<const uint8_t*>(p), length, error);
  GlobalUnlock(block.get());
  return ok;
}
