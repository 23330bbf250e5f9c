// Escape-byte LZ extraction of compressed PKG entries.
//
// Entry assumptions of DecodePkgLz, and what each one allows:
//   - out holds outCapacity zero bytes. So every byte no token writes reads as zero, and a
//     distance-0 copy, which reads each byte it writes before writing it, produces zeros.
//   - Tokens start only while the output position is below decodedLength (clipped to
//     outCapacity), tested once per token, and one token writes at most
//     kPkgLzMaxTokenOutput = 255 bytes. So with decodedLength <= L and the host's block of
//     L + kPkgLzMargin bytes, the last token ends at most at L - 1 + 255 < L + 256: the
//     overrun lands in the margin and the capacity clip is never reached. A decodedLength
//     above L (a malformed header) is held by the clip at outCapacity, tested once per copy.
//   - The fast path runs a token only while more than kFastInRoom input bytes remain
//     before the token stop (endOffset, within the stored bytes) and more than eight output
//     starts remain before decodedLength, kFastOutRoom bytes before the block's end. So a
//     word of literal tokens needs no per-token test, a whole copy token can be read, and
//     every store of a token fits: only the distance is tested.
//   - The fast path stores whole words and fixed runs of chunks, so past a token's end it
//     may leave scratch bytes; the next token overwrites them from its own start on. So
//     every byte before the output position holds what the definition gives it, and a copy
//     reads no other (its distance is at least 1; distance 0 stores zeros, as the
//     definition's untouched block holds there).
//   - When the fast path ends, the scratch past the output position is zeroed. So the
//     careful path starts, as the definition does, with every byte from the output position
//     on zero; near the end of either buffer it tests each byte it reads and clips the copy.
#include <cstring>

#include "bytes/byte_order.h"
#include "bytes/byte_scan.h"
#include "pkg/pkg.h"

static_assert(kPkgLzMaxTokenOutput < kPkgLzMargin,
              "the margin holds the whole overrun of a token that starts inside the plain size");
static_assert(kPkgLzMaxTokenOutput == UINT8_MAX, "a count is one byte");

namespace {

// Literals are scanned a word at a time; copies move in 8-byte chunks (two plain moves on
// the 32-bit targets).
constexpr uint64_t kOnes64 = 0x0101010101010101ull;

// A copy stores its first kCopyHead bytes whatever its count (most counts are below it),
// then a chunk at a time up to the count.
constexpr size_t kChunk = 8;
constexpr size_t kCopyHead = 3 * kChunk;
constexpr size_t CopyExtent(size_t n) {
  return n <= kCopyHead ? kCopyHead : (n + kChunk - 1) / kChunk * kChunk;
}
// A copy of distance 2 to 7 lays down its first period of at least a chunk (up to 14
// bytes) one byte at a time, then copies the rest from that distance.
constexpr size_t kLongestPeriod = 14;
constexpr size_t kLongestTokenStore = kLongestPeriod + CopyExtent(kPkgLzMaxTokenOutput);

// Room the fast path needs: eight input bytes (a word of literals, or a whole copy token)
// and the most one token stores. A run of literals that ends at an escape byte goes on to
// that token without the fast-path test, up to kScanWordBytes - 1 bytes further on.
constexpr size_t kFastInRoom = 8;
constexpr size_t kFastOutRoom = kLongestTokenStore + kScanWordBytes - 1;
static_assert(kFastInRoom >= kScanWordBytes - 1 + 3 && kFastInRoom >= kScanWordBytes,
              "a word of literals, and the whole copy token after it, lie in the fast room");
static_assert(kFastOutRoom >= kLongestTokenStore && kFastOutRoom >= kScanWordBytes,
              "every store of a token fits the room");

// Unaligned access through memcpy: a plain move on x86, and defined behaviour.
inline void StoreWord(uint8_t* p, ScanWord v) { std::memcpy(p, &v, sizeof(v)); }
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof(v)); }

// Stores the n bytes of a copy of distance >= 8 in chunks, in ascending order: each chunk
// reads bytes written before it. Stores CopyExtent(n) bytes; those past n are scratch.
inline void CopyChunks(uint8_t* dst, size_t distance, size_t n) {
  const uint8_t* src = dst - distance;
  Store64(dst, Load64(src));
  Store64(dst + 8, Load64(src + 8));
  Store64(dst + 16, Load64(src + 16));
  for (size_t j = kCopyHead; j < n; j += kChunk) Store64(dst + j, Load64(src + j));
}

// Stores n bytes of one value, as CopyChunks stores them.
inline void FillChunks(uint8_t* dst, uint64_t fill, size_t n) {
  Store64(dst, fill);
  Store64(dst + 8, fill);
  Store64(dst + 16, fill);
  for (size_t j = kCopyHead; j < n; j += kChunk) Store64(dst + j, fill);
}

// The copy token's effect, out[o + j] = out[o + j - D] in ascending j, without its byte loop.
inline void CopyFromBehind(uint8_t* dst, size_t distance, size_t n) {
  if (distance >= kChunk) {
    CopyChunks(dst, distance, n);
  } else if (distance <= 1) {
    // Distance 1 repeats the byte before; distance 0 leaves each byte as the definition
    // has it: zero.
    FillChunks(dst, distance == 0 ? 0 : kOnes64 * dst[-1], n);
  } else {
    // The output repeats with period D from dst - D on, so it also repeats with any
    // multiple of D: lay down the first such multiple of at least a chunk one by one,
    // then copy the rest in chunks from that distance.
    const size_t period = distance * ((kChunk + distance - 1) / distance);
    const uint8_t* src = dst - distance;
    for (size_t j = 0; j < period; ++j) dst[j] = src[j];
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
  const ScanWord escapeWord = kScanOnes * escape;
  const uint8_t* const inBegin = in;
  const uint8_t* const inEnd = in + inLength;
  const uint8_t* const inStop = in + ClipBound(h.endOffset, inLength);
  uint8_t* const outBegin = out;
  uint8_t* const outEnd = out + outCapacity;
  uint8_t* const outStop = out + ClipBound(h.decodedLength, outCapacity);

  // Fast-path limits. A token starting below inFast has eight bytes before inStop (so a
  // word of literal tokens and the copy token after it all lie inside it); one starting
  // below outFast has eight output starts before outStop and kFastOutRoom bytes before
  // outEnd. Both are formed as counts, never past either end.
  const size_t inStopCount = static_cast<size_t>(inStop - in);
  const size_t outStopCount = static_cast<size_t>(outStop - out);
  const uint8_t* const inFast = in + (inStopCount > kFastInRoom ? inStopCount - kFastInRoom : 0);
  size_t outFastCount = outStopCount > 8 ? outStopCount - 8 : 0;
  if (outCapacity < kFastOutRoom) {
    outFastCount = 0;
  } else if (outFastCount > outCapacity - kFastOutRoom) {
    outFastCount = outCapacity - kFastOutRoom;
  }
  uint8_t* const outFast = out + outFastCount;

  const uint8_t* inNext = in + (inLength < kPkgLzHeaderSize ? inLength : kPkgLzHeaderSize);
  uint8_t* outNext = out;
  // The fast path: each pass is a run of literal tokens, a token, or both. inFast <=
  // inStop and outFast <= outStop, so its test implies the careful path's own. Both
  // pointers only grow: once either limit is reached, the fast path is done.
  while (inNext < inFast && outNext < outFast) {
    if (inNext[0] != escape) {
      // The literals up to the first escape byte of the word, each a token starting inside
      // both stops, stored as one word: the bytes past them are scratch.
      const ScanWord w = LoadScanWord(inNext);
      const ScanWord escapes = ZeroByteFlags(w ^ escapeWord);
      StoreWord(outNext, w);
      if (escapes == 0) {
        inNext += kScanWordBytes;
        outNext += kScanWordBytes;
        continue;
      }
      const size_t k = BytesBeforeFlag(escapes);
      inNext += k;
      outNext += k;
      // inNext[0] is the escape byte: its token follows, inside the room.
    }
    const uint8_t d = inNext[1];
    if (d == escape) {
      *outNext++ = escape;
      inNext += 2;
      continue;
    }
    const size_t n = inNext[2];
    const size_t distance = d > escape ? d - 1u : d;
    if (distance > static_cast<size_t>(outNext - outBegin)) break;  // stop, as below
    inNext += 3;
    CopyFromBehind(outNext, distance, n);  // within the room: never clipped here
    outNext += n;
  }
  // No store of the fast path reached kFastOutRoom bytes past the output position.
  const size_t left = static_cast<size_t>(outEnd - outNext);
  if (left != 0) std::memset(outNext, 0, left < kFastOutRoom ? left : kFastOutRoom);

  // The careful path: the definition's checks, one per token.
  while (inNext < inStop && outNext < outStop) {
    const uint8_t b = inNext[0];
    if (b != escape) {
      *outNext++ = b;
      inNext += 1;
      continue;
    }
    // Stop: a token cut by the end of the stored bytes is not carried out.
    if (inEnd - inNext < 2) break;
    const uint8_t d = inNext[1];
    if (d == escape) {
      *outNext++ = escape;
      inNext += 2;
      continue;
    }
    if (inEnd - inNext < 3) break;
    size_t n = inNext[2];
    const size_t distance = d > escape ? d - 1u : d;
    // Stop: a copy may not reach before the first output byte.
    if (distance > static_cast<size_t>(outNext - outBegin)) break;
    inNext += 3;
    // Clip: the copy ends at the block's end; the loop then stops since outStop <= outEnd.
    const size_t room = static_cast<size_t>(outEnd - outNext);
    if (n > room) n = room;
    const uint8_t* src = outNext - distance;
    for (size_t j = 0; j < n; ++j) outNext[j] = src[j];
    outNext += n;
  }
  return PkgLzResult{static_cast<size_t>(outNext - outBegin),
                     static_cast<size_t>(inNext - inBegin)};
}

bool PkgTakes(const ArchiveEntry& entry) { return entry.param == kPkgCompressedLz; }

bool PkgBlockSize(const ArchiveEntry& entry, uint32_t* size) {
  const uint64_t capacity = static_cast<uint64_t>(static_cast<uint32_t>(entry.size)) + kPkgLzMargin;
  *size = static_cast<uint32_t>(capacity);
  return capacity <= UINT32_MAX;
}

int32_t PkgDecode(const uint8_t* stored, const ArchiveEntry& entry, uint8_t* out,
                  uint32_t capacity) {
  // The host hands in packedSize stored bytes. A sign-extended value no host could have
  // handed in is cut to the address space above `stored`, so no pointer formed wraps.
  size_t inLength = 0;
  if (stored != nullptr) {
    const uint64_t room = SIZE_MAX - reinterpret_cast<uintptr_t>(stored);
    inLength = static_cast<size_t>(entry.packedSize < room ? entry.packedSize : room);
  }
  (void)DecodePkgLz(stored, inLength, out, capacity);  // never fails
  return kResultOk;
}
