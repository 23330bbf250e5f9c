// PSARC recognition and listing: the table of contents, the block-size table, packed sizes
// and the names from the manifest.
//
// The listing reads only the region bytes the frame read (tocLength bytes from file
// offset 32, zero where the read delivered nothing). Bytes a table needs beyond them read
// as zero: an entry past the region lists as empty, and a block-size table that would
// start past the region has no values (not an unsigned wrap-around).
#include <cstring>

#include "host/byte_order.h"
#include "psarc/psarc.h"
#include "text/ansi_text.h"

namespace {

const uint8_t kPsarcMagic[4] = {'P', 'S', 'A', 'R'};
const uint8_t kPsarcZlib[4] = {'z', 'l', 'i', 'b'};
const char kPsarcTag[] = "PSARC";
const char kManifestName[] = "NamesBlock.bin";

// The longest name the 256-byte field holds with its terminator.
constexpr size_t kNameBytes = sizeof(ArchiveEntry::name) - 1;

// The width of one block-size value: the fewest bytes, at least 2, whose range covers
// blockSize. At most 4 for a 32-bit block size.
uint32_t BlockValueWidth(uint32_t blockSize) {
  uint32_t width = 2;
  for (uint64_t range = 0x10000; range < blockSize; range <<= 8) ++width;
  return width;
}

uint32_t BlockValue(const uint8_t* p, uint32_t width) {
  if (width == 2) return be16(p);
  if (width == 3) return be24(p);
  return be32(p);
}

// The 30 bytes of entry i; bytes past the region read as zero.
void TocEntryBytes(const ListingContext& context, uint32_t i, uint8_t* e) {
  std::memset(e, 0, kPsarcTocEntrySize);
  const uint64_t start = static_cast<uint64_t>(kPsarcTocEntrySize) * i;
  if (start >= context.regionLength) return;
  const uint64_t rest = context.regionLength - start;
  const size_t n = rest < kPsarcTocEntrySize ? static_cast<size_t>(rest) : kPsarcTocEntrySize;
  std::memcpy(e, context.region + start, n);
}

void FillRecord(ArchiveEntry* record, uint32_t i, const uint8_t* e) {
  // The record block is zero-filled, so the name field is clear already.
  if (i == 0) {
    lstrcpyA(record->name, kManifestName);
  } else {
    wsprintfA(record->name, "0x%08X.dat", static_cast<unsigned>(i));
  }
  record->packedSize = 0;
  record->size = be40(e + kPsarcTocSize);
  record->offset = be40(e + kPsarcTocOffset);
  record->type = kTypePsarc;
  std::memcpy(record->tag, kPsarcTag, sizeof(kPsarcTag));
  record->param = be32(e + kPsarcTocFirstBlock);
  record->blockTable = nullptr;
}

// The block-size table: the values from byte 30 * n of the region to its end, each w
// bytes; a trailing part shorter than w is dropped.
BlockTable* NewFilledBlockTable(const ListingContext& context, uint32_t blockSize) {
  BlockTable* table = NewBlockTable(blockSize);
  if (table == nullptr) return nullptr;
  const uint32_t width = BlockValueWidth(blockSize);
  const uint64_t start = static_cast<uint64_t>(kPsarcTocEntrySize) * context.count;
  const uint64_t count = start < context.regionLength ? (context.regionLength - start) / width : 0;
  if (table->storedSizes.Alloc64(count * 4) == nullptr) {
    DeleteBlockTable(table);
    return nullptr;
  }
  auto* values = reinterpret_cast<uint32_t*>(table->storedSizes.data);
  const uint8_t* p = context.region + start;
  for (uint64_t k = 0; k < count; ++k, p += width) values[k] = BlockValue(p, width);
  return table;
}

// Writes a manifest line as a name: at most 255 bytes, never half a double-byte
// character, then its terminator. Bytes of the field after the terminator are left.
void CopyName(char* name, const char* line, size_t length) {
  const size_t written = CopyAnsiPrefix(name, kNameBytes, line, length);
  if (written == 0 || name[written - 1] != 0) name[written] = 0;
}

// Line j of the text names record j + 1. Once no line break is left, every later record
// gets the rest of the text.
void NameFromManifest(const Cbuffer& text, ArchiveEntry* records, uint32_t count) {
  const char* begin = reinterpret_cast<const char*>(text.data);
  // The text ends at its first zero byte, or at the end of the buffer when a hostile
  // block filled the whole of it.
  const void* zero = std::memchr(begin, 0, text.length);
  const size_t end =
      zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - begin) : text.length;
  size_t cursor = 0;
  for (uint32_t j = 1; j < count; ++j) {
    const char* line = begin + cursor;
    const void* lineBreak = std::memchr(line, '\n', end - cursor);
    if (lineBreak == nullptr) {
      // The cursor no longer moves: the remaining records all take this same text.
      for (; j < count; ++j) CopyName(records[j].name, line, end - cursor);
      return;
    }
    const size_t length = static_cast<size_t>(static_cast<const char*>(lineBreak) - line);
    CopyName(records[j].name, line, length);
    cursor += length + 1;
  }
}

}  // namespace

bool PsarcTest(const uint8_t* header) {
  return std::memcmp(header + kPsarcHeaderMagic, kPsarcMagic, sizeof(kPsarcMagic)) == 0 &&
         std::memcmp(header + kPsarcHeaderCompression, kPsarcZlib, sizeof(kPsarcZlib)) == 0 &&
         be32(header + kPsarcHeaderBlockSize) == kPsarcBlockSize &&
         be32(header + kPsarcHeaderTocEntrySize) == kPsarcTocEntrySize;
}

ListingRegion PsarcRegion(const uint8_t* header) {
  return ListingRegion{kPsarcHeaderSize, be32(header + kPsarcHeaderTocLength),
                       be32(header + kPsarcHeaderTocEntryCount)};
}

int32_t PsarcFill(const ListingContext& context) {
  // No entry 0: nothing to name, and no record would refer to a table.
  if (context.count == 0) return kResultOk;
  const uint32_t blockSize = be32(context.source->header + kPsarcHeaderBlockSize);
  ArchiveEntry* records = context.records;
  for (uint32_t i = 0; i < context.count; ++i) {
    uint8_t e[kPsarcTocEntrySize];
    TocEntryBytes(context, i, e);
    FillRecord(&records[i], i, e);
  }

  BlockTable* table = NewFilledBlockTable(context, blockSize);
  if (table == nullptr) return kResultNoMemory;
  for (uint32_t i = 0; i < context.count; ++i) {
    records[i].packedSize = PsarcPackedSize(records[i], blockSize, table->storedSizes);
  }

  // The table is registered only once nothing can fail any more, so a shortage on the
  // way leaves nothing behind.
  if (context.count > 1) {
    Cbuffer text;
    DecodeEntryFromFile(context.source, &text, table->storedSizes, blockSize, &records[0]);
    if (text.data == nullptr) {
      DeleteBlockTable(table);
      return kResultNoMemory;
    }
    NameFromManifest(text, records, context.count);
  }
  if (!AppendBlockTable(*context.blockTables, table)) {
    DeleteBlockTable(table);
    return kResultNoMemory;
  }
  for (uint32_t i = 0; i < context.count; ++i) records[i].blockTable = table;
  return kResultOk;
}
