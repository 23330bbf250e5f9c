#include "bench/bench_fixtures.h"

#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_data.h"
#include "bytes/byte_order.h"
#include "platform/win32_api.h"
#include "tools/writers/byte_writer.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

constexpr uint32_t kBlockSize = 65536;
constexpr uint32_t kTocEntrySize = 30;
constexpr uint32_t kTocStart = 32;
constexpr size_t kRecordSize = sizeof(ArchiveEntry);

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(2);
}

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

CBenchTempFile::CBenchTempFile(const std::vector<uint8_t>& bytes) : path_(TempPath()) {
  FILE* f = std::fopen(path_.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    Fail("cannot write " + path_);
  }
  std::string error;
  if (!file_.Open(path_, &error)) Fail(error);
}

CBenchTempFile::~CBenchTempFile() {
  file_.Close();
  std::remove(path_.c_str());
}

std::vector<EntryBlock> PsarcEntryBlocks(const std::vector<uint8_t>& archive,
                                         const ArchiveEntry& record) {
  if (archive.size() < kTocStart) Fail("short PSARC archive");
  const uint32_t tocLength = be32(&archive[12]);
  const uint32_t count = be32(&archive[20]);
  const uint64_t tableStart = kTocStart + uint64_t{kTocEntrySize} * count;
  const uint64_t tableEnd = kTocStart + uint64_t{tocLength};
  if (tableEnd > archive.size() || tableStart > tableEnd) Fail("bad PSARC table");
  const uint64_t values = (tableEnd - tableStart) / 2;
  std::vector<EntryBlock> blocks;
  uint64_t due = static_cast<uint32_t>(record.size);
  uint32_t start = 0;
  for (uint64_t k = record.param; due > 0; ++k) {
    if (k >= values) Fail("PSARC entry past its block table");
    const uint32_t s = be16(&archive[tableStart + 2 * k]);
    EntryBlock b;
    b.start = start;
    b.storedLength = s == 0 ? kBlockSize : s;
    b.plainLength = static_cast<uint32_t>(due < kBlockSize ? due : kBlockSize);
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

std::vector<uint8_t> BuildListingPsarc(uint32_t entries, uint64_t* manifestLength) {
  CBenchRandom random(0x6C697374ull);
  // Sizes log-uniform between 2^0 and 2^23 bytes; names like a game's asset tree.
  std::vector<uint64_t> sizes(entries, 0);
  std::string manifest;
  for (uint32_t i = 1; i < entries; ++i) {
    const uint32_t bits = random.Below(23);
    sizes[i] = (1ull << bits) + random.Below(1u << bits);
    manifest += "assets/set" + std::to_string(i % 97) + "/part" + std::to_string(i / 97) +
                "/item_" + std::to_string(i) + ".dat";
    if (i + 1 < entries) manifest += "\n";
  }
  sizes[0] = manifest.size();
  *manifestLength = manifest.size();

  // The manifest's blocks, deflated at level 9 (each begins 0x78 0xDA).
  std::vector<std::vector<uint8_t>> manifestBlocks;
  for (size_t at = 0; at < manifest.size(); at += kBlockSize) {
    const size_t n = std::min<size_t>(kBlockSize, manifest.size() - at);
    uLongf packed = compressBound(n);
    std::vector<uint8_t> block(packed);
    if (compress2(block.data(), &packed, reinterpret_cast<const Bytef*>(manifest.data() + at), n,
                  9) != Z_OK ||
        packed >= kBlockSize) {
      Fail("cannot deflate the listing manifest");
    }
    block.resize(packed);
    manifestBlocks.push_back(std::move(block));
  }

  // Block-size values: the manifest's real ones, then plausible ones for every other entry
  // (full blocks as 0, the rest between a tenth and nine tenths of a block).
  std::vector<uint32_t> table;
  std::vector<uint32_t> firstBlock(entries, 0);
  std::vector<uint64_t> packed(entries, 0);
  for (uint32_t i = 0; i < entries; ++i) {
    firstBlock[i] = static_cast<uint32_t>(table.size());
    for (uint64_t done = 0; done < sizes[i]; done += kBlockSize) {
      uint32_t v;
      if (i == 0) {
        v = static_cast<uint32_t>(manifestBlocks[done / kBlockSize].size());
      } else {
        v = random.Below(4) == 0 ? 0 : 6554 + random.Below(52428);
      }
      table.push_back(v);
      packed[i] += v == 0 ? kBlockSize : v;
    }
  }
  const uint64_t tocLength = uint64_t{kTocEntrySize} * entries + 2 * table.size();
  if (tocLength > 0x7FFFFFFFu) Fail("listing table too large");

  CByteWriter w;
  w.Text("PSAR");
  w.Be32(0x00010004);  // version
  w.Text("zlib");
  w.Be32(static_cast<uint32_t>(tocLength));
  w.Be32(kTocEntrySize);
  w.Be32(entries);
  w.Be32(kBlockSize);
  w.Be32(0);  // flags
  uint64_t offset = kTocStart + tocLength;
  for (uint32_t i = 0; i < entries; ++i) {
    w.Zeros(16);  // name digest, not read
    w.Be32(firstBlock[i]);
    w.Be40(sizes[i]);
    w.Be40(offset);
    offset += packed[i];
  }
  for (uint32_t v : table) w.Be16(v);
  for (const std::vector<uint8_t>& b : manifestBlocks) w.Raw(b.data(), b.size());
  return std::move(w.bytes());
}

void ListingFloor(HANDLE file, uint32_t regionStart, uint32_t regionLength, uint32_t count) {
  auto* region = static_cast<uint8_t*>(PlatformHeapAlloc(regionLength));
  (void)SetFilePointer(file, static_cast<LONG>(regionStart), nullptr, FILE_BEGIN);
  DWORD read = 0;
  (void)ReadFile(file, region, regionLength, &read, nullptr);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size_t{count} * kRecordSize);
  auto* records = static_cast<uint8_t*>(GlobalLock(block));
  for (uint32_t i = 0; i < count; ++i) records[i * kRecordSize] = region[i % regionLength];
  (void)GlobalUnlock(block);
  (void)GlobalFree(block);
  PlatformHeapFree(region);
}

void ManifestFloor(HANDLE file, const ArchiveEntry& manifest,
                   const std::vector<EntryBlock>& blocks) {
  const auto packed = static_cast<uint32_t>(manifest.packedSize);
  const auto size = static_cast<uint32_t>(manifest.size);
  auto* stored = static_cast<uint8_t*>(PlatformHeapAlloc(packed));
  auto* text = static_cast<uint8_t*>(PlatformHeapAlloc(size + 10));
  LONG high = static_cast<LONG>(manifest.offset >> 32);
  (void)SetFilePointer(file, static_cast<LONG>(manifest.offset), &high, FILE_BEGIN);
  DWORD read = 0;
  (void)ReadFile(file, stored, packed, &read, nullptr);
  InflateBlocks(stored, blocks, text, size);
  PlatformHeapFree(text);
  PlatformHeapFree(stored);
}
