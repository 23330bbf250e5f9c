#include "bench/md5_previous.h"

#include <cmath>
#include <vector>

namespace {

uint32_t Rotl(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }

// One 64-byte round of MD5 over state.
void Md5Chunk(uint32_t state[4], const uint8_t* chunk) {
  static const unsigned kShift[4][4] = {
      {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  static uint32_t table[64];
  static bool ready = false;
  if (!ready) {
    for (int i = 0; i < 64; ++i) {
      table[i] = static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
    }
    ready = true;
  }
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = static_cast<uint32_t>(chunk[4 * i]) | (static_cast<uint32_t>(chunk[4 * i + 1]) << 8) |
           (static_cast<uint32_t>(chunk[4 * i + 2]) << 16) |
           (static_cast<uint32_t>(chunk[4 * i + 3]) << 24);
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    f += a + table[i] + m[g];
    a = d;
    d = c;
    c = b;
    b += Rotl(f, kShift[i / 16][i % 4]);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void PreviousMd5(const std::string& name, uint8_t digest[16]) {
  uint32_t state[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  std::vector<uint8_t> message(name.begin(), name.end());
  const uint64_t bits = static_cast<uint64_t>(message.size()) * 8;
  message.push_back(0x80);
  while (message.size() % 64 != 56) message.push_back(0);
  for (int i = 0; i < 8; ++i) message.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  for (size_t at = 0; at < message.size(); at += 64) Md5Chunk(state, message.data() + at);
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(state[i / 4] >> (8 * (i % 4)));
}
