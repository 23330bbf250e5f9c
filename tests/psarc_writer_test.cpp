// The PSARC writer's layout, and real data through writer, listing and extraction.
#include <gtest/gtest.h>

#include <cstring>

#include "bytes/byte_order.h"
#include "tests/support/psarc_test_support.h"

namespace {

TEST(PsarcWriter, LaysOutHeaderDigestedTocBlockValuesAndBlocks) {
  const Bytes text = TextBytes(65536 + 100);
  const Bytes noise = NoiseBytes(65536 + 100, 1);
  const Bytes archive = PackPsarc({{"t", text}, {"n", noise}});
  const uint8_t* h = archive.data();
  EXPECT_EQ(std::memcmp(h, "PSAR", 4), 0);
  EXPECT_EQ(be32(h + 4), 0x00010004u);
  EXPECT_EQ(std::memcmp(h + 8, "zlib", 4), 0);
  // 3 entries and 5 values (manifest 1, text 2, noise 2); tocLength counts the header.
  EXPECT_EQ(be32(h + 12), 32u + 3 * 30 + 5 * 2);
  EXPECT_EQ(be32(h + 16), 30u);
  EXPECT_EQ(be32(h + 20), 3u);
  EXPECT_EQ(be32(h + 24), 65536u);
  const uint8_t* toc = h + 32;
  const uint8_t* values = toc + 90;
  uint8_t zeros[16] = {};
  EXPECT_EQ(std::memcmp(toc, zeros, 16), 0) << "the manifest has no digest";
  uint8_t digest[16];
  PsarcNameDigest("t", digest);
  EXPECT_EQ(std::memcmp(toc + 30, digest, 16), 0);
  EXPECT_EQ(be40(toc + 30 + 20), text.size());
  EXPECT_EQ(be32(toc + 60 + 16), 3u) << "first block of the noise";
  // Text compresses (0x78 0xDA at level 9); whole noise is stored whole (value 0), the
  // short rest stored short.
  const uint64_t textAt = be40(toc + 30 + 25);
  EXPECT_EQ(archive[textAt], 0x78);
  EXPECT_EQ(archive[textAt + 1], 0xDA);
  EXPECT_LT(be16(values + 2), 65536u);
  EXPECT_EQ(be16(values + 6), 0u);
  EXPECT_EQ(be16(values + 8), 100u);
}

// Inputs that fall on the edges of blocks and of the pieces handed to threads.
std::vector<ArchiveInput> OddInputs() {
  std::vector<ArchiveInput> inputs = {
      {"empty", {}},
      {"exact", TextBytes(65536)},
      {"exact-noise", NoiseBytes(65536, 11)},
      {"pieces", TextBytes(4 * 65536 * 2 + 1)},
      {"empty-again", {}},
      {"mixed", NoiseBytes(300000, 12)},
  };
  for (int i = 0; i < 40; ++i) inputs.push_back({"small/" + std::to_string(i), TextBytes(i * 7)});
  return inputs;
}

// The archive every other test reads, composed block by block from the layout pieces: the
// name list as entry 0, then each entry's blocks in order.
Bytes ComposedArchive(const std::vector<ArchiveInput>& inputs, int level) {
  PsarcLayout l;
  std::string names;
  for (size_t i = 0; i < inputs.size(); ++i) names += (i == 0 ? "" : "\n") + inputs[i].name;
  AppendPsarcEntry(
      &l, names.size(),
      PsarcBlocksOf(reinterpret_cast<const uint8_t*>(names.data()), names.size(), level));
  for (const ArchiveInput& in : inputs) {
    const size_t k =
        AppendPsarcEntry(&l, in.data.size(), PsarcBlocksOf(in.data.data(), in.data.size(), level));
    PsarcNameDigest(in.name, l.entries[k].digest);
  }
  return WritePsarcLayout(l);
}

TEST(PsarcWriter, StreamsTheComposedLayoutForEveryNumberOfThreads) {
  const std::vector<ArchiveInput> inputs = OddInputs();
  const Bytes expected = ComposedArchive(inputs, 6);
  for (unsigned jobs : {1u, 2u, 3u, 8u}) {
    PsarcWriterOptions options;
    options.level = 6;
    options.jobs = jobs;
    PackProgress last;
    size_t calls = 0;
    options.onProgress = [&](const PackProgress& p) {
      EXPECT_GE(p.bytesDone, last.bytesDone);
      last = p;
      ++calls;
    };
    Bytes out;
    std::string error;
    ASSERT_TRUE(WritePsarc(inputs, options, &out, &error)) << error;
    EXPECT_TRUE(out == expected) << jobs << " jobs";
    uint64_t total = 0;
    for (const ArchiveInput& in : inputs) total += in.data.size();
    EXPECT_EQ(last.entriesDone, inputs.size());
    EXPECT_EQ(last.bytesDone, total);
    EXPECT_GE(calls, inputs.size());
  }
}

TEST(PsarcNameDigest, IsMd5) {
  struct Case {
    const char* text;
    const char* hex;
  } cases[] = {
      {"", "d4 1d 8c d9 8f 00 b2 04 e9 80 09 98 ec f8 42 7e"},
      {"abc", "90 01 50 98 3c d2 4f b0 d6 96 3f 7d 28 e1 7f 72"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57 ed f4 a2 2b e3 c9 55 ac 49 da 2e 21 07 b6 7a"},
  };
  for (const Case& c : cases) {
    uint8_t d[16];
    PsarcNameDigest(c.text, d);
    EXPECT_EQ(Hex(Bytes(d, d + 16)), c.hex) << c.text;
  }
}

TEST(PsarcWriter, RefusesWhatTheFormatCannotHold) {
  struct Case {
    std::vector<ArchiveInput> entries;
    int level;
  } cases[] = {
      {{{"a\nb", {}}}, 9},
      {{{std::string("a\0b", 3), {}}}, 9},
      {{{std::string(256, 'n'), {}}}, 9},  // longer than a listing gives back
      {{{"a", {}}}, 10},
  };
  for (const Case& c : cases) {
    PsarcWriterOptions options;
    options.level = c.level;
    Bytes out;
    std::string error;
    EXPECT_FALSE(WritePsarc(c.entries, options, &out, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(PsarcRoundTrip, RealDataAtEveryLevel) {
  const std::vector<ArchiveInput> inputs = {
      {"docs/readme.txt", TextBytes(150000)},
      {"noise.bin", NoiseBytes(200000, 2)},
      {"empty.dat", {}},
      {"exact.bin", NoiseBytes(65536, 3)},
      {"exact-text.txt", TextBytes(65536)},
      {"one-more.bin", NoiseBytes(65537, 4)},
      {"one-more.txt", TextBytes(65537)},
      {"one", BytesOf("1")},
  };
  for (int level : {0, 1, 5, 6, 9}) {
    SCOPED_TRACE(level);
    PsarcRoundTrip trip = ListAndExtractAll(PackPsarc(inputs, level));
    ASSERT_EQ(trip.listing.result, 0);
    ASSERT_EQ(trip.listing.count, static_cast<int32_t>(inputs.size() + 1));
    for (size_t i = 0; i < inputs.size(); ++i) {
      EXPECT_EQ(std::string(trip.listing.entries[i + 1].name), inputs[i].name);
      EXPECT_EQ(trip.contents[i + 1], inputs[i].data) << inputs[i].name;
    }
  }
}

TEST(PsarcRoundTrip, DataThatLooksLikeZlibStaysAsItWas) {
  // Short pieces that begin like a zlib stream, pieces that are one, and one that a reader
  // would inflate if it were stored as it stands (a stream as long as what it codes), which
  // the writer must keep compressed.
  Bytes da = NoiseBytes(3000, 5);
  da[0] = 0x78;
  da[1] = 0xDA;
  PsarcBlock stream = ZlibBlock(NoiseBytes(2000, 6), 6);  // an incompressible zlib stream
  Bytes tail = Bytes(NoiseBytes(65536, 7));
  tail.insert(tail.end(), stream.bytes.begin(), stream.bytes.end());
  const std::vector<ArchiveInput> inputs = {
      {"da.bin", da},
      {"stream.z", stream.bytes},
      {"tail.bin", tail},
      {"da-stream.z", ZlibBlock(NoiseBytes(3000, 8), 9).bytes},
      {"exact.z", StreamAsLongAsItsPlainBytes().block.bytes}};
  PsarcRoundTrip trip = ListAndExtractAll(PackPsarc(inputs));
  ASSERT_EQ(trip.listing.count, 6);
  for (size_t i = 0; i < inputs.size(); ++i) {
    EXPECT_EQ(trip.contents[i + 1], inputs[i].data) << inputs[i].name;
  }
}

TEST(PsarcRoundTrip, HundredsOfEntries) {
  std::vector<ArchiveInput> inputs;
  for (int i = 0; i < 400; ++i) {
    inputs.push_back({"folder" + std::to_string(i % 7) + "/entry" + std::to_string(i) + ".dat",
                      i % 3 == 0 ? NoiseBytes(static_cast<size_t>(i) * 13, i)
                                 : TextBytes(static_cast<size_t>(i) * 101)});
  }
  PsarcRoundTrip trip = ListAndExtractAll(PackPsarc(inputs));
  ASSERT_EQ(trip.listing.count, 401);
  for (size_t i = 0; i < inputs.size(); ++i) {
    ASSERT_EQ(std::string(trip.listing.entries[i + 1].name), inputs[i].name);
    ASSERT_EQ(trip.contents[i + 1], inputs[i].data) << inputs[i].name;
  }
}

TEST(PsarcRoundTrip, HandMadeLayoutHonoursEveryOverride) {
  PsarcLayout l = LayoutWithManifest("x");
  const size_t i = AppendPsarcEntry(&l, 0x1234567890ull, {});
  l.entries[i].offset = 0xABCDEF0123ull;
  l.entries[i].firstBlock = 77;
  l.tocLength = 5;
  l.tocEntryCount = 9;
  l.flags = 0x11223344u;
  const Bytes b = WritePsarcLayout(l);
  EXPECT_EQ(be32(b.data() + 12), 5u);
  EXPECT_EQ(be32(b.data() + 20), 9u);
  EXPECT_EQ(be32(b.data() + 28), 0x11223344u);
  const uint8_t* e = b.data() + 32 + 30;
  EXPECT_EQ(be32(e + 16), 77u);
  EXPECT_EQ(be40(e + 20), 0x1234567890ull);
  EXPECT_EQ(be40(e + 25), 0xABCDEF0123ull);
}

// The later layout, read back field by field: the flags, the manifest's bytes (entry 0's
// contents), each table row's digest, and each entry's contents through the row whose
// digest is its own.
struct LaterLayoutCase {
  const char* what;
  void (*set)(PsarcWriterOptions* o);
  uint32_t flags;
  std::string manifest;  // of the inputs below
  bool sorted;           // the rows are in the order of their digests
  std::string (*digestOf)(const std::string& name);
};

std::string AsStands(const std::string& name) { return name; }
std::string Upper(const std::string& name) { return PsarcUpperCased(name); }
std::string Slashed(const std::string& name) { return "/" + name; }
std::string UpperSlashed(const std::string& name) { return "/" + PsarcUpperCased(name); }

TEST(PsarcWriter, LaysOutTheLaterLayoutOptionByOption) {
  // Names given out of order, one of them upper-case already; one pair of equal contents.
  const std::vector<ArchiveInput> inputs = {
      {"b/two.txt", TextBytes(70000)},          {"a/One.txt", BytesOf("one")},
      {"c/same.bin", NoiseBytes(300, 1)},       {"E/FIVE.TXT", BytesOf("FIVE")},
      {"d/same-again.bin", NoiseBytes(300, 1)},
  };
  const std::string inOrder = "b/two.txt\na/One.txt\nc/same.bin\nE/FIVE.TXT\nd/same-again.bin";
  const std::string sorted =
      std::string("E/FIVE.TXT\0a/One.txt\0b/two.txt\0c/same.bin\0d/same-again.bin", 58);
  const std::string sortedSlashed =
      std::string("/E/FIVE.TXT\0/a/One.txt\0/b/two.txt\0/c/same.bin\0/d/same-again.bin", 63);
  const LaterLayoutCase cases[] = {
      {"none", [](PsarcWriterOptions*) {}, 0, inOrder, false, AsStands},
      {"toc by digest", [](PsarcWriterOptions* o) { o->tocByDigest = true; }, 0x04, inOrder, true,
       AsStands},
      {"zero-separated", [](PsarcWriterOptions* o) { o->zeroSeparated = true; }, 0x08, sorted,
       false, AsStands},
      {"zero after the last name",
       [](PsarcWriterOptions* o) {
         o->zeroSeparated = true;
         o->zeroAfterLastName = true;
       },
       0x08, sorted + std::string(1, '\0'), false, AsStands},
      {"upper-case digests", [](PsarcWriterOptions* o) { o->upperCaseDigests = true; }, 0x01,
       inOrder, false, Upper},
      {"leading slash in the digest", [](PsarcWriterOptions* o) { o->leadingSlash = true; }, 0x02,
       "/b/two.txt\n/a/One.txt\n/c/same.bin\n/E/FIVE.TXT\n/d/same-again.bin", false, Slashed},
      {"all of them, digests without the slash",
       [](PsarcWriterOptions* o) {
         o->tocByDigest = true;
         o->zeroSeparated = true;
         o->upperCaseDigests = true;
         o->leadingSlash = true;
         o->digestWithoutSlash = true;
         o->shareIdentical = true;
       },
       0x0F, sortedSlashed, true, Upper},
      {"all of them, digests with the slash",
       [](PsarcWriterOptions* o) {
         o->tocByDigest = true;
         o->zeroSeparated = true;
         o->upperCaseDigests = true;
         o->leadingSlash = true;
       },
       0x0F, sortedSlashed, true, UpperSlashed},
  };
  for (const LaterLayoutCase& c : cases) {
    SCOPED_TRACE(c.what);
    PsarcWriterOptions options;
    c.set(&options);
    Bytes archive;
    std::string error;
    ASSERT_TRUE(WritePsarc(inputs, options, &archive, &error)) << error;
    EXPECT_EQ(be32(archive.data() + 28), c.flags);
    PsarcRoundTrip trip = ListAndExtractAll(archive);
    ASSERT_EQ(trip.listing.count, 6);
    EXPECT_EQ(trip.contents[0], BytesOf(c.manifest));
    const uint8_t* toc = archive.data() + 32;
    for (size_t row = 2; row < 6 && c.sorted; ++row) {
      EXPECT_LT(std::memcmp(toc + 30 * (row - 1), toc + 30 * row, 16), 0) << row;
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
      uint8_t digest[16];
      PsarcNameDigest(c.digestOf(inputs[i].name), digest);
      size_t row = 0;
      for (size_t r = 1; r < 6; ++r) {
        if (std::memcmp(toc + 30 * r, digest, 16) == 0) row = r;
      }
      ASSERT_NE(row, 0u) << inputs[i].name;
      if (!c.sorted) {
        EXPECT_EQ(row, i + 1) << "rows in the order given";
      }
      EXPECT_EQ(trip.contents[row], inputs[i].data) << inputs[i].name;
    }
  }
}

TEST(PsarcWriter, SharesTheBlocksOfIdenticalContents) {
  const std::vector<ArchiveInput> inputs = {
      {"a", NoiseBytes(100000, 3)},  {"b", BytesOf("b")},           {"empty", {}},
      {"a2", NoiseBytes(100000, 3)}, {"other-empty", {}},           {"b2", BytesOf("b")},
      {"c", BytesOf("c")},           {"a3", NoiseBytes(100000, 3)},
  };
  PsarcWriterOptions options;
  options.shareIdentical = true;
  PackProgress last;
  options.onProgress = [&last](const PackProgress& p) { last = p; };
  Bytes shared;
  std::string error;
  ASSERT_TRUE(WritePsarc(inputs, options, &shared, &error)) << error;
  EXPECT_EQ(last.entriesDone, inputs.size());
  EXPECT_EQ(last.bytesDone, 300000u + 2 + 1);
  const Bytes whole = PackPsarc(inputs);
  PsarcRoundTrip trip = ListAndExtractAll(shared);
  ASSERT_EQ(trip.listing.count, 9);
  const std::vector<ArchiveEntry>& e = trip.listing.entries;
  for (size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(trip.contents[i + 1], inputs[i].data);
  // a2 and a3 are a, b2 is b: the same offset, first block and packed size.
  for (const auto& pair : {std::make_pair(4, 1), std::make_pair(8, 1), std::make_pair(6, 2)}) {
    EXPECT_EQ(e[pair.first].offset, e[pair.second].offset) << pair.first;
    EXPECT_EQ(e[pair.first].param, e[pair.second].param) << pair.first;
    EXPECT_EQ(e[pair.first].packedSize, e[pair.second].packedSize) << pair.first;
  }
  EXPECT_NE(e[7].offset, e[2].offset);
  // Two copies of a's blocks and one of b's fewer, and two fewer block values.
  EXPECT_EQ(whole.size() - shared.size(), 2 * e[1].packedSize + e[2].packedSize + 2 * 2 * 2 + 2);
}

TEST(PsarcWriter, LeadingSlashCountsAgainstTheNamesLength) {
  PsarcWriterOptions options;
  options.leadingSlash = true;
  Bytes out;
  std::string error;
  EXPECT_TRUE(WritePsarc({{std::string(254, 'n'), {}}}, options, &out, &error)) << error;
  EXPECT_FALSE(WritePsarc({{std::string(255, 'n'), {}}}, options, &out, &error));
  EXPECT_NE(error.find("leading '/'"), std::string::npos) << error;
}

}  // namespace
