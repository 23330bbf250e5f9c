#include "bench/bench_fixtures.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_data.h"
#include "bytes/byte_order.h"
#include "platform/win32_api.h"
#include "psarc/psarc.h"
#include "tools/writers/psarc_writer.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

constexpr size_t kRecordSize = sizeof(ArchiveEntry);

std::string TempPath() {
  static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
  char folder[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof(folder), folder);
  const std::string dir(folder, n);
  const unsigned long pid = GetCurrentProcessId();
#else
  const char* t = std::getenv("TMPDIR");
  const std::string dir = std::string(t != nullptr && *t != 0 ? t : "/tmp") + "/";
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  return dir + "varel_bench_" + std::to_string(pid) + "_" + std::to_string(counter++) + ".bin";
}

}  // namespace

void BenchFail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(2);
}

CBenchTempFile::CBenchTempFile(const std::vector<uint8_t>& bytes) : path_(TempPath()) {
  FILE* f = std::fopen(path_.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    BenchFail("cannot write " + path_);
  }
  std::string error;
  if (!file_.Open(path_, &error)) BenchFail(error);
}

CBenchTempFile::~CBenchTempFile() {
  file_.Close();
  std::remove(path_.c_str());
}

ArchiveEntry PsarcTocRecord(const std::vector<uint8_t>& archive, uint32_t i) {
  const uint64_t at = kPsarcHeaderSize + uint64_t{kPsarcTocEntrySize} * i;
  if (at + kPsarcTocEntrySize > archive.size()) BenchFail("short PSARC table of contents");
  const uint8_t* e = &archive[at];
  ArchiveEntry record;
  std::memset(&record, 0, sizeof(record));
  record.param = be32(e + kPsarcTocFirstBlockAt);
  record.size = be40(e + kPsarcTocPlainSizeAt);
  record.offset = be40(e + kPsarcTocOffsetAt);
  return record;
}

std::vector<EntryBlock> PsarcEntryBlocks(const std::vector<uint8_t>& archive,
                                         const ArchiveEntry& record) {
  if (archive.size() < kPsarcHeaderSize) BenchFail("short PSARC archive");
  const uint8_t* header = archive.data();
  const uint64_t count = be32(header + kPsarcHeaderTocEntryCountAt);
  const uint64_t tableStart = kPsarcHeaderSize + kPsarcTocEntrySize * count;
  const uint64_t tableEnd = kPsarcHeaderSize + uint64_t{be32(header + kPsarcHeaderTocLengthAt)};
  if (tableEnd > archive.size() || tableStart > tableEnd) BenchFail("bad PSARC table");
  const uint64_t values = (tableEnd - tableStart) / 2;
  std::vector<EntryBlock> blocks;
  uint64_t due = static_cast<uint32_t>(record.size);
  uint32_t start = 0;
  for (uint64_t k = record.param; due > 0; ++k) {
    if (k >= values) BenchFail("PSARC entry past its block table");
    const uint32_t s = be16(&archive[tableStart + 2 * k]);
    EntryBlock b;
    b.start = start;
    b.storedLength = s == 0 ? kPsarcBlockSize : s;
    b.plainLength = static_cast<uint32_t>(due < kPsarcBlockSize ? due : kPsarcBlockSize);
    const uint64_t at = record.offset + start;
    b.deflated =
        s >= 2 && at + 1 < archive.size() && archive[at] == 0x78 && archive[at + 1] == 0xDA;
    blocks.push_back(b);
    start += b.storedLength;
    due -= b.plainLength;
  }
  return blocks;
}

void InflateBlocks(const uint8_t* stored, const std::vector<EntryBlock>& blocks, uint8_t* out,
                   size_t capacity) {
  size_t o = 0;
  for (const EntryBlock& b : blocks) {
    uLongf n = b.plainLength;
    if (o + n > capacity) return;
    if (b.deflated) {
      (void)uncompress(out + o, &n, stored + b.start, b.storedLength);  // timed, not checked
    } else {
      std::memcpy(out + o, stored + b.start, n);
    }
    o += n;
  }
}

void InflateBlocksLibdeflate(libdeflate_decompressor* decompressor, const uint8_t* stored,
                             const std::vector<EntryBlock>& blocks, uint8_t* out, size_t capacity) {
  size_t o = 0;
  for (const EntryBlock& b : blocks) {
    const size_t n = b.plainLength;
    if (o + n > capacity) return;
    if (b.deflated) {
      (void)libdeflate_zlib_decompress(decompressor, stored + b.start, b.storedLength, out + o, n,
                                       nullptr);  // timed, not checked
    } else {
      std::memcpy(out + o, stored + b.start, n);
    }
    o += n;
  }
}

namespace {

// The manifest's blocks, deflated at level 9 (each begins 0x78 0xDA).
std::vector<PsarcBlock> ManifestBlocks(const std::string& manifest) {
  std::vector<PsarcBlock> blocks;
  for (size_t at = 0; at < manifest.size(); at += kPsarcBlockSize) {
    const size_t n = std::min<size_t>(kPsarcBlockSize, manifest.size() - at);
    uLongf packed = compressBound(n);
    PsarcBlock block;
    block.bytes.resize(packed);
    if (compress2(block.bytes.data(), &packed, reinterpret_cast<const Bytef*>(manifest.data() + at),
                  n, 9) != Z_OK ||
        packed >= kPsarcBlockSize) {
      BenchFail("cannot deflate the listing manifest");
    }
    block.bytes.resize(packed);
    block.value = static_cast<uint32_t>(packed);
    blocks.push_back(std::move(block));
  }
  return blocks;
}

}  // namespace

std::vector<uint8_t> BuildListingPsarc(uint32_t entries) {
  CBenchRandom random(0x6C697374ull);
  // Sizes log-uniform between 2^0 and 2^23 bytes; names like a game's asset tree.
  std::vector<uint64_t> sizes(entries, 0);
  std::string manifest;
  for (uint32_t i = 1; i < entries; ++i) {
    const uint32_t bits = random.Below(23);
    sizes[i] = (1ull << bits) + random.Below(1u << bits);
    manifest += ListingPsarcName(i);
    if (i + 1 < entries) manifest += "\n";
  }
  sizes[0] = manifest.size();

  // Block-size values: the manifest's real ones, then plausible ones for every other entry
  // (full blocks as 0, the rest between a tenth and nine tenths of a block). Only the
  // manifest's stored bytes are written; every later entry's offset counts the stored bytes
  // before it.
  PsarcLayout layout;
  const std::vector<PsarcBlock> manifestBlocks = ManifestBlocks(manifest);
  uint64_t dataOffset = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    PsarcLayoutEntry e;
    e.firstBlock = static_cast<uint32_t>(layout.blockValues.size());
    e.size = sizes[i];
    e.dataOffset = dataOffset;
    for (uint64_t done = 0; done < sizes[i]; done += kPsarcBlockSize) {
      uint32_t v;
      if (i == 0) {
        v = manifestBlocks[done / kPsarcBlockSize].value;
      } else {
        v = random.Below(4) == 0 ? 0 : 6554 + random.Below(52428);
      }
      layout.blockValues.push_back(v);
      dataOffset += v == 0 ? kPsarcBlockSize : v;
    }
    layout.entries.push_back(e);
  }
  for (const PsarcBlock& b : manifestBlocks) {
    layout.data.insert(layout.data.end(), b.bytes.begin(), b.bytes.end());
  }
  // The listing reads tocLength bytes from the end of the header: the entries and values.
  const uint64_t tocLength = uint64_t{kPsarcTocEntrySize} * entries + 2 * layout.blockValues.size();
  if (tocLength > 0x7FFFFFFFu) BenchFail("listing table too large");
  layout.tocLength = static_cast<uint32_t>(tocLength);
  return WritePsarcLayout(layout);
}

std::string ListingPsarcName(uint32_t i) {
  return "assets/set" + std::to_string(i % 97) + "/part" + std::to_string(i / 97) + "/item_" +
         std::to_string(i) + ".dat";
}

std::vector<uint8_t> BuildDigestListingPsarc(uint32_t entries) {
  std::vector<uint8_t> archive = BuildListingPsarc(entries);
  typedef std::array<uint8_t, kPsarcTocEntrySize> Row;
  std::vector<Row> rows(entries > 0 ? entries - 1 : 0);
  for (uint32_t i = 1; i < entries; ++i) {
    uint8_t* row = &archive[kPsarcHeaderSize + size_t{kPsarcTocEntrySize} * i];
    PsarcNameDigest(ListingPsarcName(i), row + kPsarcTocDigestAt);
    std::copy(row, row + kPsarcTocEntrySize, rows[i - 1].begin());
  }
  std::sort(rows.begin(), rows.end());  // the digest leads each row
  for (uint32_t i = 1; i < entries; ++i) {
    std::copy(rows[i - 1].begin(), rows[i - 1].end(),
              &archive[kPsarcHeaderSize + size_t{kPsarcTocEntrySize} * i]);
  }
  archive[kPsarcHeaderFlagsAt + 3] = kPsarcFlagTocByDigest;
  return archive;
}

void ListingFloor(HANDLE file, const ListingRegion& region) {
  const auto length = static_cast<uint32_t>(region.length);
  const auto count = static_cast<uint32_t>(region.count);
  auto* bytes = static_cast<uint8_t*>(PlatformHeapAlloc(length));
  (void)SetFilePointer(file, static_cast<LONG>(region.start), nullptr, FILE_BEGIN);
  DWORD read = 0;
  (void)ReadFile(file, bytes, length, &read, nullptr);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size_t{count} * kRecordSize);
  auto* records = static_cast<uint8_t*>(GlobalLock(block));
  for (uint32_t i = 0; i < count; ++i) records[i * kRecordSize] = bytes[i % length];
  (void)GlobalUnlock(block);
  (void)GlobalFree(block);
  PlatformHeapFree(bytes);
}
void ManifestFloor(HANDLE file, const ArchiveEntry& manifest,
                   const std::vector<EntryBlock>& blocks) {
  const auto packed = static_cast<uint32_t>(manifest.packedSize);
  const auto size = static_cast<uint32_t>(manifest.size);
  auto* stored = static_cast<uint8_t*>(PlatformHeapAlloc(packed));
  auto* text = static_cast<uint8_t*>(PlatformHeapAlloc(size + kPsarcWorkMargin));
  LONG high = static_cast<LONG>(manifest.offset >> 32);
  (void)SetFilePointer(file, static_cast<LONG>(manifest.offset), &high, FILE_BEGIN);
  DWORD read = 0;
  (void)ReadFile(file, stored, packed, &read, nullptr);
  InflateBlocks(stored, blocks, text, size);
  PlatformHeapFree(text);
  PlatformHeapFree(stored);
}
