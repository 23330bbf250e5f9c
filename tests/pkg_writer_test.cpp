// The PKG writer and its LZ encoder: round trips through the byte-at-a-time definition and
// the plug-in's decoder, and whole containers listed and extracted through the real module.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "bytes/byte_order.h"
#include "pkg/pkg.h"
#include "reference/reference.h"
#include "tests/support/test_support.h"
#include "tools/writers/pkg_writer.h"

namespace {

Bytes Words(size_t n, uint32_t seed) {
  static const char* kWords[] = {"the ",    "archive ", "entry ", "block ", "of ",     "and ",
                                 "stored ", "bytes ",   "name\n", "size, ", "offset. "};
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) {
    const char* w = kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
    b.insert(b.end(), w, w + std::strlen(w));
  }
  b.resize(n);
  return b;
}

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

// Little-endian records with slowly changing fields, like tables in a binary file.
Bytes Records(size_t n) {
  Bytes b;
  for (uint32_t i = 0; b.size() < n; ++i) {
    const uint32_t fields[] = {i, i * 3 + 7, 0x1000u, i & 0xFF ? 0u : 0xDEADBEEFu};
    for (uint32_t f : fields) {
      for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(f >> (8 * k)));
    }
  }
  b.resize(n);
  return b;
}

Bytes Runs(size_t n) {
  Bytes b;
  for (size_t r = 0; b.size() < n; ++r) b.resize(b.size() + 1 + (r * 37) % 700, r % 3 ? 0 : 0x5A);
  b.resize(n);
  return b;
}

// Decodes a coded entry as the plug-in would, into exact buffers of L + 256 bytes.
Bytes DecodeWith(PkgLzResult (*decode)(const uint8_t*, size_t, uint8_t*, size_t),
                 const Bytes& coded, size_t plainSize) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[coded.size()]);
  std::memcpy(in.get(), coded.data(), coded.size());
  Bytes out(plainSize + kPkgLzMargin, 0);
  decode(in.get(), coded.size(), out.data(), out.size());
  return out;
}

void ExpectRoundTrip(const Bytes& data, const std::string& what,
                     const PkgLzSettings& settings = PkgLzSettings()) {
  const Bytes coded = EncodePkgLz(data.data(), data.size(), settings);
  ASSERT_GE(coded.size(), 12u) << what;
  EXPECT_EQ(le32(coded.data()), data.size()) << what << ": decodedLength";
  EXPECT_EQ(le32(coded.data() + 4), coded.size()) << what << ": endOffset";
  Bytes expected = data;
  expected.resize(data.size() + kPkgLzMargin, 0);
  const Bytes reference = DecodeWith(DecodePkgLzReference, coded, data.size());
  ASSERT_TRUE(reference == expected) << what;
  ASSERT_TRUE(DecodeWith(DecodePkgLz, coded, data.size()) == expected) << what;
}

TEST(PkgLzEncoder, RoundTripsAndCompresses) {
  struct Case {
    const char* what;
    Bytes data;
    double maxRatio;  // coded size / plain size, header included
  } cases[] = {
      {"text", Words(100000, 1), 0.45},
      {"binary records", Records(60000), 0.6},
      {"runs", Runs(80000), 0.05},
      {"zeros", Bytes(70000, 0), 0.02},
      {"incompressible", Random(50000, 2), 1.01},
      {"period 254, the longest distance",
       [] {
         Bytes p = Random(254, 3);
         Bytes b;
         for (int i = 0; i < 40; ++i) b.insert(b.end(), p.begin(), p.end());
         return b;
       }(),
       0.2},
  };
  for (const Case& c : cases) {
    ExpectRoundTrip(c.data, c.what);
    const Bytes coded = EncodePkgLz(c.data.data(), c.data.size());
    EXPECT_LE(static_cast<double>(coded.size()), c.maxRatio * c.data.size()) << c.what;
  }
  for (size_t n : {0, 1, 2, 3, 254, 255, 256, 257, 511}) {
    ExpectRoundTrip(Bytes(n, 0), "zeros of " + std::to_string(n));
    ExpectRoundTrip(Bytes(n, 0x7E), "a run of " + std::to_string(n));
    ExpectRoundTrip(Words(n, 4), "text of " + std::to_string(n));
  }
}

TEST(PkgLzEncoder, EveryEscapeByteValue) {
  // Data holding every byte value but one, with repeats at many distances, so that the
  // missing value becomes the escape byte and distance bytes fall on both sides of it.
  Bytes base = Random(6000, 5);
  for (size_t i = 300; i < base.size(); ++i) {
    // The second half of every 300 bytes repeats from one distance of 1 to 254.
    if (i % 300 >= 150) base[i] = base[i - 1 - (i / 300 * 97) % 254];
  }
  for (int escape = 0; escape < 256; ++escape) {
    Bytes data = base;
    for (uint8_t& v : data) {
      if (v == escape) v = static_cast<uint8_t>(escape + 1);
    }
    for (int v = 0; v < 256; ++v) {
      if (v != escape) data.push_back(static_cast<uint8_t>(v));
    }
    const Bytes coded = EncodePkgLz(data.data(), data.size());
    ASSERT_EQ(coded[8], escape) << "the least frequent value is the escape byte";
    ExpectRoundTrip(data, "escape " + std::to_string(escape));
    // One occurrence of the escape value is written as E E.
    data.push_back(static_cast<uint8_t>(escape));
    ExpectRoundTrip(data, "escape " + std::to_string(escape) + " escaped");
  }
}

// Every parse and both match searches give streams both decoders turn back into the data,
// and the optimal parse is never longer than the greedy or lazy one: over every distance it
// is the fewest bytes the format can code the data in (for that escape byte).
TEST(PkgLzEncoder, EveryParseRoundTripsAndTheOptimalOneIsShortest) {
  const Bytes mixed = [] {
    Bytes b = Words(3000, 8);
    const Bytes r = Records(2000);
    b.insert(b.end(), r.begin(), r.end());
    b.insert(b.end(), 700, 0);
    const Bytes w = Words(1500, 8);  // repeats the start, far beyond the window
    b.insert(b.end(), w.begin(), w.end());
    return b;
  }();
  const PkgLzParse parses[] = {PkgLzParse::kGreedy, PkgLzParse::kLazy, PkgLzParse::kOptimal};
  for (const bool everyDistance : {false, true}) {
    size_t sizes[3] = {};
    for (int p = 0; p < 3; ++p) {
      PkgLzSettings settings;
      settings.parse = parses[p];
      settings.everyDistance = everyDistance;
      const std::string what =
          "parse " + std::to_string(p) + (everyDistance ? ", every distance" : "");
      ExpectRoundTrip(mixed, what, settings);
      sizes[p] = EncodePkgLz(mixed.data(), mixed.size(), settings).size();
    }
    EXPECT_LE(sizes[2], sizes[0]) << everyDistance;
    EXPECT_LE(sizes[2], sizes[1]) << everyDistance;
  }
  PkgLzSettings best;
  best.everyDistance = true;
  EXPECT_LE(EncodePkgLz(mixed.data(), mixed.size(), best).size(),
            EncodePkgLz(mixed.data(), mixed.size()).size());
}

// Segments are coded one at a time: copies reach back across a segment's start, and the
// joined pieces are one stream, whatever the segment size.
TEST(PkgLzEncoder, SegmentsJoinIntoOneStream) {
  Bytes data = Words(5000, 9);
  const Bytes noise = Random(200, 10);
  for (int i = 0; i < 30; ++i) data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), 1000, 0);
  for (const size_t segment : {size_t{1}, size_t{100}, size_t{254}, size_t{4096}, size_t{0}}) {
    PkgLzSettings settings;
    settings.segmentBytes = segment;
    ExpectRoundTrip(data, "segments of " + std::to_string(segment), settings);
  }
  PkgLzSettings small;
  small.segmentBytes = 4096;
  PkgLzSettings whole;
  whole.segmentBytes = 0;
  // Cutting a copy at every segment's end costs at most a token per segment.
  EXPECT_LE(EncodePkgLz(data.data(), data.size(), small).size(),
            EncodePkgLz(data.data(), data.size(), whole).size() + 3 * (data.size() / 4096 + 1));
}

TEST(PkgWriter, ContainerListsAndExtractsThroughThePlugin) {
  const std::vector<ArchiveInput> inputs = {
      {"docs/readme.txt", Words(20000, 6)},
      {"noise.bin", Random(5000, 7)},
      {"zeros", Bytes(3000, 0)},
      {"empty", {}},
      {std::string(63, 'n'), Records(1000)},
  };
  struct Mode {
    PkgCompression compression;
    uint32_t params[5];
  } modes[] = {{PkgCompression::kAuto, {1, 0, 1, 0, 1}},
               {PkgCompression::kNever, {0, 0, 0, 0, 0}},
               {PkgCompression::kAlways, {1, 1, 1, 1, 1}}};
  for (const Mode& m : modes) {
    PkgWriterOptions options;
    options.compression = m.compression;
    Bytes archive;
    std::string error;
    ASSERT_TRUE(WritePkg(inputs, options, &archive, &error)) << error;
    const HostListing l = ListArchive(archive);
    ASSERT_EQ(l.result, 0);
    ASSERT_EQ(l.count, 5);
    for (size_t k = 0; k < inputs.size(); ++k) {
      ArchiveEntry entry = l.entries[k];
      EXPECT_EQ(std::string(entry.name), inputs[k].name);
      EXPECT_EQ(entry.size, inputs[k].data.size());
      EXPECT_EQ(entry.param, m.params[k]) << inputs[k].name;
      const HostExtraction x = ExtractEntry(archive, &entry);
      ASSERT_EQ(x.result, 0) << inputs[k].name;
      EXPECT_EQ(x.blockSize, inputs[k].data.size() + (entry.param == 1 ? 256 : 0));
      EXPECT_TRUE(Contents(x, inputs[k].data.size()) == inputs[k].data) << inputs[k].name;
    }
  }
}

// Entries on the edges of segments, an incompressible one over several segments (whose
// coding is written, then found no smaller and overwritten with its plain bytes), and many
// small ones: the same container for every number of threads, each entry's stored bytes
// being its whole coding (EncodePkgLz) or its plain bytes.
TEST(PkgWriter, SameContainerForEveryNumberOfThreads) {
  std::vector<ArchiveInput> inputs = {
      {"empty", {}},
      {"segment", Words(kPkgLzDefaultSegmentBytes, 11)},
      {"noise", Random(3 * kPkgLzDefaultSegmentBytes + 5, 12)},
      {"segments", Words(2 * kPkgLzDefaultSegmentBytes + 1, 13)},
      {"exact", Records(65536)},
  };
  for (int i = 0; i < 40; ++i) inputs.push_back({"small/" + std::to_string(i), Words(i * 5, i)});
  Bytes first;
  for (unsigned jobs : {1u, 2u, 3u, 8u}) {
    PkgWriterOptions options;
    options.jobs = jobs;
    PackProgress last;
    options.onProgress = [&](const PackProgress& p) { last = p; };
    Bytes out;
    std::string error;
    ASSERT_TRUE(WritePkg(inputs, options, &out, &error)) << error;
    EXPECT_EQ(last.entriesDone, inputs.size());
    if (jobs == 1) {
      first = out;
    } else {
      EXPECT_TRUE(out == first) << jobs << " jobs";
    }
  }
  const HostListing l = ListArchive(first);
  ASSERT_EQ(l.count, static_cast<int32_t>(inputs.size()));
  for (size_t k = 0; k < inputs.size(); ++k) {
    const ArchiveEntry& e = l.entries[k];
    const Bytes stored(first.begin() + static_cast<long>(e.offset),
                       first.begin() + static_cast<long>(e.offset + e.packedSize));
    const Bytes& data = inputs[k].data;
    const Bytes coded = EncodePkgLz(data.data(), data.size());
    if (coded.size() < data.size()) {
      EXPECT_EQ(e.param, 1u) << inputs[k].name;
      EXPECT_TRUE(stored == coded) << inputs[k].name;
    } else {
      EXPECT_EQ(e.param, 0u) << inputs[k].name;
      EXPECT_TRUE(stored == data) << inputs[k].name;
    }
  }
}

TEST(PkgWriter, RefusesWhatTheFormatCannotHold) {
  struct Case {
    const char* what;
    std::vector<ArchiveInput> entries;
  } cases[] = {
      {"no entries", {}},
      {"a 64-byte name", {{std::string(64, 'n'), {1}}}},
      {"a name holding a zero byte", {{std::string("a\0b", 3), {1}}}},
  };
  for (const Case& c : cases) {
    Bytes out;
    std::string error;
    EXPECT_FALSE(WritePkg(c.entries, PkgWriterOptions(), &out, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

}  // namespace
