#include "tools/writers/pkg_writer.h"

#include <cstring>
#include <utility>

#include "tools/writers/byte_writer.h"

namespace {

constexpr uint64_t kLimit = 0x7FFFFFFF;  // sizes and offsets are i32 in the directory
constexpr size_t kHeaderBytes = 8;
constexpr size_t kDirEntryBytes = 80;
constexpr size_t kNameField = 64;
constexpr uint32_t kStored = 0;
constexpr uint32_t kLz = 1;

struct PreparedEntry {
  std::vector<uint8_t> coded;  // LZ-coded bytes; empty when the entry is stored
  uint32_t compressed;
};

}  // namespace

bool WritePkg(const std::vector<ArchiveInput>& entries, const PkgWriterOptions& options,
              std::vector<uint8_t>* out, std::string* error) {
  if (entries.empty()) {
    *error = "a PKG container needs at least one entry";
    return false;
  }
  const uint64_t dataStart = kHeaderBytes + static_cast<uint64_t>(entries.size()) * kDirEntryBytes;
  if (dataStart > kLimit) {
    *error = "too many entries for a PKG directory";
    return false;
  }
  std::vector<PreparedEntry> prepared(entries.size());
  uint64_t offset = dataStart;
  for (size_t k = 0; k < entries.size(); ++k) {
    const ArchiveInput& e = entries[k];
    if (e.name.size() > kPkgMaxNameBytes) {
      *error = "name longer than 63 bytes: " + e.name;
      return false;
    }
    if (e.name.find('\0') != std::string::npos) {
      *error = "name holding a zero byte: " + e.name;
      return false;
    }
    if (e.data.size() > kLimit) {
      *error = "entry of 2 GiB or more: " + e.name;
      return false;
    }
    PreparedEntry& p = prepared[k];
    p.compressed = kStored;
    if (options.compression != PkgCompression::kNever) {
      p.coded = EncodePkgLz(e.data.data(), e.data.size());
      if (options.compression == PkgCompression::kAlways || p.coded.size() < e.data.size()) {
        p.compressed = kLz;
      } else {
        p.coded.clear();
      }
    }
    offset += p.compressed == kLz ? p.coded.size() : e.data.size();
    if (offset > kLimit) {
      *error = "container past 2 GiB";
      return false;
    }
  }

  CByteWriter w;
  w.Le32(0);                                      // reserved, always 0
  w.Le32(static_cast<uint32_t>(entries.size()));  // entryCount
  offset = dataStart;
  for (size_t k = 0; k < entries.size(); ++k) {
    const ArchiveInput& e = entries[k];
    const PreparedEntry& p = prepared[k];
    const size_t packed = p.compressed == kLz ? p.coded.size() : e.data.size();
    w.Text(e.name);
    w.Zeros(kNameField - e.name.size());           // name, zero-padded
    w.Le32(static_cast<uint32_t>(e.data.size()));  // size: the plain bytes
    w.Le32(static_cast<uint32_t>(packed));         // packedSize: the stored bytes
    w.Le32(static_cast<uint32_t>(offset));         // offset from the container's start
    w.Le32(p.compressed);                          // compressed
    offset += packed;
  }
  for (size_t k = 0; k < entries.size(); ++k) {
    const PreparedEntry& p = prepared[k];
    if (p.compressed == kLz) {
      w.Raw(p.coded.data(), p.coded.size());
    } else {
      w.Raw(entries[k].data.data(), entries[k].data.size());
    }
  }
  *out = std::move(w.bytes());
  return true;
}
