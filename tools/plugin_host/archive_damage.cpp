#include "tools/plugin_host/archive_damage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bytes/byte_order.h"
#include "pkg/pkg.h"
#include "psarc/psarc.h"
#include "tools/plugin_host/entry_names.h"
#include "tools/plugin_host/host_archive.h"

namespace {

// The longest name a record holds (its field ends with a terminator), and how much shorter
// a cut name can be: a cut never splits a double-byte character.
constexpr size_t kNameBytes = sizeof(ArchiveEntry::name) - 1;
constexpr size_t kCutSlack = 1;

std::string CutAt(uint64_t fileSize) {
  return " (the file ends at " + std::to_string(fileSize) + " bytes)";
}

// The header's four-byte compression name as text: as it stands when it is letters and
// digits, else in hex.
std::string CompressionName(const uint8_t* field) {
  std::string text(reinterpret_cast<const char*>(field), 4);
  for (char c : text) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
      return "0x" + HexBytes(text);
    }
  }
  return text;
}

}  // namespace

std::string DamageReason(EntryDamage d, uint64_t fileSize) {
  switch (d) {
    case EntryDamage::kWhole: return "whole";
    case EntryDamage::kRecordPastTable:
      return "record past the end of the table (the header counts more entries than its "
             "table holds)";
    case EntryDamage::kRecordPastEnd: return "record past the end of the file" + CutAt(fileSize);
    case EntryDamage::kStoredCut:
      return "stored bytes cut by the end of the file" + CutAt(fileSize);
    case EntryDamage::kStoredPastEnd:
      return "stored bytes past the end of the file" + CutAt(fileSize);
  }
  return "damaged";
}

std::vector<EntryDamage> FindDamage(int32_t type, const uint8_t* header, uint64_t fileSize,
                                    const std::vector<ArchiveEntry>& entries) {
  std::vector<EntryDamage> damage(entries.size(), EntryDamage::kWhole);
  // Where record i of the table starts, and how many bytes of records the table has room
  // for; 64-bit, so no product wraps.
  uint64_t tableStart = 0;
  uint64_t recordBytes = 0;
  uint64_t tableRoom = UINT64_MAX;
  if (type == kTypePsarc) {
    tableStart = kPsarcHeaderSize;
    recordBytes = kPsarcTocEntrySize;
    tableRoom = be32(header + kPsarcHeaderTocLengthAt);
  } else if (type == kTypePkg) {
    tableStart = kPkgHeaderSize;
    recordBytes = kPkgDirEntrySize;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const ArchiveEntry& e = entries[i];
    const uint64_t recordEnd = recordBytes * (uint64_t{i} + 1);
    if (recordBytes != 0 && tableStart + recordEnd > fileSize) {
      damage[i] = EntryDamage::kRecordPastEnd;
    } else if (recordEnd > tableRoom) {
      damage[i] = EntryDamage::kRecordPastTable;
    } else if (e.packedSize == 0) {
      // Nothing stored, so nothing to lose.
    } else if (e.offset >= fileSize) {
      damage[i] = EntryDamage::kStoredPastEnd;
    } else if (e.packedSize > fileSize - e.offset) {
      damage[i] = EntryDamage::kStoredCut;
    }
  }
  return damage;
}

std::string DescribeUnrecognised(const uint8_t* header, uint64_t fileSize) {
  if (std::memcmp(header + kPsarcHeaderMagicAt, kPsarcMagic, sizeof(kPsarcMagic)) != 0) {
    return std::string();
  }
  if (fileSize < kPsarcHeaderSize) {
    return "a psarc header cut at " + std::to_string(fileSize) + " bytes (it has " +
           std::to_string(kPsarcHeaderSize) + ")";
  }
  std::string what;
  const auto add = [&what](const std::string& part) { what += ", " + part; };
  if (std::memcmp(header + kPsarcHeaderCompressionAt, kPsarcZlib, sizeof(kPsarcZlib)) != 0) {
    add(CompressionName(header + kPsarcHeaderCompressionAt) + " compression");
  }
  const uint32_t blockSize = be32(header + kPsarcHeaderBlockSizeAt);
  if (blockSize != kPsarcBlockSize) add("block size " + std::to_string(blockSize));
  const uint32_t recordSize = be32(header + kPsarcHeaderTocEntrySizeAt);
  if (recordSize != kPsarcTocEntrySize)
    add("table records of " + std::to_string(recordSize) + " bytes");
  // Anything else the plug-in refused is no PSARC it could know.
  if (what.empty()) return std::string();
  return "psarc" + what + ": not supported";
}

std::string DescribeNaming(int32_t type, const uint8_t* header) {
  if (type != kTypePsarc) return std::string();
  const uint32_t flags = be32(header + kPsarcHeaderFlagsAt);
  if ((flags & (kPsarcFlagTocByDigest | kPsarcFlagZeroSeparated)) == 0) return std::string();
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%02x", static_cast<unsigned>(flags));
  return std::string("names found by digest") +
         ((flags & kPsarcFlagUpperCaseDigests) != 0 ? ", ignoring case" : "") + " (header flags " +
         hex + ")";
}

namespace {

// The names of a manifest of the later layout, split as the listing splits it: at zero
// bytes when it holds one and either has the zero-separated flag or holds no line feed (a
// final zero ends the last name), else at line feeds up to its first zero byte.
std::vector<std::string> LaterLayoutNames(const std::vector<uint8_t>& list, uint32_t flags) {
  const auto zero = std::find(list.begin(), list.end(), 0);
  const bool noLineFeed = std::find(list.begin(), list.end(), '\n') == list.end();
  const bool zeroSeparated =
      zero != list.end() && ((flags & kPsarcFlagZeroSeparated) != 0 || noLineFeed);
  const char separator = zeroSeparated ? '\0' : '\n';
  auto end = zero;
  if (zeroSeparated) end = list.back() == 0 ? list.end() - 1 : list.end();
  std::vector<std::string> names(1);
  for (auto p = list.begin(); p != end; ++p) {
    if (static_cast<char>(*p) == separator) {
      names.push_back(std::string());
    } else {
      names.back() += static_cast<char>(*p);
    }
  }
  return names;
}

}  // namespace

std::vector<size_t> CutNames(CHostArchive* archive, const std::vector<size_t>& selected) {
  std::vector<size_t> candidates;
  if (archive->type() != kTypePsarc) return candidates;
  for (size_t i : selected) {
    if (i != 0 && archive->name(i).bytes.size() + kCutSlack >= kNameBytes) candidates.push_back(i);
  }
  std::vector<size_t> cut;
  std::vector<uint8_t> list;
  std::string error;
  if (candidates.empty() || !archive->Extract(0, &list, &error)) return cut;
  const uint32_t flags = be32(archive->header() + kPsarcHeaderFlagsAt);
  if ((flags & (kPsarcFlagTocByDigest | kPsarcFlagZeroSeparated)) != 0) {
    // Names found by digest: which name a record took shows in the digests varel does not
    // compute. A name it took is one its bytes begin: the record was cut when the list
    // holds such a longer name and not the record's own bytes as a name.
    std::vector<std::string> names = LaterLayoutNames(list, flags);
    std::sort(names.begin(), names.end());
    for (size_t i : candidates) {
      const std::string& held = archive->name(i).bytes;
      const auto at = std::lower_bound(names.begin(), names.end(), held);
      if (at == names.end() || *at == held) continue;
      if (at->compare(0, held.size(), held) == 0) cut.push_back(i);
    }
    return cut;
  }
  // The lines as the listing takes them: each ends at a line feed or a zero byte; the text
  // ends at its first zero byte, and once no line feed is left every later record takes
  // the rest of the text.
  std::vector<std::pair<size_t, size_t>> lines;  // start, length
  const size_t end = std::find(list.begin(), list.end(), 0) - list.begin();
  for (size_t start = 0;;) {
    const size_t stop = std::find(list.begin() + start, list.begin() + end, '\n') - list.begin();
    lines.emplace_back(start, stop - start);
    if (stop == end) break;
    start = stop + 1;
  }
  for (size_t i : candidates) {
    const auto& line = lines[std::min(i - 1, lines.size() - 1)];
    if (line.second > archive->name(i).bytes.size()) cut.push_back(i);
  }
  return cut;
}
