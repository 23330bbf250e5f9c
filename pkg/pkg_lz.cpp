// Escape-byte LZ extraction of compressed PKG entries.
//
// Margin proof. The block handed to the host has L + kPkgLzMargin bytes. The output bound is
// tested once per token, before it: a token starts only while o < decodedLength. One token
// writes at most kPkgLzMaxTokenOutput bytes (a count byte), so with decodedLength <= L the
// last token ends at most at L - 1 + 255 < L + 256: the overrun lands in the margin and the
// capacity clip is never reached. A decodedLength above L (a malformed header) is held by
// the clip at outCapacity, tested once per copy token.
//
// Fast path. A token takes the fast path only while more than eight input bytes remain
// before the token stop (endOffset, within the stored bytes), more than eight output
// starts before decodedLength, and kFastOutRoom bytes before the block's end. There a word
// of literal tokens (up to eight) needs no per-token test, a whole copy token can be read,
// and any one token's stores fit, so only the distance is tested. Elsewhere, near the end of either
// buffer, the careful path tests each byte it reads and clips the copy. The result equals
// the byte-at-a-time definition exactly, because the bytes from the output position on are
// still zero (the block starts zeroed, and no token writes past its own end): wide stores
// write the bytes the tokens define and, past them, only zeros over zeros.
#include <cstring>

#include "host/byte_order.h"
#include "pkg/pkg.h"

static_assert(kPkgLzMaxTokenOutput < kPkgLzMargin,
              "the margin holds the whole overrun of a token that starts inside the plain size");
static_assert(kPkgLzMaxTokenOutput == UINT8_MAX, "a count is one byte");

namespace {

// Literals are scanned a machine word at a time (4 bytes on the 32-bit targets); copies move
// in 8-byte chunks, two plain moves there.
typedef uintptr_t Word;
constexpr size_t kWordBytes = sizeof(Word);
constexpr Word kOnes = ~Word{0} / 0xFF;
constexpr Word kHighs = kOnes * 0x80;
constexpr uint64_t kOnes64 = 0x0101010101010101ull;

// Room the fast path needs: eight input bytes (a word of literals, or a whole copy token)
// and the largest output of one token, which also holds an eight-byte store.
constexpr size_t kFastInRoom = 8;
constexpr size_t kFastOutRoom = kPkgLzMaxTokenOutput;
// A copy of distance 2 to 7 lays down up to 14 bytes before its first chunk store.
constexpr size_t kLongestPeriodHead = 14;
static_assert(kFastOutRoom >= kLongestPeriodHead + 8, "every store of a token fits the room");
static_assert(kFastInRoom >= 3 && kFastInRoom >= kWordBytes,
              "a whole copy token, or a word of literals, can be read in the fast path");

// Unaligned access through memcpy: a plain move on x86, and defined behaviour.
template <typename T>
inline T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}
template <typename T>
inline void Store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof(v));
}
inline uint64_t Load64(const uint8_t* p) { return Load<uint64_t>(p); }
inline void Store64(uint8_t* p, uint64_t v) { Store<uint64_t>(p, v); }

inline unsigned TrailingZeros(Word v) {
  return sizeof(Word) == 8 ? static_cast<unsigned>(__builtin_ctzll(v))
                           : static_cast<unsigned>(__builtin_ctz(static_cast<uint32_t>(v)));
}

// Bytes before the first zero byte of v, in memory order (0 to kWordBytes). The flag of
// the first zero byte is exact; borrows can only mark bytes after it, which are ignored.
inline size_t LeadingNonZeroBytes(Word v) {
  const Word zeros = (v - kOnes) & ~v & kHighs;
  return zeros == 0 ? kWordBytes : TrailingZeros(zeros) >> 3;
}

// kLowBytes[n]: a mask of the low n bytes in memory order (little-endian), n = 0 to 8.
constexpr uint64_t kLowBytes[9] = {0,
                                   0xFFull,
                                   0xFFFFull,
                                   0xFFFFFFull,
                                   0xFFFFFFFFull,
                                   0xFFFFFFFFFFull,
                                   0xFFFFFFFFFFFFull,
                                   0xFFFFFFFFFFFFFFull,
                                   0xFFFFFFFFFFFFFFFFull};
inline uint64_t LowBytes(uint64_t v, size_t n) { return v & kLowBytes[n]; }

// Copies n bytes with distance >= 8 in eight-byte chunks: every chunk reads bytes already
// written. A tail shorter than a chunk is done by one more chunk ending at n, which rewrites
// a few bytes with the values they already hold; a copy shorter than a chunk is stored with
// zeros after it, over bytes that are still zero. The caller leaves room for eight bytes.
inline void CopyChunks(uint8_t* dst, size_t distance, size_t n) {
  if (n < 8) {
    Store64(dst, LowBytes(Load64(dst - distance), n));
    return;
  }
  size_t j = 0;
  for (; j + 8 <= n; j += 8) Store64(dst + j, Load64(dst + j - distance));
  if (j < n) Store64(dst + n - 8, Load64(dst + n - 8 - distance));
}

// The copy token's effect, out[o + j] = out[o + j - D] in ascending j, without its byte loop.
inline void CopyFromBehind(uint8_t* dst, size_t distance, size_t n) {
  if (distance >= 8) {
    CopyChunks(dst, distance, n);
  } else if (distance == 0) {
    // Each byte onto itself: the bytes from dst on are still zero, so nothing changes.
  } else if (distance == 1) {
    const uint64_t fill = kOnes64 * dst[-1];
    if (n < 8) {
      Store64(dst, LowBytes(fill, n));
      return;
    }
    size_t j = 0;
    for (; j + 8 <= n; j += 8) Store64(dst + j, fill);
    if (j < n) Store64(dst + n - 8, fill);
  } else {
    // The output repeats with period D from dst - D on, so it also repeats with any
    // multiple of D: lay down the first such multiple of at least 8 bytes one by one, then
    // copy the rest in chunks from that distance.
    const size_t period = distance * ((8 + distance - 1) / distance);
    const size_t head = n < period ? n : period;
    const uint8_t* src = dst - distance;
    for (size_t j = 0; j < head; ++j) dst[j] = src[j];
    if (n > period) CopyChunks(dst + period, period, n - period);
  }
}

// The header's fields; bytes past what was handed in read as zero.
struct LzHeader {
  int32_t decodedLength;
  int32_t endOffset;
  uint8_t escape;
};

LzHeader ReadLzHeader(const uint8_t* in, size_t inLength) {
  uint8_t header[kPkgLzHeaderSize] = {};
  const size_t n = inLength < kPkgLzHeaderSize ? inLength : kPkgLzHeaderSize;
  if (n != 0) std::memcpy(header, in, n);
  return LzHeader{le32s(header + kPkgLzDecodedLengthAt), le32s(header + kPkgLzEndOffsetAt),
                  header[kPkgLzEscapeAt]};
}

// A signed bound from the header, clipped to what the buffer holds: tokens start only below
// both.
size_t ClipBound(int32_t bound, size_t available) {
  if (bound <= 0) return 0;
  const uint32_t b = static_cast<uint32_t>(bound);
  return b < available ? b : available;
}

}  // namespace

PkgLzResult DecodePkgLz(const uint8_t* in, size_t inLength, uint8_t* out, size_t outCapacity) {
  const LzHeader h = ReadLzHeader(in, inLength);
  const uint8_t escape = h.escape;
  const Word escapeWord = kOnes * escape;
  const uint8_t* const in_begin = in;
  const uint8_t* const in_end = in + inLength;
  const uint8_t* const in_stop = in + ClipBound(h.endOffset, inLength);
  uint8_t* const out_begin = out;
  uint8_t* const out_end = out + outCapacity;
  uint8_t* const out_stop = out + ClipBound(h.decodedLength, outCapacity);

  // Fast-path limits. A token starting below in_fast has eight bytes before in_stop (so
  // eight literal tokens would all start inside it, and a load of eight is inside the
  // stored bytes); one starting below out_fast has eight output starts before out_stop and
  // kFastOutRoom bytes before out_end. Both are formed as counts, never past either end.
  const size_t inStopCount = static_cast<size_t>(in_stop - in);
  const size_t outStopCount = static_cast<size_t>(out_stop - out);
  const uint8_t* const in_fast = in + (inStopCount > kFastInRoom ? inStopCount - kFastInRoom : 0);
  size_t outFastCount = outStopCount > 8 ? outStopCount - 8 : 0;
  if (outCapacity < kFastOutRoom) {
    outFastCount = 0;
  } else if (outFastCount > outCapacity - kFastOutRoom) {
    outFastCount = outCapacity - kFastOutRoom;
  }
  uint8_t* const out_fast = out + outFastCount;

  const uint8_t* in_next = in + (inLength < kPkgLzHeaderSize ? inLength : kPkgLzHeaderSize);
  uint8_t* out_next = out;
  // Each pass is one token (or a run of literal tokens, each of which starts inside both
  // stops). Invariant: every byte from out_next to out_end is still zero.
  for (;;) {
    // in_fast <= in_stop and out_fast <= out_stop: the fast test implies the loop's own.
    if (in_next < in_fast && out_next < out_fast) {
      // Fast path: nothing below needs a per-byte bound.
      if (in_next[0] != escape) {
        const Word w = Load<Word>(in_next);
        const size_t k = LeadingNonZeroBytes(w ^ escapeWord);
        // The k literals, each a token starting inside both stops, stored as one word: the
        // bytes past them are stored as zero over bytes that are still zero.
        Store<Word>(out_next, static_cast<Word>(LowBytes(w, k)));
        in_next += k;
        out_next += k;
        continue;
      }
      const uint8_t d = in_next[1];
      if (d == escape) {
        *out_next++ = escape;
        in_next += 2;
        continue;
      }
      const size_t n = in_next[2];
      const size_t distance = d > escape ? d - 1u : d;
      if (distance > static_cast<size_t>(out_next - out_begin)) break;  // stop, as below
      in_next += 3;
      CopyFromBehind(out_next, distance, n);  // n <= 255 <= room: never clipped here
      out_next += n;
      continue;
    }

    if (in_next >= in_stop || out_next >= out_stop) break;
    // Careful path, near the end of either buffer: the definition's checks, one per token.
    const uint8_t b = in_next[0];
    if (b != escape) {
      *out_next++ = b;
      in_next += 1;
      continue;
    }
    // Stop: a token cut by the end of the stored bytes is not carried out.
    if (in_end - in_next < 2) break;
    const uint8_t d = in_next[1];
    if (d == escape) {
      *out_next++ = escape;
      in_next += 2;
      continue;
    }
    if (in_end - in_next < 3) break;
    size_t n = in_next[2];
    const size_t distance = d > escape ? d - 1u : d;
    // Stop: a copy may not reach before the first output byte.
    if (distance > static_cast<size_t>(out_next - out_begin)) break;
    in_next += 3;
    // Clip: the copy ends at the block's end; the loop then stops since out_stop <= out_end.
    const size_t room = static_cast<size_t>(out_end - out_next);
    if (n > room) n = room;
    const uint8_t* src = out_next - distance;
    for (size_t j = 0; j < n; ++j) out_next[j] = src[j];
    out_next += n;
  }
  return PkgLzResult{static_cast<size_t>(out_next - out_begin),
                     static_cast<size_t>(in_next - in_begin)};
}

int32_t PkgGetFile(const uint8_t* stored, ArchiveEntry* entry, HGLOBAL* contents) {
  const uint32_t plainSize = static_cast<uint32_t>(entry->size);
  const uint64_t capacity = static_cast<uint64_t>(plainSize) + kPkgLzMargin;
  CGlobalHandleMemory block;
  // Alloc refuses a capacity beyond 32 bits, so the block's size is never wrapped.
  if (block.Alloc(capacity) == nullptr) return kResultNoMemory;
  auto* out = static_cast<uint8_t*>(block.Lock());
  if (out == nullptr) return kResultNoMemory;
  // The host hands in packedSize stored bytes. A sign-extended value no host could have
  // handed in is cut to the address space above `stored`, so no pointer formed wraps.
  size_t inLength = 0;
  if (stored != nullptr) {
    const uint64_t room = SIZE_MAX - reinterpret_cast<uintptr_t>(stored);
    inLength = static_cast<size_t>(entry->packedSize < room ? entry->packedSize : room);
  }
  (void)DecodePkgLz(stored, inLength, out, static_cast<size_t>(capacity));  // never fails
  *contents = block.Detach();
  entry->size = plainSize;
  return kResultOk;
}
