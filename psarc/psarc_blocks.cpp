// The PSARC block walk, written once over a byte source with two sources: the archive
// file (the listing's manifest) and the stored bytes the host hands in (extraction).
//
// Entry assumptions of the walk, and why its output stays inside its capacity:
//   - The output is `capacity` zero bytes and the position o only moves forward, so every
//     byte no block writes reads as zero.
//   - Every block adds at most blockSize bytes to o (a copy takes at most blockSize stored
//     bytes, an inflation at most blockSize plain bytes). Block k is walked only while
//     size - k * blockSize > 0, so o <= k * blockSize < size when block k starts.
//   - An inflation gets at most the bytes still due (size - k * blockSize), so it never
//     passes `size`; only a copy can, and a copy is cut at the end of the output. Such a
//     block is the entry's last, since o <= (k + 1) * blockSize > size ends the walk.
#include <cstring>

#include <libdeflate.h>
#include <zlib.h>

#include "psarc/psarc.h"

namespace {

constexpr uint8_t kZlibMethodByte = 0x78;      // deflate, 32 KiB window
constexpr uint8_t kZlibLevelsHighByte = 0xDA;  // the header zlib writes at levels 7 to 9

// The other headers zlib writes (levels 1, 2 to 5 and 6): such a block is inflated only
// when zlib accepts it whole, since plain bytes may begin the same way.
bool IsOtherZlibHeader(uint8_t second) {
  return second == 0x01 || second == 0x5E || second == 0x9C;
}

// value, or bound where value is larger: the result fits in 32 bits because bound does.
uint32_t AtMost(uint64_t value, uint32_t bound) {
  return value < bound ? static_cast<uint32_t>(value) : bound;
}

// Where a walk takes an entry's stored blocks from.
class CStoredBytes {
 public:
  virtual ~CStoredBytes() = default;
  // The n stored bytes at pos, counted from the entry's first stored byte; a byte the
  // source cannot deliver reads as zero. NULL stands for n zero bytes.
  virtual const uint8_t* Take(uint64_t pos, uint32_t n) = 0;
};

// The archive file, one positioning and one read per block into one scratch buffer.
class CFileBytes : public CStoredBytes {
 public:
  CFileBytes(HANDLE file, uint64_t offset, uint8_t* scratch)
      : file_(file), offset_(offset), scratch_(scratch) {}

  const uint8_t* Take(uint64_t pos, uint32_t n) override {
    const uint64_t at = offset_ + pos;
    LONG high = static_cast<LONG>(at >> 32);
    const DWORD low = SetFilePointer(file_, static_cast<LONG>(at), &high, FILE_BEGIN);
    DWORD got = 0;
    // A positioning that did not land at the block would read someone else's bytes.
    if (low == static_cast<DWORD>(at) && static_cast<uint32_t>(high) == (at >> 32)) {
      (void)ReadFile(file_, scratch_, n, &got, nullptr);  // a short read shows in `got`
    }
    if (got > n) got = 0;
    // Bytes the read did not deliver read as zero, never as the previous block's.
    std::memset(scratch_ + got, 0, n - got);
    return scratch_;
  }

 private:
  HANDLE file_;
  uint64_t offset_;
  uint8_t* scratch_;  // at least as long as the longest Take
};

// The host's stored bytes, read in place. Past `limit` (the packedSize the host was told
// to hand in) nothing is read: a block that crosses it is assembled in the scratch buffer
// with zeros beyond the limit. Records of a listing never cross it, since the walk takes
// exactly the packedSize the listing summed.
class CHostBytes : public CStoredBytes {
 public:
  CHostBytes(const uint8_t* stored, uint64_t limit, uint8_t* scratch)
      : stored_(stored), limit_(stored == nullptr ? 0 : limit), scratch_(scratch) {}

  const uint8_t* Take(uint64_t pos, uint32_t n) override {
    if (pos <= limit_ && n <= limit_ - pos) return stored_ + pos;
    if (scratch_ == nullptr) return nullptr;
    const uint32_t available = pos < limit_ ? AtMost(limit_ - pos, n) : 0;
    if (available != 0) std::memcpy(scratch_, stored_ + pos, available);
    std::memset(scratch_ + available, 0, n - available);
    return scratch_;
  }

 private:
  const uint8_t* stored_;
  uint64_t limit_;
  uint8_t* scratch_;  // NULL when no block crosses the limit
};

// Inflates one block with zlib's uncompress, the definition of every block's result. out
// has room for the `due` plain bytes the block stands for and is zero. Returns the bytes
// the block contributes, or -1 when it is to be copied as plain bytes instead (zlib's
// partial output undone, so the copy lands on zeros).
//
// A block whose stored length equals its plain bytes is a block kept plain because
// compressing did not shrink it; its bytes may still look like a zlib stream (a stored .z
// file, or plain bytes beginning 0x78 0xDA by chance). Such a block is inflated only when
// zlib ends the stream exactly there: stream end, every stored byte used, every plain byte
// produced. Any other block keeps the rule for compressed blocks: 0x78 0xDA keeps what
// zlib wrote, the other headers inflate only when zlib fills or ends the block.
int64_t ZlibInflate(uint8_t* out, uint32_t due, const uint8_t* in, uint32_t inLength,
                    bool asLongAsPlain) {
  uLongf written = due;
  uLong used = inLength;
  const int rc = uncompress2(out, &written, in, &used);
  // zlib writes at most `due` bytes and reports how many in `written`, failures included.
  if (written > due) written = due;
  if (asLongAsPlain) {
    if (rc == Z_OK && used == inLength && written == due) return written;
  } else {
    if (in[1] == kZlibLevelsHighByte) return written;
    if (rc == Z_OK || (rc == Z_BUF_ERROR && written == due)) return written;
  }
  std::memset(out, 0, written);
  return -1;
}

// libdeflate takes its memory from the plug-in's heap, as every buffer of the plug-in does,
// so that a heap shortage shows as a missing decompressor. Installed while the module
// loads, before any decompressor can exist.
const bool kLibdeflateUsesThePluginHeap = [] {
  libdeflate_set_memory_allocator(PlatformHeapAlloc, PlatformHeapFree);
  return true;
}();

// The inflater of one walk. With the fast decoder, each block is first handed to
// libdeflate, which decodes a whole zlib stream into room of known size several times
// faster than zlib. Its result is taken only where zlib's is the same: the stream ends
// with exactly the bytes due (so zlib, too, reaches the stream's end with them), its
// Adler-32 checked, and for a block as long as its plain bytes every stored byte used.
// Every other outcome (damaged data, fewer or more bytes than due, trailing bytes) goes to
// ZlibInflate unchanged, on room cleared of what libdeflate may have written, so bytes
// past zlib's output read as zero as before. The decompressor is asked for at the first
// block that needs it; without it the walk is zlib's alone, with the same results.
class CBlockInflater {
 public:
  explicit CBlockInflater(PsarcInflate mode)
      : fast_(mode == PsarcInflate::kFast), decompressor_(nullptr) {}
  ~CBlockInflater() {
    if (decompressor_ != nullptr) libdeflate_free_decompressor(decompressor_);
  }
  CBlockInflater(const CBlockInflater&) = delete;
  CBlockInflater& operator=(const CBlockInflater&) = delete;

  int64_t Inflate(uint8_t* out, uint32_t due, const uint8_t* in, uint32_t inLength,
                  bool asLongAsPlain) {
    if (fast_ && InflateWhole(out, due, in, inLength, asLongAsPlain)) return due;
    return ZlibInflate(out, due, in, inLength, asLongAsPlain);
  }

 private:
  bool InflateWhole(uint8_t* out, uint32_t due, const uint8_t* in, uint32_t inLength,
                    bool asLongAsPlain) {
    if (decompressor_ == nullptr) {
      decompressor_ = libdeflate_alloc_decompressor();
      if (decompressor_ == nullptr) {
        fast_ = false;
        return false;
      }
    }
    size_t used = 0;
    // No count of bytes written is asked for: success then means exactly `due` bytes.
    const libdeflate_result rc =
        libdeflate_zlib_decompress_ex(decompressor_, in, inLength, out, due, &used, nullptr);
    if (rc == LIBDEFLATE_SUCCESS && (!asLongAsPlain || used == inLength)) return true;
    std::memset(out, 0, due);
    return false;
  }

  bool fast_;
  libdeflate_decompressor* decompressor_;
};

// The walk. out holds capacity zero bytes; see the entry assumptions at the top.
void WalkBlocks(CStoredBytes& source, CBlockInflater& inflater, uint8_t* out, uint32_t capacity,
                const CStoredSizes& storedSizes, uint32_t blockSize, const ArchiveEntry& entry) {
  const uint32_t blocks = PsarcEntryBlockCount(entry, blockSize, storedSizes);
  int64_t due = static_cast<int32_t>(static_cast<uint32_t>(entry.size));
  uint64_t pos = 0;
  uint32_t o = 0;
  for (uint32_t k = 0; k < blocks; ++k, due -= blockSize) {
    // In the table: PsarcEntryBlockCount stops at its end. One test per block, not per
    // byte, for the values past those held.
    const uint32_t s = storedSizes.At(entry.param + k);
    const uint64_t length = s == 0 ? blockSize : s;
    // A block takes at most blockSize stored bytes (only a hand-made table holds longer
    // values); the position still moves by the whole value, as the packed size counts it.
    const uint32_t taken = AtMost(length, blockSize);
    const uint32_t room = capacity - o;
    if (room == 0) break;  // cannot happen while o < size <= capacity; kept as the stop
    const uint8_t* in = source.Take(pos, taken);
    pos += length;
    if (s != 0 && in != nullptr && taken >= 2 && in[0] == kZlibMethodByte &&
        (in[1] == kZlibLevelsHighByte || IsOtherZlibHeader(in[1]))) {
      // The plain bytes this block stands for. The output has room for them (o <= k *
      // blockSize); the cut at `room` only keeps the walk inside its capacity.
      const uint32_t plain = AtMost(static_cast<uint64_t>(due), blockSize);
      const uint32_t limit = AtMost(plain, room);
      const int64_t produced = inflater.Inflate(out + o, limit, in, taken, s == plain);
      if (produced >= 0) {
        o += static_cast<uint32_t>(produced);
        continue;
      }
    }
    // A copy that would pass the end of the output is cut there.
    const uint32_t n = AtMost(taken, room);
    if (in != nullptr && n != 0) std::memcpy(out + o, in, n);
    o += n;
  }
}

}  // namespace

uint32_t PsarcEntryBlockCount(const ArchiveEntry& entry, uint32_t blockSize,
                              const CStoredSizes& storedSizes) {
  const int32_t size = static_cast<int32_t>(static_cast<uint32_t>(entry.size));
  if (size <= 0 || blockSize == 0) return 0;
  // One block per started blockSize bytes, in 32 bits: size is below 2 GiB here. A listing
  // counts the blocks of every entry, so the usual power-of-two block size takes a shift
  // rather than a division.
  const uint32_t bytes = static_cast<uint32_t>(size);
  uint32_t covered;
  if ((blockSize & (blockSize - 1)) == 0) {
    covered = (bytes >> __builtin_ctz(blockSize)) + ((bytes & (blockSize - 1)) != 0 ? 1 : 0);
  } else {
    covered = bytes / blockSize + (bytes % blockSize != 0 ? 1 : 0);
  }
  // A block index at or past the end of the table ends the entry.
  const uint32_t count = storedSizes.count();
  const uint32_t inTable = entry.param < count ? count - entry.param : 0;
  return AtMost(covered, inTable);
}

uint64_t PsarcPackedSize(const ArchiveEntry& entry, uint32_t blockSize,
                         const CStoredSizes& storedSizes) {
  const uint32_t blocks = PsarcEntryBlockCount(entry, blockSize, storedSizes);
  // The listing sums every record's blocks, so the loop runs over the values held with no
  // test per value; each block past them has the value 0, a full block.
  const uint32_t first = entry.param;
  const uint32_t end = first + blocks;  // no wrap: blocks <= count - param
  const uint32_t held = storedSizes.held();
  const uint32_t heldEnd = end < held ? end : held;
  const uint32_t* values = storedSizes.values();
  uint64_t sum = 0;
  for (uint32_t k = first; k < heldEnd; ++k) {
    const uint32_t s = values[k];
    sum += s == 0 ? blockSize : s;
  }
  const uint32_t pastHeld = end - (heldEnd > first ? heldEnd : first);
  return sum + static_cast<uint64_t>(pastHeld) * blockSize;
}

void DecodeEntryFromFile(const ArchiveSource* source, Cbuffer* output,
                         const CStoredSizes& storedSizes, uint32_t blockSize,
                         const ArchiveEntry* entry, PsarcInflate inflate) {
  const uint32_t size = static_cast<uint32_t>(entry->size);
  // In 64 bits: a size within 10 bytes of 4 GiB gets no buffer rather than a tiny one.
  if (output->Alloc64(static_cast<uint64_t>(size) + kPsarcWorkMargin) == nullptr) return;
  Cbuffer scratch;
  if (PsarcEntryBlockCount(*entry, blockSize, storedSizes) != 0 &&
      scratch.Alloc(blockSize) == nullptr) {
    output->Release();
    return;
  }
  CFileBytes bytes(source->file, entry->offset, scratch.data);
  CBlockInflater inflater(inflate);
  WalkBlocks(bytes, inflater, output->data, output->length, storedSizes, blockSize, *entry);
}

namespace {

// The scratch buffer a walk over the host's bytes needs: only a record whose packedSize
// falls short of its blocks has one. False when it is needed and cannot be had.
bool HostScratch(const ArchiveEntry& entry, const CStoredSizes& storedSizes, uint32_t blockSize,
                 Cbuffer* scratch) {
  if (PsarcPackedSize(entry, blockSize, storedSizes) <= entry.packedSize) return true;
  return scratch->Alloc(blockSize) != nullptr;
}

// The largest size the extraction takes on: the work buffer of DecodeEntryFromBuffer, size
// + 10 bytes, must fit in 32 bits, and the extraction refuses the same sizes.
constexpr uint32_t kPsarcLargestSize = UINT32_MAX - kPsarcWorkMargin;

}  // namespace

void DecodeEntryFromBuffer(Cbuffer* output, const CStoredSizes& storedSizes, uint32_t blockSize,
                           const ArchiveEntry* entry, const uint8_t* stored, PsarcInflate inflate) {
  const uint32_t size = static_cast<uint32_t>(entry->size);
  if (output->Alloc64(static_cast<uint64_t>(size) + kPsarcWorkMargin) == nullptr) return;
  Cbuffer scratch;
  if (!HostScratch(*entry, storedSizes, blockSize, &scratch)) {
    output->Release();
    return;
  }
  CHostBytes bytes(stored, entry->packedSize, scratch.data);
  CBlockInflater inflater(inflate);
  WalkBlocks(bytes, inflater, output->data, output->length, storedSizes, blockSize, *entry);
}

bool PsarcBlockSize(const ArchiveEntry& entry, uint32_t* size) {
  *size = static_cast<uint32_t>(entry.size);
  return *size <= kPsarcLargestSize;
}

// Straight into the host's block of exactly `size` bytes, through the same walk with the
// block as its output. The host sees what a work buffer of size + 10 bytes and a copy
// would give it: by the walk's entry assumptions an inflation never writes at or past
// `size`, and a copy that crosses `size` ends the entry, so a capacity of `size` only drops
// bytes the copy would never hand over; nothing below `size` depends on them, since the
// output only moves forward.
int32_t PsarcDecode(const uint8_t* stored, const ArchiveEntry& entry, uint8_t* out,
                    uint32_t capacity) {
  // A record without a table covers no block: its contents are the block's zeros.
  const BlockTable* table = entry.blockTable;
  if (table == nullptr) return kResultOk;
  Cbuffer scratch;
  if (!HostScratch(entry, table->storedSizes, table->blockSize, &scratch)) return kResultNoMemory;
  if (capacity == 0) return kResultOk;
  CHostBytes bytes(stored, entry.packedSize, scratch.data);
  CBlockInflater inflater(PsarcInflate::kFast);
  WalkBlocks(bytes, inflater, out, capacity, table->storedSizes, table->blockSize, entry);
  return kResultOk;
}
