#include "tools/varel_host/host_archive.h"

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
  type_ = kTypeNone;
  if (!file_.Open(path, error)) return false;
  int32_t type = kTypeNone;
  plugin_.IsSupported(file_.source(), 1, &type);
  if (type == kTypeNone) {
    *error = path + ": not an archive the plug-in recognises";
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
  } catch (const std::bad_alloc&) {
    *error = path + ": not enough memory for the names of " + std::to_string(count) + " entries";
    entries_.clear();
    names_.clear();
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
  ArchiveEntry record = entries_.at(i);
  const std::string where =
      path() + ": entry " + std::to_string(i) + " (" + PrintableName(names_.at(i).text) + ")";
  const uint32_t size = static_cast<uint32_t>(record.size);
  // The plug-in extracts from the low 32 bits of size, read as signed.
  if (static_cast<int32_t>(size) < 0 || record.size >= 0x80000000ull) {
    *error = where + ": " + std::to_string(record.size) +
             " bytes; entries of 2 GiB or more are beyond the plug-in";
    return false;
  }
  if (record.packedSize > fileSize() || record.offset > fileSize() - record.packedSize) {
    *error = where + ": its " + std::to_string(record.packedSize) + " stored bytes at offset " +
             std::to_string(record.offset) + " run past the end of the file (" +
             std::to_string(fileSize()) + " bytes): the archive is truncated or damaged";
    return false;
  }
  if (record.packedSize >= 0x80000000ull) {
    *error = where + ": 2 GiB or more of stored bytes are beyond the plug-in";
    return false;
  }
  const uint32_t packed = static_cast<uint32_t>(record.packedSize);
  // Exactly packedSize bytes, as every host hands in: the plug-in reads no more than that.
  std::vector<uint8_t> stored;
  try {
    stored.assign(packed == 0 ? 1 : static_cast<size_t>(packed), 0);
  } catch (const std::bad_alloc&) {
    *error = where + ": not enough memory for its stored bytes";
    return false;
  }
  uint32_t got = 0;
  if (!file_.ReadInto(record.offset, stored.data(), packed, &got) || got != packed) {
    *error = where + ": cannot read its stored bytes";
    return false;
  }
  HGLOBAL handle = nullptr;
  const int32_t result = plugin_.GetFile(0, stored.data(), &record, &handle);
  CHandedBlock block(handle);
  if (result != kResultOk) {
    *error = where + (result == kResultNoMemory ? std::string(": not enough memory to extract it")
                                                : ": the plug-in could not extract it (result " +
                                                      std::to_string(result) + ")");
    return false;
  }
  if (handle == nullptr) {
    *error = where + ": the plug-in returned no contents";
    return false;
  }
  const uint32_t length = static_cast<uint32_t>(record.size);
  if (GlobalSize(handle) < length) {
    *error = where + ": the plug-in returned fewer bytes than the entry's size";
    return false;
  }
  if (length == 0) return sink(nullptr, 0, error);
  const void* p = GlobalLock(handle);
  if (p == nullptr) {
    *error = where + ": cannot lock the contents block";
    return false;
  }
  const bool ok = sink(static_cast<const uint8_t*>(p), length, error);
  GlobalUnlock(handle);
  return ok;
}
