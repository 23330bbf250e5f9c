// The PSARC block walk alone, in both forms. Input: bytes 0 to 3 give the entry's size
// (the low 18 bits of the first three bytes, up to four blocks: every path of the walk
// within reach, while larger sizes only made each input slower; bit 7 of byte 3 makes it
// 0xFFFFFFF0 plus the low four bits of byte 0, sizes of 2 GiB or more whose work buffer
// cannot exist; bit 6 sets bits 32 to 39, which extraction must clear), byte 4 the first
// block index, byte 5 the number n of block-table values, then n little-endian u16 values,
// then the stored bytes. The values the input ends before are kept as 0 in one table and
// not kept at all in another, as a listing keeps a table: both give the same.
//
// The record's packedSize is the listing's own sum over the table, and the host hands in
// exactly that many bytes (zero past the input's end) flush against an inaccessible page.
// The same bytes, as a file, go through the file form: both forms must give the same
// output, and the extraction must hand over exactly its first size bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "plugin/plugin.h"
#include "psarc/psarc.h"

namespace {

constexpr uint64_t kMaxStored = 32u << 20;

// The input's record and its two block tables: `held` keeps the values the input holds a
// byte of, as a listing keeps those the file delivered (the rest read as 0); `whole` holds
// every value, zeros included. Both must give the same packed size and the same bytes.
// The record's packedSize is the listing's own sum over the table; the stored bytes begin
// at `end`.
struct Input {
  BlockTable* held = NewBlockTable(kPsarcBlockSize);
  BlockTable* whole = NewBlockTable(kPsarcBlockSize);
  ArchiveEntry entry;
  size_t end = 6;

  Input(const uint8_t* data, size_t size, uint64_t entrySize) {
    FUZZ_CHECK(held != nullptr && whole != nullptr);
    const uint32_t values = data[5];
    const uint32_t kept = std::min(values, static_cast<uint32_t>((size - end + 1) / 2));
    uint32_t* v = held->storedSizes.Alloc(values, kept);
    uint32_t* w = whole->storedSizes.Alloc(values, values);
    FUZZ_CHECK(v != nullptr && w != nullptr);
    for (uint32_t k = 0; k < values; ++k, end += 2) {
      w[k] = FuzzLe16(data, size, end);
      if (k < kept) v[k] = w[k];
    }
    std::memset(&entry, 0, sizeof(entry));
    entry.type = kTypePsarc;
    entry.param = data[4];
    entry.size = entrySize;
    entry.blockTable = held;
    std::memcpy(entry.tag, "PSARC", 6);
    entry.packedSize = PsarcPackedSize(entry, held->blockSize, held->storedSizes);
    FUZZ_CHECK(entry.packedSize == PsarcPackedSize(entry, whole->blockSize, whole->storedSizes));
  }
  ~Input() {
    DeleteBlockTable(held);
    DeleteBlockTable(whole);
  }
};

// Buffer form, over both tables: the same bytes.
void DecodeFromBuffer(const Input& in, const uint8_t* stored, Cbuffer* fromBuffer) {
  DecodeEntryFromBuffer(fromBuffer, in.held->storedSizes, in.held->blockSize, &in.entry, stored);
  Cbuffer fromWhole;
  DecodeEntryFromBuffer(&fromWhole, in.whole->storedSizes, in.whole->blockSize, &in.entry, stored);
  FUZZ_CHECK(fromWhole.length == fromBuffer->length);
  FUZZ_CHECK(fromBuffer->length == 0 ||
             std::memcmp(fromWhole.data, fromBuffer->data, fromBuffer->length) == 0);
}

// File form, over a file that holds exactly the stored bytes at the entry's offset: four
// bytes that are not the entry's, the n stored bytes the input gives, then zeros up to
// packedSize. It must give what the buffer form gave.
void CheckFileForm(const Input& in, const uint8_t* given, size_t n, const Cbuffer& fromBuffer) {
  static CFuzzFile file;
  static std::vector<uint8_t> image;
  image.assign(4, 0xEE);
  image.insert(image.end(), given, given + n);
  file.Write(image.data(), image.size(), 4 + in.entry.packedSize);
  ArchiveEntry atFour = in.entry;
  atFour.offset = 4;
  uint8_t header[kHostHeaderBytes] = {0};
  ArchiveSource source;
  source.file = file.handle();
  source.header = header;
  Cbuffer fromFile;
  DecodeEntryFromFile(&source, &fromFile, in.held->storedSizes, in.held->blockSize, &atFour);

  const uint32_t plain = static_cast<uint32_t>(in.entry.size);
  FUZZ_CHECK((fromBuffer.data != nullptr) == (fromFile.data != nullptr));
  if (fromBuffer.data != nullptr) {
    FUZZ_CHECK(static_cast<int32_t>(plain) >= 0);
    FUZZ_CHECK(fromBuffer.length == uint64_t{plain} + kPsarcWorkMargin);
    FUZZ_CHECK(fromFile.length == fromBuffer.length);
    FUZZ_CHECK(std::memcmp(fromBuffer.data, fromFile.data, fromBuffer.length) == 0);
  }
}

// Extraction through the plug-in object, as TZK_GetFile reaches it: exactly the first
// `plain` bytes the walk gave, and the upper half of the record's size cleared; nothing
// when the size does not fit.
void CheckExtraction(ArchiveEntry entry, const uint8_t* stored, const Cbuffer& fromBuffer) {
  const uint32_t plain = static_cast<uint32_t>(entry.size);
  const bool fits = static_cast<int32_t>(plain) >= 0;
  CPluginArchivePSX plugin;
  HGLOBAL contents = FuzzGetFile(plugin, stored, &entry);
  if (contents == nullptr) {
    FUZZ_CHECK(!fits);
    return;
  }
  FUZZ_CHECK(fits && fromBuffer.data != nullptr);
  FUZZ_CHECK(GlobalSize(contents) == plain && entry.size == plain);
  if (plain != 0) {
    const auto* block = static_cast<const uint8_t*>(GlobalLock(contents));
    FUZZ_CHECK(block != nullptr && std::memcmp(block, fromBuffer.data, plain) == 0);
    GlobalUnlock(contents);
  }
  GlobalFree(contents);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  uint32_t plain = (data[0] | (data[1] << 8) | (data[2] << 16)) & 0x3FFFFu;
  if (data[3] & 0x80) plain = 0xFFFFFFF0u | (data[0] & 0x0Fu);
  const uint64_t high = (data[3] & 0x40) ? (uint64_t{0x12} << 32) : 0;

  const Input in(data, size, high | plain);
  if (in.entry.packedSize > kMaxStored) return 0;
  // The host hands in exactly packedSize bytes: the input's, then zeros.
  CGuardedBytes stored(static_cast<size_t>(in.entry.packedSize));
  const size_t given = in.end < size ? std::min(size - in.end, stored.size()) : 0;
  if (given != 0) std::memcpy(stored.data(), data + in.end, given);

  Cbuffer fromBuffer;
  DecodeFromBuffer(in, stored.data(), &fromBuffer);
  CheckFileForm(in, stored.data(), given, fromBuffer);
  CheckExtraction(in.entry, stored.data(), fromBuffer);
  return 0;
}
