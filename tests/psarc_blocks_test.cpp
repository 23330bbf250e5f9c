// The PSARC block walk: which blocks are inflated and which copied, how short blocks shift
// later ones, every hostile bound, the file form's short reads, and the type-1 extraction.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "platform/platform_testing.h"
#include "psarc/psarc.h"
#include "tests/support/psarc_test_support.h"

namespace {

Bytes Slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + from, b.begin() + from + n);
}

// What uncompress makes of a block on its own, into at most `room` bytes.
Bytes Uncompressed(const Bytes& block, size_t room) {
  Bytes out(room);
  uLongf n = room;
  (void)uncompress(out.data(), &n, block.data(), static_cast<uLong>(block.size()));
  out.resize(n);
  return out;
}

// The bytes, then zeros up to n bytes in all: an output whose end stays zero.
Bytes ZeroPadded(Bytes bytes, size_t n) {
  bytes.resize(n, 0);
  return bytes;
}

// An archive of one named entry made of the given blocks; lists it and extracts entry 1.
struct OneEntry {
  Bytes archive;
  ArchiveEntry entry;
  HostExtraction x;
};
OneEntry ExtractHandMade(uint64_t size, const std::vector<PsarcBlock>& blocks) {
  PsarcLayout l = LayoutWithManifest("entry");
  AppendPsarcEntry(&l, size, blocks);
  OneEntry r;
  r.archive = WritePsarcLayout(l);
  HostListing listing = ListArchive(r.archive);
  EXPECT_EQ(listing.count, 2);
  if (listing.count != 2) return r;
  r.entry = listing.entries[1];
  EXPECT_STREQ(r.entry.name, "entry");
  ArchiveEntry copy = r.entry;
  r.x = ExtractPadded(r.archive, &copy);
  EXPECT_EQ(r.x.result, 0);
  EXPECT_EQ(r.x.lockCount, 0u);
  EXPECT_EQ(r.x.blockSize, static_cast<uint32_t>(size)) << "exactly the size, no margin";
  return r;
}

TEST(PsarcBlocks, InflatesRealZlibBlocksOfEveryCommonLevel) {
  struct Case {
    int level;
    uint8_t second;  // the header byte zlib writes at that level
  } cases[] = {{1, 0x01}, {5, 0x5E}, {6, 0x9C}, {9, 0xDA}};
  const Bytes plain = Concat({TextBytes(65536), TextBytes(1234)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    PsarcBlock first = ZlibBlock(Slice(plain, 0, 65536), c.level);
    PsarcBlock last = ZlibBlock(Slice(plain, 65536, 1234), c.level);
    ASSERT_EQ(first.bytes[1], c.second);
    OneEntry r = ExtractHandMade(plain.size(), {first, last});
    EXPECT_EQ(r.x.contents, plain);
  }
}

TEST(PsarcBlocks, CopiesWhatIsNotAZlibStream) {
  Bytes full = NoiseBytes(65536, 1);
  full[0] = 0x78;
  full[1] = 0xDA;
  Bytes header9C = NoiseBytes(500, 2);
  header9C[0] = 0x78;
  header9C[1] = 0x9C;
  Bytes oneByte = {0x78};
  struct Case {
    const char* what;
    PsarcBlock block;
    Bytes expected;
  } cases[] = {
      {"a whole block is never inflated, even beginning 0x78 0xDA", FullBlock(full), full},
      {"500 bytes beginning 0x78 0x9C that zlib rejects", PlainBlock(header9C), header9C},
      {"a block of one byte", PlainBlock(oneByte), oneByte},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OneEntry r = ExtractHandMade(c.expected.size(), {c.block});
    EXPECT_EQ(r.x.contents, c.expected);
  }
}

TEST(PsarcBlocks, OtherHeadersRejectedPartWayAreCopiedOverZlibsPartialOutput) {
  // A real level-6 stream cut in half: zlib writes some bytes, then fails for want of
  // input. The block counts as plain bytes, and nothing zlib wrote may remain.
  const Bytes plain = TextBytes(40000);
  PsarcBlock cut = ZlibBlock(plain, 6);
  cut.bytes.resize(cut.bytes.size() / 2);
  cut.value = static_cast<uint32_t>(cut.bytes.size());
  ASSERT_GT(Uncompressed(cut.bytes, plain.size()).size(), cut.bytes.size());
  OneEntry r = ExtractHandMade(plain.size(), {cut});
  EXPECT_EQ(r.x.contents, ZeroPadded(cut.bytes, plain.size()));
}

TEST(PsarcBlocks, OtherHeadersThatFillTheDestinationAreAccepted) {
  // Inflating to more than is due stops with the destination full: the bytes due.
  const Bytes plain = TextBytes(3000);
  OneEntry r = ExtractHandMade(1000, {ZlibBlock(plain, 6)});
  EXPECT_EQ(r.x.contents, Slice(plain, 0, 1000));
}

TEST(PsarcBlocks, WholeBlocksThenAShortCompressedOne) {
  const Bytes a = NoiseBytes(65536, 3);
  const Bytes b = NoiseBytes(65536, 4);
  const Bytes c = TextBytes(1000);
  PsarcBlock last = ZlibBlock(TextBytes(5000), 9);  // would give more than the 1000 due
  OneEntry r = ExtractHandMade(2 * 65536 + 1000, {FullBlock(a), FullBlock(b), last});
  EXPECT_EQ(r.entry.packedSize, 2 * 65536 + last.bytes.size());
  EXPECT_EQ(r.x.contents, Concat({a, b, c}));
}

TEST(PsarcBlocks, AShortMiddleBlockShiftsLaterBlocksDown) {
  const Bytes a = TextBytes(65536);
  const Bytes b = NoiseBytes(30000, 5);
  const Bytes c = NoiseBytes(1000, 6);
  OneEntry r = ExtractHandMade(2 * 65536 + 1000, {ZlibBlock(a, 9), ZlibBlock(b, 9), PlainBlock(c)});
  EXPECT_EQ(r.x.contents, ZeroPadded(Concat({a, b, c}), 2 * 65536 + 1000));
}

TEST(PsarcBlocks, TruncatedDaBlockKeepsWhatZlibWroteAndLaterBlocksFollowIt) {
  // Pins zlib's behaviour the walk relies on: a failing uncompress still reports the
  // bytes it wrote, so the next block lands exactly that many bytes further on.
  const Bytes a = TextBytes(65536);
  const Bytes b = TextBytes(65536);
  PsarcBlock cut = ZlibBlock(NoiseBytes(65536, 7), 9);
  cut.bytes.resize(cut.bytes.size() / 2);
  cut.value = static_cast<uint32_t>(cut.bytes.size());
  const Bytes partial = Uncompressed(cut.bytes, 65536);
  ASSERT_GT(partial.size(), 0u);
  ASSERT_LT(partial.size(), 65536u);
  OneEntry r = ExtractHandMade(3 * 65536, {ZlibBlock(a, 9), cut, ZlibBlock(b, 9)});
  EXPECT_EQ(r.x.contents, ZeroPadded(Concat({a, partial, b}), 3 * 65536));
}

TEST(PsarcBlocks, PlainBytesBeginningDaGoToZlibAndOnlyItsOutputStays) {
  Bytes fake = NoiseBytes(700, 8);
  fake[0] = 0x78;
  fake[1] = 0xDA;
  const Bytes tail = BytesOf("tail");
  OneEntry r = ExtractHandMade(65536 + 4, {PlainBlock(fake), PlainBlock(tail)});
  EXPECT_EQ(r.x.contents, ZeroPadded(Concat({Uncompressed(fake, 65536), tail}), 65536 + 4));
}

// The entry's plain bytes by both walk forms: the archive file (as the listing decodes the
// manifest) and the host's stored bytes (as TZK_GetFile decodes an entry).
struct BothForms {
  Bytes fromFile;
  Bytes fromHost;
};
BothForms WalkBothForms(uint64_t size, const std::vector<PsarcBlock>& blocks) {
  OneEntry r = ExtractHandMade(size, blocks);
  BothForms forms;
  forms.fromHost = r.x.contents;
  CArchiveFile file(r.archive);
  Cbuffer out;
  const BlockTable* table = r.entry.blockTable;
  if (table == nullptr) return forms;
  DecodeEntryFromFile(file.source(), &out, table->storedSizes, table->blockSize, &r.entry);
  if (out.data != nullptr) forms.fromFile.assign(out.data, out.data + static_cast<size_t>(size));
  return forms;
}

TEST(PsarcBlocks, BlocksAsLongAsTheirPlainBytesAreInflatedOnlyWhenZlibEndsThere) {
  const Bytes file = Concat({NoiseBytes(3000, 20), TextBytes(3000)});
  const PsarcBlock storedDa = ZlibBlock(file, 9);  // a stored .z file's bytes, about 3 KiB
  const PsarcBlock stored9C = ZlibBlock(file, 6);
  const Bytes eight = {0x78, 0xDA, 0x07, 0x11, 0x22, 0x33, 0x44, 0x55};
  Bytes tail = NoiseBytes(700, 22);
  tail[0] = 0x78;
  tail[1] = 0xDA;
  tail[2] = 0x07;
  const Bytes first = TextBytes(65536);
  const ExactStream exact = StreamAsLongAsItsPlainBytes();
  PsarcBlock cut = ZlibBlock(NoiseBytes(65536, 23), 9);
  cut.bytes.resize(cut.bytes.size() / 2);
  cut.value = static_cast<uint32_t>(cut.bytes.size());
  Bytes cutExpected = Uncompressed(cut.bytes, 65536);
  ASSERT_GT(cutExpected.size(), 0u);
  cutExpected.resize(65536, 0);

  struct Case {
    const char* what;
    std::vector<PsarcBlock> blocks;
    Bytes expected;
  } cases[] = {
      {"a stored zlib stream beginning 0x78 0xDA", {PlainBlock(storedDa.bytes)}, storedDa.bytes},
      {"a stored zlib stream beginning 0x78 0x9C", {PlainBlock(stored9C.bytes)}, stored9C.bytes},
      {"eight plain bytes beginning 0x78 0xDA 0x07", {PlainBlock(eight)}, eight},
      {"a short plain last block after a full compressed one",
       {ZlibBlock(first, 9), PlainBlock(tail)},
       Concat({first, tail})},
      {"a compressed block exactly as long as its plain bytes", {exact.block}, exact.plain},
      {"a 0x78 0xDA block shorter than its plain bytes, failing part-way", {cut}, cutExpected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.blocks.back().bytes[0], 0x78);
    const BothForms forms = WalkBothForms(c.expected.size(), c.blocks);
    EXPECT_EQ(forms.fromHost, c.expected);
    EXPECT_EQ(forms.fromFile, c.expected);
  }
}

TEST(PsarcBlocks, ManifestStoredPlainBeginningDaNamesTheEntries) {
  PsarcLayout l = LayoutWithManifest(
      "\x78\xDA"
      "first\nsecond");
  AppendPsarcEntry(&l, 0, {});
  AppendPsarcEntry(&l, 0, {});
  const HostListing listing = ListArchive(WritePsarcLayout(l));
  ASSERT_EQ(listing.count, 3);
  EXPECT_STREQ(listing.entries[1].name,
               "\x78\xDA"
               "first");
  EXPECT_STREQ(listing.entries[2].name, "second");
}

TEST(PsarcBlocks, HostileBoundsStopOrCut) {
  // Plain and whole blocks longer than the bytes due are cut at the end of the output;
  // a first block at or past the end of the table ends the entry at once.
  struct Case {
    const char* what;
    uint64_t size;
    std::vector<PsarcBlock> blocks;  // none: firstBlock below
    uint32_t firstBlock;
    uint64_t packedSize;
    Bytes expected;
  };
  const Bytes big = NoiseBytes(60000, 9);
  const Bytes whole = NoiseBytes(65536, 10);
  const Case cases[] = {
      {"plain block longer than the size", 5, {PlainBlock(big)}, 0, 60000, Slice(big, 0, 5)},
      {"whole block for a 3-byte entry", 3, {FullBlock(whole)}, 0, 65536, Slice(whole, 0, 3)},
      {"first block at the end of the table", 100, {}, 1, 0, Bytes(100, 0)},
      {"first block far past the table", 100, {}, 0xFFFFFFFFu, 0, Bytes(100, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PsarcLayout l = LayoutWithManifest("entry");
    const size_t i = AppendPsarcEntry(&l, c.size, c.blocks);
    if (c.blocks.empty()) l.entries[i].firstBlock = c.firstBlock;
    // Exactly the entries and the values: no trailing values to run into.
    l.tocLength = 30 * 2 + 2 * static_cast<uint32_t>(l.blockValues.size());
    const Bytes archive = WritePsarcLayout(l);
    HostListing listing = ListArchive(archive);
    ASSERT_EQ(listing.count, 2);
    ArchiveEntry e = listing.entries[1];
    EXPECT_EQ(e.packedSize, c.packedSize);
    HostExtraction x = ExtractPadded(archive, &e);
    EXPECT_EQ(x.result, 0);
    EXPECT_EQ(x.contents, c.expected);
  }
}

TEST(PsarcBlocks, EntryRunningOffTheTableStopsAtItsEnd) {
  // Three blocks due, but the table ends after the first.
  const Bytes a = TextBytes(65536);
  PsarcLayout l = LayoutWithManifest("entry");
  AppendPsarcEntry(&l, 3 * 65536, {ZlibBlock(a, 9)});
  l.tocLength = 30 * 2 + 2 * 2;  // exactly the two values, no trailing ones
  const Bytes archive = WritePsarcLayout(l);
  HostListing listing = ListArchive(archive);
  ASSERT_EQ(listing.count, 2);
  ArchiveEntry e = listing.entries[1];
  HostExtraction x = ExtractPadded(archive, &e);
  EXPECT_EQ(x.contents, ZeroPadded(a, 3 * 65536));
}

TEST(PsarcBlocks, RecordClaimingFewerStoredBytesIsNeverReadPast) {
  // A record whose packedSize falls short of its blocks: exactly packedSize bytes are
  // handed in (flush against the end of their allocation) and the rest reads as zero.
  const Bytes a = NoiseBytes(65536, 11);
  const Bytes b = NoiseBytes(2000, 12);
  OneEntry r = ExtractHandMade(65536 + 2000, {FullBlock(a), PlainBlock(b)});
  for (uint64_t shortBy : {1u, 1000u, 2000u, 30000u, 67536u}) {
    SCOPED_TRACE(shortBy);
    ArchiveEntry e = r.entry;
    e.packedSize -= shortBy;
    HostExtraction x = ExtractStored(StoredBytesOf(r.archive, e), &e);
    ASSERT_EQ(x.result, 0);
    EXPECT_EQ(x.contents, ZeroPadded(Slice(Concat({a, b}), 0, static_cast<size_t>(e.packedSize)),
                                     65536 + 2000));
  }
}

TEST(PsarcBlocks, FileFormShortReadReadsZeroNotThePreviousBlock) {
  // A manifest of a whole block of 'a's and a short block cut by the end of the file:
  // the missing bytes are zeros, so the name after "b" is empty, not a run of 'a's.
  Bytes first(65536, 'a');
  first[65535] = '\n';
  PsarcLayout l;
  AppendPsarcEntry(&l, 65536 + 20,
                   {FullBlock(first), PlainBlock(BytesOf("b\ncccccccccccccccccc"))});
  AppendPsarcEntry(&l, 0, {});
  AppendPsarcEntry(&l, 0, {});
  AppendPsarcEntry(&l, 0, {});
  Bytes archive = WritePsarcLayout(l);
  archive.resize(archive.size() - 18);  // the file ends after "b\n"
  HostListing listing = ListArchive(archive);
  ASSERT_EQ(listing.count, 4);
  EXPECT_EQ(std::string(listing.entries[1].name), std::string(255, 'a'));
  EXPECT_EQ(std::string(listing.entries[2].name), "b");
  EXPECT_EQ(std::string(listing.entries[3].name), "");
}

TEST(PsarcBlocks, BothFormsAreOneWalkOverTheCorpus) {
  // The file form and the buffer form give the same bytes for every entry, hostile
  // ones and truncated files included.
  for (const PsarcCorpusCase& c : PsarcCorpus()) {
    SCOPED_TRACE(c.name);
    CArchiveFile file(c.archive);
    HostListing listing = ListArchive(file.source());
    ASSERT_EQ(listing.result, 0);
    for (const ArchiveEntry& e : listing.entries) {
      if (static_cast<uint32_t>(e.size) > kPsarcTestMaxExtract) continue;
      const BlockTable* table = e.blockTable;
      Cbuffer fromFile;
      Cbuffer fromBuffer;
      DecodeEntryFromFile(file.source(), &fromFile, table->storedSizes, table->blockSize, &e);
      const Bytes stored = StoredBytesOf(c.archive, e);
      DecodeEntryFromBuffer(&fromBuffer, table->storedSizes, table->blockSize, &e, stored.data());
      ASSERT_NE(fromFile.data, nullptr);
      ASSERT_NE(fromBuffer.data, nullptr);
      ASSERT_EQ(fromFile.length, static_cast<uint32_t>(e.size) + 10);
      ASSERT_EQ(fromBuffer.length, fromFile.length);
      EXPECT_EQ(std::memcmp(fromFile.data, fromBuffer.data, fromFile.length), 0) << e.name;
    }
  }
}

TEST(PsarcGetFile, RewritesSizeWithTheUpperHalfClearedAndNothingElse) {
  PsarcLayout l = LayoutWithManifest("big");
  AppendPsarcEntry(&l, 0x100000004ull, {PlainBlock(BytesOf("efgh"))});
  const Bytes archive = WritePsarcLayout(l);
  HostListing listing = ListArchive(archive);
  ASSERT_EQ(listing.count, 2);
  ArchiveEntry e = listing.entries[1];
  ASSERT_EQ(e.size, 0x100000004ull);
  const ArchiveEntry before = e;
  HostExtraction x = ExtractPadded(archive, &e);
  ASSERT_EQ(x.result, 0);
  EXPECT_EQ(x.contents, BytesOf("efgh"));
  EXPECT_EQ(e.size, 4u);
  ArchiveEntry expected = before;
  expected.size = 4;
  EXPECT_EQ(std::memcmp(&e, &expected, sizeof(e)), 0) << "offset, packedSize and the rest stay";
}

TEST(PsarcGetFile, EmptyEntryGivesAZeroByteBlock) {
  OneEntry r = ExtractHandMade(0, {});
  EXPECT_TRUE(r.x.handleStored);
  EXPECT_EQ(r.x.blockSize, 0u);
}

TEST(PsarcGetFile, SizeNearFourGiBGivesOneAndStoresNothing) {
  // size + 10 would wrap past 32 bits: no work buffer, no tiny one either.
  OneEntry r = ExtractHandMade(4, {PlainBlock(BytesOf("abcd"))});
  for (uint64_t size : {0xFFFFFFF6ull, 0xFFFFFFFFull, 0x1FFFFFFF8ull}) {
    ArchiveEntry e = r.entry;
    e.size = size;
    const ArchiveEntry before = e;
    HostExtraction x = ExtractPadded(r.archive, &e);
    EXPECT_EQ(x.result, 1) << size;
    EXPECT_FALSE(x.handleStored);
    EXPECT_EQ(std::memcmp(&e, &before, sizeof(e)), 0);
  }
}

#if defined(VAREL_HAVE_PLATFORM_SEAM)
TEST(PsarcGetFile, HeapShortageGivesOneWithNothingStoredOrKept) {
  OneEntry r = ExtractHandMade(
      70000, {FullBlock(NoiseBytes(65536, 13)), ZlibBlock(TextBytes(70000 - 65536), 9)});
  const Bytes stored = StoredBytesOf(r.archive, r.entry);
  bool succeeded = false;
  for (uint32_t n = 1; n < 10 && !succeeded; ++n) {
    SCOPED_TRACE(n);
    ArchiveEntry e = r.entry;
    const ArchiveEntry before = e;
    const int32_t heap = PlatformLiveHeapBlocks();
    const int32_t global = PlatformLiveGlobalBlocks();
    HGLOBAL block = reinterpret_cast<HGLOBAL>(0x1234);
    PlatformFailAllocation(n);
    const int32_t result = Plugin().GetFile(0, stored.data(), &e, &block);
    PlatformFailAllocation(0);
    if (result == 0) {
      succeeded = true;
      EXPECT_EQ(GlobalSize(block), 70000u);
      GlobalFree(block);
      break;
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(block, reinterpret_cast<HGLOBAL>(0x1234));
    EXPECT_EQ(std::memcmp(&e, &before, sizeof(e)), 0);
    EXPECT_EQ(PlatformLiveHeapBlocks(), heap);
    EXPECT_EQ(PlatformLiveGlobalBlocks(), global);
  }
  EXPECT_TRUE(succeeded);
}

TEST(PsarcDecode, WalkWithoutItsBuffersWritesNothing) {
  // Either buffer of the file form missing: the output stays empty.
  const Bytes archive = PackPsarc({{"x", TextBytes(70000)}});
  CArchiveFile file(archive);
  HostListing listing = ListArchive(file.source());
  ASSERT_EQ(listing.count, 2);
  const ArchiveEntry& e = listing.entries[1];
  for (uint32_t n : {1u, 2u}) {
    Cbuffer out;
    PlatformFailAllocation(n);
    DecodeEntryFromFile(file.source(), &out, e.blockTable->storedSizes, 65536, &e);
    PlatformFailAllocation(0);
    EXPECT_EQ(out.data, nullptr) << n;
    EXPECT_EQ(out.length, 0u);
  }
}
#endif

}  // namespace
