#include "digest/md5.h"

#include <cstring>

#include "bytes/byte_order.h"

namespace {

// The additive constant of each of the 64 steps: the integer part of 2^32 * |sin(i + 1)|,
// written out so that no floating-point code or first-use initialisation is involved.
constexpr uint32_t kSines[64] = {
    0xD76AA478, 0xE8C7B756, 0x242070DB, 0xC1BDCEEE, 0xF57C0FAF, 0x4787C62A, 0xA8304613, 0xFD469501,
    0x698098D8, 0x8B44F7AF, 0xFFFF5BB1, 0x895CD7BE, 0x6B901122, 0xFD987193, 0xA679438E, 0x49B40821,
    0xF61E2562, 0xC040B340, 0x265E5A51, 0xE9B6C7AA, 0xD62F105D, 0x02441453, 0xD8A1E681, 0xE7D3FBC8,
    0x21E1CDE6, 0xC33707D6, 0xF4D50D87, 0x455A14ED, 0xA9E3E905, 0xFCEFA3F8, 0x676F02D9, 0x8D2A4C8A,
    0xFFFA3942, 0x8771F681, 0x6D9D6122, 0xFDE5380C, 0xA4BEEA44, 0x4BDECFA9, 0xF6BB4B60, 0xBEBFBC70,
    0x289B7EC6, 0xEAA127FA, 0xD4EF3085, 0x04881D05, 0xD9D4D039, 0xE6DB99E5, 0x1FA27CF8, 0xC4AC5665,
    0xF4292244, 0x432AFF97, 0xAB9423A7, 0xFC93A039, 0x655B59C3, 0x8F0CCC92, 0xFFEFF47D, 0x85845DD1,
    0x6FA87E4F, 0xFE2CE6E0, 0xA3014314, 0x4E0811A1, 0xF7537E82, 0xBD3AF235, 0x2AD7D2BB, 0xEB86D391,
};

// The left rotation of each step, four per round.
constexpr unsigned kShifts[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// The message word each step adds.
constexpr unsigned MessageWord(unsigned step) {
  return step < 16   ? step
         : step < 32 ? (5 * step + 1) % 16
         : step < 48 ? (3 * step + 5) % 16
                     : (7 * step) % 16;
}

inline uint32_t Rotl(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }

// The four rounds' functions, in forms with one operation fewer than RFC 1321 writes them.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// One step, s: every index is a constant, so the table reads fold into the code.
#define MD5_STEP(f, a, b, c, d, s) \
  a = b + Rotl(a + f(b, c, d) + m[MessageWord(s)] + kSines[s], kShifts[(s) / 16][(s) % 4])
// Four steps, the variables turning one place each time.
#define MD5_FOUR(f, s)              \
  MD5_STEP(f, a, b, c, d, s);       \
  MD5_STEP(f, d, a, b, c, (s) + 1); \
  MD5_STEP(f, c, d, a, b, (s) + 2); \
  MD5_STEP(f, b, c, d, a, (s) + 3)
#define MD5_ROUND(f, s) \
  MD5_FOUR(f, s);       \
  MD5_FOUR(f, (s) + 4); \
  MD5_FOUR(f, (s) + 8); \
  MD5_FOUR(f, (s) + 12)

// Folds one 64-byte block into the state.
void Compress(uint32_t state[4], const uint8_t* block) {
  uint32_t m[16];
  for (unsigned k = 0; k < 16; ++k) m[k] = le32(block + 4 * k);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  MD5_ROUND(F, 0);
  MD5_ROUND(G, 16);
  MD5_ROUND(H, 32);
  MD5_ROUND(I, 48);
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef MD5_ROUND
#undef MD5_FOUR
#undef MD5_STEP

void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void CMd5::Begin() {
  state_[0] = 0x67452301;
  state_[1] = 0xEFCDAB89;
  state_[2] = 0x98BADCFE;
  state_[3] = 0x10325476;
  length_ = 0;
}

void CMd5::Update(const void* data, size_t n) {
  if (n == 0) return;
  const auto* in = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>(length_ % 64);
  length_ += n;
  if (used != 0) {
    // Complete the pending block first, or keep adding to it.
    const size_t take = n < 64 - used ? n : 64 - used;
    std::memcpy(pending_ + used, in, take);
    in += take;
    n -= take;
    used += take;
    if (used < 64) return;
    Compress(state_, pending_);
  }
  for (; n >= 64; in += 64, n -= 64) Compress(state_, in);
  if (n != 0) std::memcpy(pending_, in, n);
}

void CMd5::Final(uint8_t digest[kMd5DigestBytes]) {
  const uint64_t bits = length_ * 8;
  size_t used = static_cast<size_t>(length_ % 64);
  // A 1 bit, zeros up to 8 bytes before a block's end, then the length in bits.
  pending_[used++] = 0x80;
  if (used > 56) {
    std::memset(pending_ + used, 0, 64 - used);
    Compress(state_, pending_);
    used = 0;
  }
  std::memset(pending_ + used, 0, 56 - used);
  PutLe32(pending_ + 56, static_cast<uint32_t>(bits));
  PutLe32(pending_ + 60, static_cast<uint32_t>(bits >> 32));
  Compress(state_, pending_);
  for (unsigned k = 0; k < 4; ++k) PutLe32(digest + 4 * k, state_[k]);
}

void Md5Digest(const void* data, size_t n, uint8_t digest[kMd5DigestBytes]) {
  CMd5 md5;
  md5.Update(data, n);
  md5.Final(digest);
}
