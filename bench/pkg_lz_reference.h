// The escape-byte LZ decoding one byte at a time: the definition that the plug-in's decoder
// must match byte for byte, the bounds included. Used by the tests and the benchmarks; kept
// deliberately plain, with no fast path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/byte_order.h"
#include "pkg/pkg.h"

inline PkgLzResult DecodePkgLzReference(const uint8_t* in, size_t inLength, uint8_t* out,
                                        size_t outCapacity) {
  // Header bytes past what was handed in read as zero.
  uint8_t header[kPkgLzHeaderSize] = {};
  for (size_t i = 0; i < kPkgLzHeaderSize && i < inLength; ++i) header[i] = in[i];
  const int64_t decodedLength = le32s(header + kPkgLzDecodedLengthAt);
  const int64_t endOffset = le32s(header + kPkgLzEndOffsetAt);
  const uint8_t escape = header[kPkgLzEscapeAt];

  // Token starts: below endOffset, and below inLength (a token starting past the stored
  // bytes cannot be read). Output starts: below decodedLength and below the capacity.
  const uint64_t inStop = endOffset <= 0 ? 0
                          : static_cast<uint64_t>(endOffset) < inLength
                              ? static_cast<uint64_t>(endOffset)
                              : inLength;
  const uint64_t outStop = decodedLength <= 0 ? 0
                           : static_cast<uint64_t>(decodedLength) < outCapacity
                               ? static_cast<uint64_t>(decodedLength)
                               : outCapacity;
  size_t i = inLength < kPkgLzHeaderSize ? inLength : kPkgLzHeaderSize;
  size_t o = 0;
  while (i < inStop && o < outStop) {
    const uint8_t b = in[i];
    if (b != escape) {
      out[o++] = b;
      i += 1;
      continue;
    }
    if (inLength - i < 2) break;  // token cut by the end of the stored bytes
    const uint8_t d = in[i + 1];
    if (d == escape) {
      out[o++] = escape;
      i += 2;
      continue;
    }
    if (inLength - i < 3) break;
    size_t n = in[i + 2];
    const size_t distance = d > escape ? d - 1u : d;
    if (distance > o) break;  // would read before the first output byte
    i += 3;
    if (n > outCapacity - o) n = outCapacity - o;  // clipped at the block's end
    for (size_t j = 0; j < n; ++j) out[o + j] = out[o + j - distance];
    o += n;
  }
  return PkgLzResult{o, i};
}
