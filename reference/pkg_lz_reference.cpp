// The escape-byte LZ decoding one byte at a time, kept deliberately plain: no fast path,
// and every bound tested where the definition meets it.
#include "bytes/byte_order.h"
#include "reference/reference.h"

namespace {

// A signed header bound clipped to what the buffer holds.
uint64_t Clip(int64_t bound, size_t available) {
  if (bound <= 0) return 0;
  return static_cast<uint64_t>(bound) < available ? static_cast<uint64_t>(bound) : available;
}

}  // namespace

PkgLzResult DecodePkgLzDefinition(const uint8_t* in, size_t inLength, uint8_t* out,
                                  size_t outCapacity, PkgLzEnd* end) {
  // Header bytes past what was handed in read as zero.
  uint8_t header[kPkgLzHeaderSize] = {};
  for (size_t i = 0; i < kPkgLzHeaderSize && i < inLength; ++i) header[i] = in[i];
  const int64_t decodedLength = le32s(header + kPkgLzDecodedLengthAt);
  const int64_t endOffset = le32s(header + kPkgLzEndOffsetAt);
  const uint8_t escape = header[kPkgLzEscapeAt];

  // Token starts: below endOffset, and below inLength (a token starting past the stored
  // bytes cannot be read). Output starts: below decodedLength and below the capacity.
  const uint64_t inStop = Clip(endOffset, inLength);
  const uint64_t outStop = Clip(decodedLength, outCapacity);
  size_t i = inLength < kPkgLzHeaderSize ? inLength : kPkgLzHeaderSize;
  size_t o = 0;
  PkgLzEnd why = PkgLzEnd::kStream;
  bool clipped = false;
  while (i < inStop && o < outStop) {
    const uint8_t b = in[i];
    if (b != escape) {
      out[o++] = b;
      i += 1;
      continue;
    }
    if (inLength - i < 2) {
      why = PkgLzEnd::kInputCut;  // token cut by the end of the stored bytes
      break;
    }
    const uint8_t d = in[i + 1];
    if (d == escape) {
      out[o++] = escape;
      i += 2;
      continue;
    }
    if (inLength - i < 3) {
      why = PkgLzEnd::kInputCut;
      break;
    }
    size_t n = in[i + 2];
    const size_t distance = d > escape ? d - 1u : d;
    if (distance > o) {
      why = PkgLzEnd::kDistance;  // would read before the first output byte
      break;
    }
    i += 3;
    if (n > outCapacity - o) {
      n = outCapacity - o;  // clipped at the block's end; the loop then stops
      clipped = true;
    }
    for (size_t j = 0; j < n; ++j) out[o + j] = out[o + j - distance];
    o += n;
  }
  if (end != nullptr) {
    // Without a break, the loop ended at one of its stops: the stream's own (well-formed),
    // or a buffer's that came first.
    const bool streamEnded =
        static_cast<int64_t>(i) >= endOffset || static_cast<int64_t>(o) >= decodedLength;
    if (inLength < kPkgLzHeaderSize) {
      why = PkgLzEnd::kInputCut;
    } else if (clipped) {
      why = PkgLzEnd::kOutputFull;
    } else if (why == PkgLzEnd::kStream && !streamEnded) {
      why = i >= inLength ? PkgLzEnd::kInputCut : PkgLzEnd::kOutputFull;
    }
    *end = why;
  }
  return PkgLzResult{o, i};
}

PkgLzResult DecodePkgLzReference(const uint8_t* in, size_t inLength, uint8_t* out,
                                 size_t outCapacity) {
  return DecodePkgLzDefinition(in, inLength, out, outCapacity, nullptr);
}
