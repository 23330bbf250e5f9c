// The strict escape-byte LZ check: one row per fault on hand-written streams, the same
// verdict whatever pieces the bytes come in, and a differential run against the
// byte-at-a-time definition: a stream is whole exactly when the definition decodes it
// inside every bound to its plain size, ending at its stored bytes' end.
#include <gtest/gtest.h>

#include <random>

#include "reference/reference.h"
#include "tests/support/archive_cases.h"
#include "tests/support/test_support.h"
#include "tools/writers/byte_writer.h"
#include "tools/writers/pkg_writer.h"

namespace {

struct Verdict {
  PkgLzFault fault;
  uint64_t storedAt;
  uint64_t plainAt;
  int64_t value;
};

Verdict Check(const Bytes& stored, uint64_t plainSize, size_t piece) {
  CPkgLzStrictCheck c(stored.size(), plainSize);
  for (size_t at = 0; at < stored.size(); at += piece) {
    const size_t n = std::min(piece, stored.size() - at);
    // Each piece in a buffer of its own size, so ASan sees a read outside it.
    std::vector<uint8_t> copy(stored.begin() + at, stored.begin() + at + n);
    if (!c.Feed(copy.data(), n)) break;
  }
  c.Finish();
  return Verdict{c.fault(), c.storedAt(), c.plainAt(), c.value()};
}

struct StrictCase {
  const char* what;
  Bytes stored;
  uint64_t plainSize;
  PkgLzFault fault;
  uint64_t storedAt;  // where the fault lies (for kNone: the stored length)
  int64_t value;      // the fault's value (ignored for kNone)
};

TEST(PkgLzStrict, EachFaultIsFoundWhereItLies) {
  const std::vector<StrictCase> cases = {
      {"literals and a copy", LzStream(0xFF, 6, 17, {0x41, 0x42, 0xFF, 0x02, 0x04}), 6,
       PkgLzFault::kNone, 17, 0},
      {"an escaped escape", LzStream(0xFF, 3, 16, {0x41, 0xFF, 0xFF, 0x42}), 3, PkgLzFault::kNone,
       16, 0},
      {"distance 0 makes zeros", LzStream(0x00, 4, 15, {0x00, 0x01, 0x04}), 4, PkgLzFault::kNone,
       15, 0},
      {"an empty entry", LzStream(0x10, 0, 12, {}), 0, PkgLzFault::kNone, 12, 0},
      {"a header cut short", Bytes{6, 0, 0, 0, 17}, 6, PkgLzFault::kHeaderCut, 0, 5},
      {"decodedLength is not the plain size", LzStream(0xFF, 5, 13, {0x41}), 1,
       PkgLzFault::kLengthMismatch, 12, 5},
      {"endOffset is not the stored length", LzStream(0xFF, 1, 14, {0x41}), 1,
       PkgLzFault::kEndMismatch, 12, 14},
      {"the stream one literal short", LzStream(0xFF, 4, 15, {0x41, 0x42, 0x43}), 4,
       PkgLzFault::kShort, 15, 3},
      {"a copy token cut by the end", LzStream(0xFF, 6, 16, {0x41, 0x42, 0xFF, 0x02}), 6,
       PkgLzFault::kTokenPastEnd, 14, 2},
      {"a back-reference before the start", LzStream(0xFF, 4, 16, {0x41, 0xFF, 0x05, 0x03}), 4,
       PkgLzFault::kDistance, 13, 5},
      {"a distance byte above the escape is one less",
       LzStream(0x01, 4, 16, {0x41, 0x01, 0x02, 0x03}), 4, PkgLzFault::kNone, 16, 0},
      {"and one more above it reaches too far", LzStream(0x01, 4, 16, {0x41, 0x01, 0x03, 0x03}), 4,
       PkgLzFault::kDistance, 13, 2},
      {"the last copy overruns", LzStream(0xFF, 3, 17, {0x41, 0x42, 0xFF, 0x02, 0x08}), 3,
       PkgLzFault::kOverrun, 14, 7},
      {"tokens after the plain bytes", LzStream(0xFF, 2, 15, {0x41, 0x42, 0x43}), 2,
       PkgLzFault::kTrailing, 14, 1},
  };
  for (const StrictCase& c : cases) {
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{1} << 16}) {
      const Verdict v = Check(c.stored, c.plainSize, piece);
      EXPECT_EQ(v.fault, c.fault) << c.what << ", pieces of " << piece;
      if (c.fault == PkgLzFault::kNone) {
        EXPECT_EQ(v.plainAt, c.plainSize) << c.what;
        EXPECT_EQ(v.storedAt, c.storedAt) << c.what;
      } else if (c.fault != PkgLzFault::kHeaderCut) {
        EXPECT_EQ(v.storedAt, c.storedAt) << c.what << ", pieces of " << piece;
        EXPECT_EQ(v.value, c.value) << c.what << ", pieces of " << piece;
      }
    }
  }
}

// Whole, by the definition: decoded inside every bound, to exactly the plain size, ending
// exactly at the stored bytes' end, which the header names.
bool WholeByDefinition(const Bytes& stored, uint64_t plainSize) {
  if (stored.size() < kPkgLzHeaderSize) return false;
  std::vector<uint8_t> out(plainSize + kPkgLzMargin, 0);
  PkgLzEnd end;
  const PkgLzResult r =
      DecodePkgLzDefinition(stored.data(), stored.size(), out.data(), out.size(), &end);
  const int32_t decodedLength = static_cast<int32_t>(stored[0] | stored[1] << 8 | stored[2] << 16 |
                                                     uint32_t{stored[3]} << 24);
  const int32_t endOffset = static_cast<int32_t>(stored[4] | stored[5] << 8 | stored[6] << 16 |
                                                 uint32_t{stored[7]} << 24);
  return end == PkgLzEnd::kStream && decodedLength >= 0 &&
         static_cast<uint64_t>(decodedLength) == plainSize && endOffset >= 0 &&
         static_cast<uint64_t>(endOffset) == stored.size() && r.produced == plainSize &&
         r.consumed == stored.size();
}

TEST(PkgLzStrict, AgreesWithTheDefinitionOnEncodedAndMutatedStreams) {
  std::mt19937 random(25);
  int whole = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes plain(random() % 700);
    const uint32_t alphabet = 1 + random() % 6;
    for (uint8_t& b : plain) b = static_cast<uint8_t>('a' + random() % alphabet);
    Bytes stored = EncodePkgLz(plain.data(), plain.size());
    uint64_t plainSize = plain.size();
    ASSERT_EQ(Check(stored, plainSize, 64).fault, PkgLzFault::kNone) << "round " << round;
    // Then damage: bytes changed, the end moved, the plain size off by one.
    switch (round % 4) {
      case 0: break;
      case 1:
        for (int k = 0; k < 2 && stored.size() > kPkgLzHeaderSize; ++k) {
          stored[kPkgLzHeaderSize + random() % (stored.size() - kPkgLzHeaderSize)] =
              static_cast<uint8_t>(random());
        }
        break;
      case 2: stored.resize(stored.size() - random() % std::min<size_t>(stored.size(), 4)); break;
      case 3: plainSize += (random() % 2 == 0 && plainSize != 0) ? -1 : 1; break;
    }
    const bool expected = WholeByDefinition(stored, plainSize);
    whole += expected ? 1 : 0;
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
      EXPECT_EQ(Check(stored, plainSize, piece).fault == PkgLzFault::kNone, expected)
          << "round " << round << ", pieces of " << piece;
    }
  }
  // Both verdicts were met many times.
  EXPECT_GT(whole, 700);
  EXPECT_LT(whole, 2900);
}

}  // namespace
