// The escape-byte LZ encoder: greedy matching over hash chains.
//
// Tokens: a byte b other than the escape E stands for itself; E E for one E; E d n copies n
// bytes (0 to 255) from D bytes back, D = d below E and d - 1 above it, so the distances 0
// to 254 are all reachable whatever E is. The decoder's block starts zeroed and no token
// writes past its own end, so a distance-0 copy yields n zero bytes anywhere.
#include <cstring>
#include <vector>

#include "tools/writers/byte_writer.h"
#include "tools/writers/pkg_writer.h"

namespace {

constexpr size_t kMaxDistance = 254;
constexpr size_t kMaxCount = 255;
constexpr size_t kCopyTokenBytes = 3;
constexpr size_t kHashBits = 15;
constexpr size_t kMaxChain = 64;  // candidates looked at per position
constexpr size_t kNone = SIZE_MAX;
// Chains only need the positions of the last kMaxDistance bytes: a ring of 256 holds them.
constexpr size_t kRing = 256;
static_assert(kRing > kMaxDistance, "a live chain link is never overwritten");

// The least frequent byte value, the lowest one on ties: it needs escaping least often.
uint8_t PickEscape(const uint8_t* data, size_t length) {
  size_t counts[256] = {};
  for (size_t i = 0; i < length; ++i) ++counts[data[i]];
  size_t best = 0;
  for (size_t v = 1; v < 256; ++v) {
    if (counts[v] < counts[best]) best = v;
  }
  return static_cast<uint8_t>(best);
}

size_t Hash3(const uint8_t* p) {
  const uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                     (static_cast<uint32_t>(p[2]) << 16);
  return (v * 2654435761u) >> (32 - kHashBits);
}

class CLzMatcher {
 public:
  CLzMatcher(const uint8_t* data, size_t length)
      : data_(data), length_(length), head_(size_t{1} << kHashBits, kNone), prev_(kRing, kNone) {}

  void Insert(size_t pos) {
    if (length_ - pos < 3) return;
    const size_t h = Hash3(data_ + pos);
    prev_[pos % kRing] = head_[h];
    head_[h] = pos;
  }

  // The longest earlier occurrence of the bytes at pos within kMaxDistance, the nearest on
  // ties; a run of zeros counts as a distance-0 match.
  void Find(size_t pos, size_t* bestLength, size_t* bestDistance) const {
    const size_t limit = length_ - pos < kMaxCount ? length_ - pos : kMaxCount;
    *bestLength = 0;
    *bestDistance = 0;
    size_t zeros = 0;
    while (zeros < limit && data_[pos + zeros] == 0) ++zeros;
    *bestLength = zeros;
    if (length_ - pos < 3) return;
    size_t candidate = head_[Hash3(data_ + pos)];
    for (size_t depth = 0; depth < kMaxChain && candidate != kNone && candidate < pos; ++depth) {
      const size_t distance = pos - candidate;
      if (distance > kMaxDistance) break;
      size_t n = 0;
      // Overlap is fine: the decoder copies one byte at a time in ascending order.
      while (n < limit && data_[candidate + n] == data_[pos + n]) ++n;
      if (n > *bestLength) {
        *bestLength = n;
        *bestDistance = distance;
        if (n == limit) break;
      }
      candidate = prev_[candidate % kRing];
    }
  }

 private:
  const uint8_t* data_;
  size_t length_;
  std::vector<size_t> head_;
  std::vector<size_t> prev_;
};

}  // namespace

std::vector<uint8_t> EncodePkgLz(const uint8_t* data, size_t length) {
  const uint8_t escape = PickEscape(data, length);
  CByteWriter w;
  w.Le32(static_cast<uint32_t>(length));  // decodedLength
  w.Le32(0);                              // endOffset, patched below
  w.U8(escape);
  w.Zeros(3);  // never read

  CLzMatcher matcher(data, length);
  size_t pos = 0;
  while (pos < length) {
    size_t n = 0;
    size_t distance = 0;
    matcher.Find(pos, &n, &distance);
    // A copy costs three bytes; literals cost one each, two for an escape byte.
    size_t literalCost = 0;
    for (size_t j = 0; j < n && literalCost <= kCopyTokenBytes; ++j) {
      literalCost += data[pos + j] == escape ? 2 : 1;
    }
    if (literalCost > kCopyTokenBytes) {
      w.U8(escape);
      w.U8(static_cast<uint8_t>(distance < escape ? distance : distance + 1));
      w.U8(static_cast<uint8_t>(n));
      for (size_t j = 0; j < n; ++j) matcher.Insert(pos + j);
      pos += n;
      continue;
    }
    w.U8(data[pos]);
    if (data[pos] == escape) w.U8(escape);
    matcher.Insert(pos);
    ++pos;
  }
  w.PatchLe32(4, static_cast<uint32_t>(w.size()));
  return w.bytes();
}
