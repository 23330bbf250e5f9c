// PSARC recognition and listing: the table of contents, the block-size table, packed sizes
// and the names from the manifest.
//
// The listing reads only the region bytes the frame read (tocLength bytes from file
// offset 32, zero where the read delivered nothing). Bytes a table needs beyond them read
// as zero: an entry past the region lists as empty, and a block-size table that would
// start past the region has no values (not an unsigned wrap-around).
#include <algorithm>
#include <cstring>

#include "bytes/byte_order.h"
#include "bytes/byte_scan.h"
#include "digest/md5.h"
#include "psarc/psarc.h"
#include "text/ansi_text.h"

namespace {

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

// A loop per width, so the width test is not made for every value: the table holds one
// value per block of every entry.
template <uint32_t kWidth>
void ReadBlockValues(const uint8_t* p, size_t count, uint32_t* values) {
  for (size_t k = 0; k < count; ++k, p += kWidth) values[k] = BlockValue(p, kWidth);
}

void ReadBlockValues(const uint8_t* p, size_t count, uint32_t width, uint32_t* values) {
  if (width == 2) {
    ReadBlockValues<2>(p, count, values);
  } else if (width == 3) {
    ReadBlockValues<3>(p, count, values);
  } else {
    ReadBlockValues<4>(p, count, values);
  }
}

// The 30 bytes of entry i: in the region where it holds them all, else copied into e with
// the bytes past the region read as zero.
const uint8_t* TocEntryBytes(const ListingContext& context, uint32_t i, uint8_t* e) {
  const uint64_t start = static_cast<uint64_t>(kPsarcTocEntrySize) * i;
  if (start + kPsarcTocEntrySize <= context.regionLength) return context.region + start;
  std::memset(e, 0, kPsarcTocEntrySize);
  if (start >= context.regionLength) return e;
  std::memcpy(e, context.region + start, static_cast<size_t>(context.regionLength - start));
  return e;
}

// The two upper-case hexadecimal digits of every byte value, in memory order.
struct HexPairs {
  char digits[256][2];
  constexpr HexPairs() : digits() {
    const char kHexDigits[] = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) {
      digits[b][0] = kHexDigits[b >> 4];
      digits[b][1] = kHexDigits[b & 0xF];
    }
  }
};
constexpr HexPairs kHexPairs;

// Writes "0x%08X.dat" for index i, eight upper-case hexadecimal digits, over a name field
// that is zero already. The same bytes wsprintfA gives; formatted here because every
// record of a listing is named this way and the call took a third of a listing's time.
void WriteIndexName(char* name, uint32_t i) {
  name[0] = '0';
  name[1] = 'x';
  std::memcpy(name + 2, kHexPairs.digits[i >> 24], 2);
  std::memcpy(name + 4, kHexPairs.digits[(i >> 16) & 0xFF], 2);
  std::memcpy(name + 6, kHexPairs.digits[(i >> 8) & 0xFF], 2);
  std::memcpy(name + 8, kHexPairs.digits[i & 0xFF], 2);
  std::memcpy(name + 10, ".dat", 4);
}

// The largest table a listing builds: its values in full, four bytes each, are under the
// largest block a 32-bit heap hands out. A table only keeps the values the file delivered,
// but a header that declares a larger table is refused as it always was.
constexpr uint64_t kLargestTableCount = (0x7FFFFFFFu - 1) / 4;

// The block-size table: the values from byte 30 * n of the region to its end, each w
// bytes; a trailing part shorter than w is dropped. Only the values up to the last one
// that is not 0 among those the read delivered are kept: the region is zero past the
// bytes delivered, so every later value reads as 0 anyway.
BlockTable* NewFilledBlockTable(const ListingContext& context, uint32_t blockSize) {
  const uint32_t width = BlockValueWidth(blockSize);
  const uint64_t start = static_cast<uint64_t>(kPsarcTocEntrySize) * context.count;
  const uint64_t count = start < context.regionLength ? (context.regionLength - start) / width : 0;
  if (count > kLargestTableCount) return nullptr;
  // Values that hold a delivered byte; a value cut by the end of the read holds zeros after.
  uint64_t held = start < context.delivered ? (context.delivered - start + width - 1) / width : 0;
  if (held > count) held = count;
  const uint8_t* values = context.region + start;
  while (held > 0 && BlockValue(values + (held - 1) * width, width) == 0) --held;

  BlockTable* table = NewBlockTable(blockSize);
  if (table == nullptr) return nullptr;
  uint32_t* kept =
      table->storedSizes.Alloc(static_cast<uint32_t>(count), static_cast<uint32_t>(held));
  if (kept == nullptr) {
    DeleteBlockTable(table);
    return nullptr;
  }
  ReadBlockValues(values, static_cast<size_t>(held), width, kept);
  SealBlockTable(table);
  return table;
}

// Writes a name into a record's 256-byte field: at most 255 bytes, never half a
// double-byte character, then its terminator. Bytes of the field after the terminator are
// left as they are. A name never holds a zero byte: every split below ends names at one.
class CNameWriter {
 public:
  CNameWriter() : codePage_(CAnsiCodePage::System()), singleByte_(!codePage_.HasLeadBytes()) {}

  void Write(char* field, const char* name, size_t length) const {
    if (singleByte_) {
      // No zero byte in the name, so a single-byte name is its first 255 bytes.
      const size_t n = length < kNameBytes ? length : kNameBytes;
      std::memcpy(field, name, n);
      field[n] = 0;
      return;
    }
    const size_t written = CopyAnsiPrefix(field, kNameBytes, name, length, codePage_);
    if (written == 0 || field[written - 1] != 0) field[written] = 0;
  }

 private:
  const CAnsiCodePage& codePage_;
  const bool singleByte_;
};

// Hands out the manifest's lines as names, in order: line j names record j + 1. Once no
// line break is left, every later record gets the rest of the text.
class CManifestNames {
 public:
  explicit CManifestNames(const Cbuffer& text)
      : begin_(reinterpret_cast<const char*>(text.data)), end_(text.length), cursor_(0) {}

  // Writes the next name. The text ends at its first zero byte, or at the end of the
  // buffer when a hostile block filled the whole of it: the line scan stops at either, and
  // moves the end to a zero it meets.
  void NameNext(char* name) {
    const char* line = begin_ + cursor_;
    const size_t rest = end_ - cursor_;
    const size_t length = FindLineEnd(line, rest);
    if (length != rest && line[length] == '\n') {
      cursor_ += length + 1;
    } else {
      // The text's end: no line break is left, so the cursor stays and the remaining
      // records all take this text.
      end_ = cursor_ + length;
    }
    writer_.Write(name, line, length);
  }

 private:
  const char* begin_;
  size_t end_;
  size_t cursor_;
  CNameWriter writer_;
};

// The manifest's names, in order, between separator bytes in [0, end); none holds a zero
// byte. Once no separator is left, the rest of the text is handed out again and again.
class CManifestSplit {
 public:
  // The split of the later layout. A manifest that holds a zero byte within its size, and
  // either has the zero-separated flag or holds no line break, is split at zero bytes: a
  // zero that ends the text ends the last name and begins none. Any other manifest is split
  // at line breaks, as CManifestNames splits it (the text ends at its first zero byte).
  CManifestSplit(const Cbuffer& text, uint32_t flags) : cursor_(0), done_(false) {
    begin_ = reinterpret_cast<const char*>(text.data);
    // The manifest's plain bytes: the walk gave its buffer kPsarcWorkMargin more.
    const size_t size = text.length - kPsarcWorkMargin;
    const bool zeroSeparated =
        FindByte(begin_, size, 0) != size &&
        ((flags & kPsarcFlagZeroSeparated) != 0 || FindByte(begin_, size, '\n') == size);
    if (zeroSeparated) {
      separator_ = 0;
      end_ = size != 0 && begin_[size - 1] == 0 ? size - 1 : size;
    } else {
      separator_ = '\n';
      end_ = FindByte(begin_, text.length, 0);
    }
  }

  // The next name, in [*name, *name + *length).
  void Next(const char** name, size_t* length) {
    const char* piece = begin_ + cursor_;
    const size_t rest = end_ - cursor_;
    const size_t n = FindByte(piece, rest, separator_);
    if (n != rest) {
      cursor_ += n + 1;
    } else {
      done_ = true;  // the last name; the cursor stays on it
    }
    *name = piece;
    *length = n;
  }
  // True once the last name has been handed out.
  bool done() const { return done_; }

 private:
  const char* begin_;
  size_t end_;
  size_t cursor_;
  uint8_t separator_;
  bool done_;
};

// Fills record i from its table entry, with its packed size and the archive's table.
void FillRecord(const ListingContext& context, uint32_t i, uint32_t blockSize, BlockTable* table) {
  uint8_t copy[kPsarcTocEntrySize];
  const uint8_t* e = TocEntryBytes(context, i, copy);
  ArchiveEntry* record = &context.records[i];
  // The record block is zero-filled, so the name field is clear already.
  if (i == 0) {
    lstrcpyA(record->name, kManifestName);
  } else {
    WriteIndexName(record->name, i);
  }
  record->size = be40(e + kPsarcTocPlainSizeAt);
  record->offset = be40(e + kPsarcTocOffsetAt);
  record->type = kTypePsarc;
  std::memcpy(record->tag, kPsarcTag, sizeof(kPsarcTag));
  record->param = be32(e + kPsarcTocFirstBlockAt);
  record->packedSize = PsarcPackedSize(*record, blockSize, table->storedSizes);
  record->blockTable = table;
}

// One record's digest, and the manifest name found for it. The digest is held as two
// numbers, read big-endian, so that slots compare as their digests' bytes do, in a few
// instructions rather than a call.
struct DigestSlot {
  uint64_t high;  // digest bytes 0 to 7
  uint64_t low;   // digest bytes 8 to 15
  uint32_t record;
  uint32_t form;  // how the name matched (kFormAsStands first), or kNoName
  uint32_t nameAt;
  uint32_t nameLength;
};

// The forms of a name whose digest may be a record's, in order of preference.
constexpr uint32_t kFormAsStands = 0;
constexpr uint32_t kFormWithoutSlash = 1;
constexpr uint32_t kFormUpperCased = 2;
constexpr uint32_t kFormUpperCasedWithoutSlash = 3;
constexpr uint32_t kNoName = 4;

void SetDigest(DigestSlot* slot, const uint8_t* digest) {
  slot->high = (uint64_t{be32(digest)} << 32) | be32(digest + 4);
  slot->low = (uint64_t{be32(digest + 8)} << 32) | be32(digest + 12);
}

bool SameDigest(const DigestSlot& a, const DigestSlot& b) {
  return a.high == b.high && a.low == b.low;
}

bool DigestBefore(const DigestSlot& a, const DigestSlot& b) {
  return a.high < b.high || (a.high == b.high && a.low < b.low);
}

bool HasLowerCase(const char* name, size_t length) {
  for (size_t k = 0; k < length; ++k) {
    if (name[k] >= 'a' && name[k] <= 'z') return true;
  }
  return false;
}

// The digest of the name with the letters a-z upper-cased, in pieces of a small buffer.
void UpperCasedDigest(const char* name, size_t length, uint8_t digest[16]) {
  CMd5 md5;
  char piece[64];
  while (length != 0) {
    const size_t n = length < sizeof(piece) ? length : sizeof(piece);
    for (size_t k = 0; k < n; ++k) {
      const char c = name[k];
      piece[k] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    md5.Update(piece, n);
    name += n;
    length -= n;
  }
  md5.Final(digest);
}

// The records, sorted by digest, and the names found for them.
class CDigestIndex {
 public:
  CDigestIndex(DigestSlot* slots, uint32_t count, const char* text)
      : slots_(slots), count_(count), text_(text) {}

  // Offers every form of one name, in the manifest's order: a record takes the first name
  // in its most preferred form. Only the first slot of a run of equal digests is marked.
  void Offer(const char* name, size_t length, uint32_t flags) {
    uint8_t digest[16];
    Md5Digest(name, length, digest);
    Mark(digest, kFormAsStands, name, length);
    const bool slash = length != 0 && name[0] == '/';
    if (slash) {
      Md5Digest(name + 1, length - 1, digest);
      Mark(digest, kFormWithoutSlash, name, length);
    }
    // A name without lower-case letters is its own upper-cased form.
    if ((flags & kPsarcFlagUpperCaseDigests) != 0 && HasLowerCase(name, length)) {
      UpperCasedDigest(name, length, digest);
      Mark(digest, kFormUpperCased, name, length);
      if (slash) {
        UpperCasedDigest(name + 1, length - 1, digest);
        Mark(digest, kFormUpperCasedWithoutSlash, name, length);
      }
    }
  }

  // Gives every slot of a run the name its first slot found.
  void SpreadOverRuns() {
    for (uint32_t k = 1; k < count_; ++k) {
      if (!SameDigest(slots_[k], slots_[k - 1])) continue;
      slots_[k].form = slots_[k - 1].form;
      slots_[k].nameAt = slots_[k - 1].nameAt;
      slots_[k].nameLength = slots_[k - 1].nameLength;
    }
  }

 private:
  void Mark(const uint8_t digest[16], uint32_t form, const char* name, size_t length) {
    DigestSlot key = {};
    SetDigest(&key, digest);
    DigestSlot* const end = slots_ + count_;
    DigestSlot* first = std::lower_bound(slots_, end, key, DigestBefore);
    if (first == end || !SameDigest(*first, key)) return;
    if (first->form <= form) return;  // an earlier name, or a preferred form, came first
    first->form = form;
    // Within the text, whose length fits in 32 bits.
    first->nameAt = static_cast<uint32_t>(name - text_);
    first->nameLength = static_cast<uint32_t>(length);
  }

  DigestSlot* slots_;
  uint32_t count_;
  const char* text_;
};

bool RecordBefore(const DigestSlot& a, const DigestSlot& b) { return a.record < b.record; }

// Fills records 1 on and names them in the later layout: each record whose digest is a
// manifest name's by that name, every other one by position. Record 0 is filled already.
// 1 when the block of digests cannot be had.
int32_t FillAndNameByDigest(const ListingContext& context, uint32_t blockSize, BlockTable* table,
                            const Cbuffer& text, uint32_t flags) {
  const uint32_t records = context.count - 1;
  Cbuffer held;
  if (held.Alloc64(uint64_t{records} * sizeof(DigestSlot)) == nullptr) return kResultNoMemory;
  auto* slots = reinterpret_cast<DigestSlot*>(held.data);
  for (uint32_t k = 0; k < records; ++k) {
    uint8_t copy[kPsarcTocEntrySize];
    SetDigest(&slots[k], TocEntryBytes(context, k + 1, copy) + kPsarcTocDigestAt);
    slots[k].record = k + 1;
    slots[k].form = kNoName;
  }
  // A table in the order of its digests (flag 0x04) is searched as it stands.
  bool moved = false;
  for (uint32_t k = 1; k < records && !moved; ++k) moved = DigestBefore(slots[k], slots[k - 1]);
  if (moved) std::sort(slots, slots + records, DigestBefore);

  const char* base = reinterpret_cast<const char*>(text.data);
  CDigestIndex index(slots, records, base);
  CManifestSplit names(text, flags);
  const uint64_t sought = 2 * uint64_t{records} > kPsarcDigestNamesAtLeast
                              ? 2 * uint64_t{records}
                              : kPsarcDigestNamesAtLeast;
  for (uint64_t j = 0; j < sought && !names.done(); ++j) {
    const char* name;
    size_t length;
    names.Next(&name, &length);
    index.Offer(name, length, flags);
  }
  index.SpreadOverRuns();
  if (moved) std::sort(slots, slots + records, RecordBefore);

  // slots[k] is record k + 1's: one pass fills and names each record.
  CManifestSplit byPosition(text, flags);
  const CNameWriter writer;
  for (uint32_t k = 0; k < records; ++k) {
    FillRecord(context, k + 1, blockSize, table);
    const char* name;
    size_t length;
    byPosition.Next(&name, &length);
    if (slots[k].form != kNoName) {
      name = base + slots[k].nameAt;
      length = slots[k].nameLength;
    }
    writer.Write(context.records[k + 1].name, name, length);
  }
  return kResultOk;
}

}  // namespace

bool PsarcTest(const uint8_t* header) {
  return std::memcmp(header + kPsarcHeaderMagicAt, kPsarcMagic, sizeof(kPsarcMagic)) == 0 &&
         std::memcmp(header + kPsarcHeaderCompressionAt, kPsarcZlib, sizeof(kPsarcZlib)) == 0 &&
         be32(header + kPsarcHeaderBlockSizeAt) == kPsarcBlockSize &&
         be32(header + kPsarcHeaderTocEntrySizeAt) == kPsarcTocEntrySize;
}

ListingRegion PsarcRegion(const uint8_t* header) {
  return ListingRegion{kPsarcHeaderSize, be32(header + kPsarcHeaderTocLengthAt),
                       be32(header + kPsarcHeaderTocEntryCountAt)};
}

int32_t PsarcFill(const ListingContext& context) {
  // No entry 0: nothing to name, and no record would refer to a table.
  if (context.count == 0) return kResultOk;
  const uint32_t blockSize = be32(context.source->header + kPsarcHeaderBlockSizeAt);
  BlockTable* built = NewFilledBlockTable(context, blockSize);
  if (built == nullptr) return kResultNoMemory;
  // A table identical to one registered before (the same archive listed again) is shared:
  // tables never change once registered, so no record can tell.
  BlockTable* table = context.blockTables->Find(*built);
  if (table != nullptr) {
    DeleteBlockTable(built);
    built = nullptr;
  } else {
    table = built;
  }

  // Record 0 first, for the manifest; then every other record in one pass, each filled
  // and named while it is in the cache. On a failure the frame releases the whole record
  // block, so records that already point to the table are never seen.
  FillRecord(context, 0, blockSize, table);
  if (context.count > 1) {
    Cbuffer text;
    DecodeEntryFromFile(context.source, &text, table->storedSizes, blockSize, &context.records[0]);
    if (text.data == nullptr) {
      DeleteBlockTable(built);
      return kResultNoMemory;
    }
    const uint32_t flags = be32(context.source->header + kPsarcHeaderFlagsAt);
    if ((flags & (kPsarcFlagTocByDigest | kPsarcFlagZeroSeparated)) == 0) {
      CManifestNames names(text);
      for (uint32_t i = 1; i < context.count; ++i) {
        FillRecord(context, i, blockSize, table);
        names.NameNext(context.records[i].name);
      }
    } else {
      if (FillAndNameByDigest(context, blockSize, table, text, flags) != kResultOk) {
        DeleteBlockTable(built);
        return kResultNoMemory;
      }
    }
  }
  if (built == nullptr) return kResultOk;
  // The table is registered only once nothing else can fail, so a shortage on the way
  // leaves nothing behind.
  BlockTable* registered = context.blockTables->Add(built);
  if (registered == nullptr) {
    DeleteBlockTable(built);
    return kResultNoMemory;
  }
  if (registered != built) {
    // Another thread registered an identical table meanwhile: share that one.
    for (uint32_t i = 0; i < context.count; ++i) context.records[i].blockTable = registered;
    DeleteBlockTable(built);
  }
  return kResultOk;
}
