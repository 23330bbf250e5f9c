// Escape-byte LZ extraction of compressed PKG entries.
//
// Margin proof. The block handed to the host has L + kPkgLzMargin bytes. The output bound is
// tested once per token, before it: a token starts only while o < decodedLength. One token
// writes at most kPkgLzMaxTokenOutput bytes (a count byte), so with decodedLength <= L the
// last token ends at most at L - 1 + 255 < L + 256: the overrun lands in the margin and the
// capacity clip is never reached. A decodedLength above L (a malformed header) is held by
// the clip at outCapacity, tested once per copy token.
#include <cstring>

#include "host/byte_order.h"
#include "pkg/pkg.h"

static_assert(kPkgLzMaxTokenOutput < kPkgLzMargin,
              "the margin holds the whole overrun of a token that starts inside the plain size");
static_assert(kPkgLzMaxTokenOutput == UINT8_MAX, "a count is one byte");

namespace {

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
  const uint8_t* const in_begin = in;
  const uint8_t* const in_end = in + inLength;
  const uint8_t* const in_stop = in + ClipBound(h.endOffset, inLength);
  uint8_t* const out_begin = out;
  uint8_t* const out_end = out + outCapacity;
  uint8_t* const out_stop = out + ClipBound(h.decodedLength, outCapacity);

  const uint8_t* in_next = in + (inLength < kPkgLzHeaderSize ? inLength : kPkgLzHeaderSize);
  uint8_t* out_next = out;
  while (in_next < in_stop && out_next < out_stop) {
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
    if (distance >= n) {
      // Source and destination do not overlap (distance 0 with n 0 included).
      if (n != 0) std::memcpy(out_next, out_next - distance, n);
    } else if (distance != 0) {
      for (size_t j = 0; j < n; ++j) out_next[j] = out_next[j - distance];
    }
    // Distance 0 copies each byte onto itself: bytes past out_next are still zero.
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
