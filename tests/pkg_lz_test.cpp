// The escape-byte LZ decoder: hand-written token streams for the quirks and the bounds,
// a differential run against the byte-at-a-time definition, and the extraction through the
// real module's TZK_GetFile.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "bytes/byte_order.h"
#include "pkg/pkg.h"
#include "platform/platform_testing.h"
#include "reference/reference.h"
#include "tests/support/test_support.h"
#include "tools/writers/byte_writer.h"
#include "tools/writers/pkg_writer.h"

namespace {

constexpr int32_t kAutoEnd = INT32_MIN;  // endOffset: just behind the tokens

Bytes LzStream(uint8_t escape, int32_t decodedLength, int32_t endOffset, const Bytes& tokens) {
  CByteWriter w;
  w.Le32(static_cast<uint32_t>(decodedLength));
  w.Le32(static_cast<uint32_t>(endOffset == kAutoEnd ? 12 + static_cast<int32_t>(tokens.size())
                                                     : endOffset));
  w.U8(escape);
  w.Zeros(3);
  w.Raw(tokens.data(), tokens.size());
  return w.bytes();
}

// One decoding into buffers of exactly the given sizes, so that ASan sees any byte outside.
struct Decoded {
  PkgLzResult result;
  Bytes out;
};

Decoded Decode(PkgLzResult (*decode)(const uint8_t*, size_t, uint8_t*, size_t), const Bytes& stored,
               size_t capacity) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[stored.empty() ? 1 : stored.size()]);
  if (!stored.empty()) std::memcpy(in.get(), stored.data(), stored.size());
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity == 0 ? 1 : capacity]());
  Decoded d;
  d.result = decode(stored.empty() ? nullptr : in.get(), stored.size(), out.get(), capacity);
  d.out.assign(out.get(), out.get() + capacity);
  return d;
}

struct TokenCase {
  const char* what;
  uint8_t escape;
  int32_t decodedLength;
  int32_t endOffset;
  Bytes tokens;
  size_t capacity;
  Bytes expected;  // the first bytes of the output; every later byte stays zero
  size_t consumed;
};

Bytes Seventeen() {
  Bytes b;
  for (uint8_t v = 0x20; v < 0x31; ++v) b.push_back(v);
  return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<TokenCase> TokenCases() {
  return {
      {"repeat from two back",
       0xFF,
       6,
       17,
       {0x41, 0x42, 0xFF, 0x02, 0x04},
       300,
       {0x41, 0x42, 0x41, 0x42, 0x41, 0x42},
       17},
      {"escaped escape", 0xFF, 3, kAutoEnd, {0x41, 0xFF, 0xFF, 0x42}, 300, {0x41, 0xFF, 0x42}, 16},
      {"distance byte above E is one less", 0x10, 20, kAutoEnd,
       Cat(Seventeen(), {0x10, 0x12, 0x03}), 300, Cat(Seventeen(), {0x20, 0x21, 0x22}), 32},
      {"distance byte below E is itself", 0x10, 20, kAutoEnd, Cat(Seventeen(), {0x10, 0x0F, 0x03}),
       300, Cat(Seventeen(), {0x22, 0x23, 0x24}), 32},
      {"distance 0 gives zeros",
       0x00,
       6,
       kAutoEnd,
       {0x41, 0x00, 0x01, 0x04, 0x42},
       300,
       {0x41, 0, 0, 0, 0, 0x42},
       17},
      {"distance 1 is a run",
       0xFF,
       6,
       kAutoEnd,
       {0x41, 0xFF, 0x01, 0x05},
       300,
       {0x41, 0x41, 0x41, 0x41, 0x41, 0x41},
       16},
      {"count 0 consumes three bytes",
       0xFF,
       3,
       kAutoEnd,
       {0x41, 0x42, 0xFF, 0x02, 0x00, 0x43},
       300,
       {0x41, 0x42, 0x43},
       18},
      {"last copy overruns decodedLength",
       0xFF,
       3,
       kAutoEnd,
       {0x41, 0x42, 0xFF, 0x02, 0x08, 0x43},
       259,
       {0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42},
       17},
      {"endOffset ends the tokens", 0xFF, 10, 14, {0x41, 0x42, 0x43, 0x44}, 300, {0x41, 0x42}, 14},
      {"a token starting before endOffset is read whole",
       0xFF,
       10,
       14,
       {0x41, 0xFF, 0x01, 0x03, 0x44},
       300,
       {0x41, 0x41, 0x41, 0x41},
       16},
      {"endOffset 12", 0xFF, 10, 12, {0x41}, 300, {}, 12},
      {"endOffset below 12", 0xFF, 10, 5, {0x41}, 300, {}, 12},
      {"endOffset negative", 0xFF, 10, -20, {0x41}, 300, {}, 12},
      {"decodedLength 0", 0xFF, 0, kAutoEnd, {0x41}, 300, {}, 12},
      {"decodedLength negative", 0xFF, INT32_MIN, kAutoEnd, {0x41}, 300, {}, 12},
      // The bounds of the buffers: stop or clip, never cross.
      {"distance beyond the output stops",
       0xFF,
       10,
       kAutoEnd,
       {0x41, 0xFF, 0x03, 0x02, 0x42},
       300,
       {0x41},
       13},
      {"distance 1 at the first byte stops", 0xFF, 10, kAutoEnd, {0xFF, 0x01, 0x02}, 300, {}, 12},
      {"distance 0 at the first byte is fine",
       0xFF,
       10,
       kAutoEnd,
       {0xFF, 0x00, 0x02, 0x41},
       300,
       {0, 0, 0x41},
       16},
      {"escape as the last stored byte", 0xFF, 10, 1000, {0x41, 0xFF}, 300, {0x41}, 13},
      {"copy cut after its distance", 0xFF, 10, 1000, {0x41, 0xFF, 0x01}, 300, {0x41}, 13},
      {"endOffset past the stored bytes", 0xFF, 10, 1000, {0x41, 0x42}, 300, {0x41, 0x42}, 14},
      {"copy clipped at the capacity",
       0xFF,
       1000,
       kAutoEnd,
       {0x41, 0xFF, 0x01, 0xFF, 0x42},
       5,
       {0x41, 0x41, 0x41, 0x41, 0x41},
       16},
      {"literals stop at the capacity",
       0xFF,
       1000,
       kAutoEnd,
       {0x41, 0x42, 0x43},
       2,
       {0x41, 0x42},
       14},
      {"zero capacity", 0xFF, 1000, kAutoEnd, {0x41, 0x42, 0x43}, 0, {}, 12},
  };
}

TEST(PkgLzDecoder, HandWrittenTokenStreams) {
  for (const TokenCase& c : TokenCases()) {
    const Bytes stored = LzStream(c.escape, c.decodedLength, c.endOffset, c.tokens);
    Bytes expected = c.expected;
    expected.resize(c.capacity, 0);
    for (auto decode : {DecodePkgLz, DecodePkgLzReference}) {
      const Decoded d = Decode(decode, stored, c.capacity);
      EXPECT_EQ(Hex(d.out, 300), Hex(expected, 300)) << c.what;
      EXPECT_EQ(d.result.produced, c.expected.size()) << c.what;
      EXPECT_EQ(d.result.consumed, c.consumed) << c.what;
    }
  }
}

TEST(PkgLzDecoder, HeaderShorterThanTwelveBytesDecodesNothing) {
  const Bytes full = LzStream(0xFF, 4, 1000, {0x41, 0x42});
  for (size_t n = 0; n < 12; ++n) {
    const Bytes cut(full.begin(), full.begin() + n);
    for (auto decode : {DecodePkgLz, DecodePkgLzReference}) {
      const Decoded d = Decode(decode, cut, 16);
      EXPECT_EQ(d.result.produced, 0u) << n << " header bytes";
      EXPECT_EQ(d.out, Bytes(16, 0)) << n << " header bytes";
    }
  }
}

// Streams a fuzzer would find: literals, escaped escapes and copies of every kind, with
// distances inside and beyond the output, counts up to 255, and headers whose bounds fall
// short of, inside or past the buffers.
Bytes HostileStream(std::mt19937& rng) {
  auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  const uint8_t escape = static_cast<uint8_t>(pick(4) == 0 ? 0xFF : pick(256));
  Bytes tokens;
  const uint32_t tokenCount = pick(400);
  size_t produced = 0;
  const uint32_t style = pick(4);  // 0: literal-heavy, 1: copy-heavy, 2: short, 3: random
  for (uint32_t t = 0; t < tokenCount; ++t) {
    if (style == 3) {
      tokens.push_back(static_cast<uint8_t>(pick(256)));
      continue;
    }
    const uint32_t kind = pick(style == 0 ? 16 : 4);
    if (kind >= 2) {
      uint8_t b = static_cast<uint8_t>(pick(256));
      if (b == escape) b ^= 1;
      tokens.push_back(b);
      ++produced;
    } else if (kind == 1 && pick(3) == 0) {
      tokens.push_back(escape);
      tokens.push_back(escape);
      ++produced;
    } else {
      // Mostly within the output so far, now and then beyond it.
      const uint32_t reach = produced > 254 ? 255 : static_cast<uint32_t>(produced) + 1;
      size_t distance = pick(8) == 0 ? pick(255) : pick(reach < 20 ? 20 : reach);
      if (style == 1 && pick(2) == 0) distance = 1 + pick(9);
      const uint8_t d = static_cast<uint8_t>(distance < escape ? distance : distance + 1);
      const uint32_t n = pick(4) == 0 ? 255 - pick(4) : pick(style == 2 ? 8 : 40);
      tokens.push_back(escape);
      tokens.push_back(d);
      tokens.push_back(static_cast<uint8_t>(n));
      produced += n;
    }
  }
  const int32_t length = static_cast<int32_t>(12 + tokens.size());
  int32_t endOffset = length;
  switch (pick(6)) {
    case 0: endOffset = length + static_cast<int32_t>(pick(8)); break;
    case 1:
      endOffset = 12 + static_cast<int32_t>(pick(static_cast<uint32_t>(tokens.size()) + 1));
      break;
    case 2: endOffset = static_cast<int32_t>(rng()); break;
    default: break;
  }
  int32_t decodedLength = static_cast<int32_t>(produced);
  switch (pick(6)) {
    case 0: decodedLength = static_cast<int32_t>(pick(static_cast<uint32_t>(produced) + 1)); break;
    case 1: decodedLength = static_cast<int32_t>(rng()); break;
    case 2: decodedLength += static_cast<int32_t>(pick(600)); break;
    default: break;
  }
  Bytes stored = LzStream(escape, decodedLength, endOffset, tokens);
  if (pick(5) == 0) stored.resize(pick(static_cast<uint32_t>(stored.size()) + 1));
  return stored;
}

TEST(PkgLzDecoder, MatchesTheDefinitionOnHostileStreams) {
  std::mt19937 rng(20261209);
  for (int i = 0; i < 3000; ++i) {
    const Bytes stored = HostileStream(rng);
    const int32_t decodedLength = stored.size() >= 4 ? le32s(stored.data()) : 0;
    // Capacities around decodedLength + 256, tight ones and ones far too small.
    size_t capacity = rng() % 3000;
    if (rng() % 2 == 0 && decodedLength > 0 && decodedLength < 100000) {
      capacity = static_cast<size_t>(decodedLength) + 256;
      capacity -= rng() % (capacity < 300 ? capacity : 300);
    }
    const Decoded fast = Decode(DecodePkgLz, stored, capacity);
    const Decoded reference = Decode(DecodePkgLzReference, stored, capacity);
    ASSERT_EQ(fast.result.produced, reference.result.produced) << "stream " << i;
    ASSERT_EQ(fast.result.consumed, reference.result.consumed) << "stream " << i;
    ASSERT_TRUE(fast.out == reference.out) << "stream " << i;
  }
}

// Real streams from the encoder, then damaged: bytes flipped, the stream cut, the header's
// bounds moved. Long runs of tokens keep the decoder on its fast path up to the damage.
TEST(PkgLzDecoder, MatchesTheDefinitionOnDamagedEncodedStreams) {
  std::mt19937 rng(77);
  Bytes text;
  static const char* kWords[] = {"alpha ", "beta ", "gamma\n", "delta, ", "ab ", "abc "};
  while (text.size() < 20000) {
    const char* w = kWords[rng() % 6];
    text.insert(text.end(), w, w + std::strlen(w));
    if (rng() % 9 == 0) text.insert(text.end(), rng() % 40, static_cast<uint8_t>(rng() % 3));
  }
  const Bytes coded = EncodePkgLz(text.data(), text.size());
  for (int i = 0; i < 300; ++i) {
    Bytes stored = coded;
    const int flips = static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) stored[12 + rng() % (stored.size() - 12)] ^= 1u << (rng() % 8);
    if (rng() % 3 == 0) stored.resize(12 + rng() % (stored.size() - 12));
    if (rng() % 4 == 0) stored[0] ^= static_cast<uint8_t>(rng());  // decodedLength
    if (rng() % 4 == 0) stored[4] ^= static_cast<uint8_t>(rng());  // endOffset
    size_t capacity = text.size() + 256;
    if (rng() % 3 == 0) capacity = rng() % capacity;
    const Decoded fast = Decode(DecodePkgLz, stored, capacity);
    const Decoded reference = Decode(DecodePkgLzReference, stored, capacity);
    ASSERT_EQ(fast.result.produced, reference.result.produced) << "stream " << i;
    ASSERT_EQ(fast.result.consumed, reference.result.consumed) << "stream " << i;
    ASSERT_TRUE(fast.out == reference.out) << "stream " << i;
  }
}

// A PKG record as a listing makes one.
ArchiveEntry PkgRecord(uint64_t size, uint64_t packedSize, uint32_t param) {
  return MakeRecord(kTypePkg, param, size, packedSize);
}

TEST(PkgExtraction, DecodesIntoABlockOfPlainSizePlusMargin) {
  // The repeat overruns decodedLength by seven bytes into the margin.
  const Bytes stored = LzStream(0xFF, 3, kAutoEnd, {0x41, 0x42, 0xFF, 0x02, 0x08, 0x43});
  ArchiveEntry entry = PkgRecord(0xFFFFFFFF00000003ull, stored.size(), 1);
  const HostExtraction x = ExtractStored(stored, &entry);
  ASSERT_EQ(x.result, 0);
  ASSERT_TRUE(x.handleStored);
  EXPECT_EQ(x.lockCount, 0u);
  EXPECT_EQ(x.blockSize, 3u + 256u);
  Bytes expected = {0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41, 0x42};
  expected.resize(259, 0);
  EXPECT_EQ(x.contents, expected);
  EXPECT_EQ(entry.size, 3u) << "size rewritten with its upper half cleared";
}

TEST(PkgExtraction, MalformedStreamsStillSucceed) {
  struct Case {
    const char* what;
    Bytes stored;
    uint32_t plainSize;
    size_t nonZero;  // bytes at the start of the block that may be non-zero
  } cases[] = {
      {"decodedLength past the block",
       LzStream(0xFF, 100000, kAutoEnd,
                {0x41, 0xFF, 0x01, 0xFF, 0xFF, 0x01, 0xFF, 0xFF, 0x01, 0xFF}),
       4, 260},
      {"endOffset past packedSize", LzStream(0xFF, 8, 100000, {0x41, 0x42, 0xFF, 0x01}), 8, 2},
      {"stored bytes shorter than a header", {0x08, 0, 0, 0, 0x40}, 8, 0},
      {"no stored bytes", {}, 8, 0},
      {"nothing to decode", LzStream(0xFF, 0, kAutoEnd, {0x41}), 8, 0},
  };
  for (const Case& c : cases) {
    ArchiveEntry entry = PkgRecord(c.plainSize, c.stored.size(), 1);
    const HostExtraction x = ExtractStored(c.stored, &entry);
    EXPECT_EQ(x.result, 0) << c.what;
    EXPECT_EQ(x.blockSize, c.plainSize + 256u) << c.what;
    EXPECT_EQ(x.lockCount, 0u) << c.what;
    for (size_t i = c.nonZero; i < x.contents.size(); ++i) {
      ASSERT_EQ(x.contents[i], 0) << c.what << " byte " << i;
    }
    EXPECT_EQ(entry.size, c.plainSize) << c.what;
  }
}

TEST(PkgExtraction, OtherParamsAreCopiedRawIntoExactlyPlainSize) {
  const Bytes stored = LzStream(0xFF, 3, kAutoEnd, {0x41, 0x42, 0x43});
  for (uint32_t param : {0u, 2u, 0x80000001u}) {
    ArchiveEntry entry = PkgRecord(0xFFFFFFFF00000008ull, stored.size(), param);
    const ArchiveEntry before = entry;
    const HostExtraction x = ExtractStored(stored, &entry);
    ASSERT_EQ(x.result, 0) << param;
    EXPECT_EQ(x.blockSize, 8u) << param;
    EXPECT_EQ(x.contents, Bytes(stored.begin(), stored.begin() + 8)) << param;
    EXPECT_EQ(std::memcmp(&entry, &before, sizeof(entry)), 0) << "record untouched, " << param;
  }
}

TEST(PkgExtraction, BlockThatCannotBeHadGivesOneAndLeavesTheRecord) {
  const Bytes stored = LzStream(0xFF, 3, kAutoEnd, {0x41, 0x42, 0x43});
  // L + 256 beyond 32 bits, and a block of 4 GiB less one byte.
  for (uint64_t size : {0xFFFFFFFFull, 0xFFFFFF01ull, 0xFFFFFEFFull}) {
    ArchiveEntry entry = PkgRecord(size, stored.size(), 1);
    const ArchiveEntry before = entry;
    const HostExtraction x = ExtractStored(stored, &entry);
    EXPECT_EQ(x.result, 1) << size;
    EXPECT_FALSE(x.handleStored) << size;
    EXPECT_EQ(std::memcmp(&entry, &before, sizeof(entry)), 0) << size;
  }
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  const int32_t live = PlatformLiveGlobalBlocks();
  ArchiveEntry entry = PkgRecord(3, stored.size(), 1);
  PlatformFailAllocation(1);
  const HostExtraction x = ExtractStored(stored, &entry);
  PlatformFailAllocation(0);
  EXPECT_EQ(x.result, 1);
  EXPECT_FALSE(x.handleStored);
  EXPECT_EQ(entry.size, 3u);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), live);
#endif
}

}  // namespace
