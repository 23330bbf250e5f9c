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
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "plugin/plugin.h"
#include "psarc/psarc.h"

namespace {

constexpr uint64_t kMaxStored = 32u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  uint32_t plain = (data[0] | (data[1] << 8) | (data[2] << 16)) & 0x3FFFFu;
  if (data[3] & 0x80) plain = 0xFFFFFFF0u | (data[0] & 0x0Fu);
  const uint64_t high = (data[3] & 0x40) ? (uint64_t{0x12} << 32) : 0;
  const uint32_t firstBlock = data[4];
  const size_t values = data[5];
  size_t at = 6;

  // The table keeps the values the input holds a byte of, as a listing keeps those the
  // file delivered; the rest read as 0. A second table holds every value, zeros included:
  // both must give the same packed size and the same bytes.
  const size_t inInput = size > at ? (size - at + 1) / 2 : 0;
  const size_t held = inInput < values ? inInput : values;
  BlockTable* table = NewBlockTable(kPsarcBlockSize);
  BlockTable* whole = NewBlockTable(kPsarcBlockSize);
  FUZZ_CHECK(table != nullptr && whole != nullptr);
  uint32_t* v =
      table->storedSizes.Alloc(static_cast<uint32_t>(values), static_cast<uint32_t>(held));
  uint32_t* w =
      whole->storedSizes.Alloc(static_cast<uint32_t>(values), static_cast<uint32_t>(values));
  FUZZ_CHECK(v != nullptr && w != nullptr);
  for (size_t k = 0; k < values; ++k, at += 2) {
    w[k] = FuzzLe16(data, size, at);
    if (k < held) v[k] = w[k];
  }
  const uint8_t* rest = at < size ? data + at : data + size;
  const size_t restLength = at < size ? size - at : 0;

  ArchiveEntry entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.type = kTypePsarc;
  entry.param = firstBlock;
  entry.size = high | plain;
  entry.blockTable = table;
  std::memcpy(entry.tag, "PSARC", 6);
  entry.packedSize = PsarcPackedSize(entry, table->blockSize, table->storedSizes);
  FUZZ_CHECK(entry.packedSize == PsarcPackedSize(entry, whole->blockSize, whole->storedSizes));
  if (entry.packedSize > kMaxStored) {
    DeleteBlockTable(table);
    DeleteBlockTable(whole);
    return 0;
  }
  CGuardedBytes stored(static_cast<size_t>(entry.packedSize));
  std::memcpy(stored.data(), rest, restLength < stored.size() ? restLength : stored.size());

  // Buffer form.
  Cbuffer fromBuffer;
  DecodeEntryFromBuffer(&fromBuffer, table->storedSizes, table->blockSize, &entry, stored.data());
  Cbuffer fromWhole;
  DecodeEntryFromBuffer(&fromWhole, whole->storedSizes, whole->blockSize, &entry, stored.data());
  FUZZ_CHECK(fromWhole.length == fromBuffer.length);
  FUZZ_CHECK(fromBuffer.length == 0 ||
             std::memcmp(fromWhole.data, fromBuffer.data, fromBuffer.length) == 0);

  // File form, over a file that holds exactly the stored bytes at the entry's offset: four
  // bytes that are not the entry's, the input's stored bytes, then zeros.
  static CFuzzFile file;
  static std::vector<uint8_t> image;
  const size_t given = restLength < stored.size() ? restLength : stored.size();
  image.assign(4, 0xEE);
  image.insert(image.end(), rest, rest + given);
  file.Write(image.data(), image.size(), 4 + stored.size());
  ArchiveEntry atFour = entry;
  atFour.offset = 4;
  uint8_t header[kHostHeaderBytes] = {0};
  ArchiveSource source;
  source.file = file.handle();
  source.header = header;
  Cbuffer fromFile;
  DecodeEntryFromFile(&source, &fromFile, table->storedSizes, table->blockSize, &atFour);

  const bool fits = static_cast<int32_t>(plain) >= 0;
  FUZZ_CHECK((fromBuffer.data != nullptr) == (fromFile.data != nullptr));
  if (fromBuffer.data != nullptr) {
    FUZZ_CHECK(fits);
    FUZZ_CHECK(fromBuffer.length == uint64_t{plain} + kPsarcWorkMargin);
    FUZZ_CHECK(fromFile.length == fromBuffer.length);
    FUZZ_CHECK(std::memcmp(fromBuffer.data, fromFile.data, fromBuffer.length) == 0);
  }

  // Extraction through the plug-in object, as TZK_GetFile reaches it.
  CPluginArchivePSX plugin;
  HGLOBAL contents = FuzzGetFile(plugin, stored.data(), &entry);
  if (contents == nullptr) {
    FUZZ_CHECK(!fits);
  } else {
    FUZZ_CHECK(fits && fromBuffer.data != nullptr);
    FUZZ_CHECK(GlobalSize(contents) == plain);
    FUZZ_CHECK(entry.size == plain);
    if (plain != 0) {
      const auto* block = static_cast<const uint8_t*>(GlobalLock(contents));
      FUZZ_CHECK(block != nullptr && std::memcmp(block, fromBuffer.data, plain) == 0);
      GlobalUnlock(contents);
    }
    GlobalFree(contents);
  }
  DeleteBlockTable(table);
  DeleteBlockTable(whole);
  return 0;
}
