// PSARC recognition and listing through the real module: record fields, packed sizes,
// names from the manifest, hostile tables, and heap shortage at every allocation.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "platform/platform_testing.h"
#include "platform/win32_api.h"
#include "plugin/plugin.h"
#include "tests/support/psarc_test_support.h"

namespace {

Bytes Header(const char* magic, const char* compression, uint32_t entrySize, uint32_t blockSize) {
  PsarcLayout l;
  std::memcpy(l.magic, magic, 4);
  std::memcpy(l.compression, compression, 4);
  l.tocEntrySize = entrySize;
  l.blockSize = blockSize;
  Bytes b = WritePsarcLayout(l);
  b.resize(kHostHeaderBytes, 0);
  return b;
}

TEST(PsarcDetection, NeedsMagicZlibEntrySize30AndBlockSize65536) {
  struct Case {
    const char* magic;
    const char* compression;
    uint32_t entrySize;
    uint32_t blockSize;
    int32_t type;
  } cases[] = {
      {"PSAR", "zlib", 30, 65536, 1},     {"PSAR", "zlib", 30, 32768, 0},
      {"PSAR", "zlic", 30, 65536, 0},     {"PSAR", "lzma", 30, 65536, 0},
      {"PSAR", "zlib", 31, 65536, 0},     {"PSAX", "zlib", 30, 65536, 0},
      {"PSAR", "zlib", 30, 0x1010000, 0},
  };
  for (const Case& c : cases) {
    CArchiveFile file(Header(c.magic, c.compression, c.entrySize, c.blockSize));
    int32_t type = 99;
    EXPECT_EQ(Plugin().IsSupported(file.source(), 1, &type), 0);
    EXPECT_EQ(type, c.type) << c.magic << " " << c.compression << " " << c.entrySize << " "
                            << c.blockSize;
  }
}

TEST(PsarcListing, FillsEveryRecordAndLeavesTheRestZero) {
  const Bytes archive =
      PackPsarc({{"a/one.txt", TextBytes(70000)}, {"two.bin", NoiseBytes(10, 1)}});
  HostListing listing = ListArchive(archive);
  ASSERT_EQ(listing.result, 0);
  ASSERT_EQ(listing.count, 3);
  EXPECT_EQ(listing.lockCount, 0u);
  EXPECT_EQ(listing.blockSize, 3 * sizeof(ArchiveEntry));
  const char* names[] = {"NamesBlock.bin", "a/one.txt", "two.bin"};
  const uint64_t sizes[] = {17, 70000, 10};
  const uint32_t firstBlocks[] = {0, 1, 3};
  for (int i = 0; i < 3; ++i) {
    const ArchiveEntry& e = listing.entries[i];
    SCOPED_TRACE(names[i]);
    EXPECT_STREQ(e.name, names[i]);
    EXPECT_EQ(e.size, sizes[i]);
    EXPECT_EQ(e.param, firstBlocks[i]);
    EXPECT_EQ(e.type, 1);
    EXPECT_EQ(std::memcmp(e.tag, "PSARC\0\0\0", 8), 0);
    EXPECT_NE(e.blockTable, nullptr);
    EXPECT_EQ(e.blockTable, listing.entries[0].blockTable);
    // The bytes no field is written to, by their field (their offsets are pinned where the
    // record has its 32-bit layout: 280-283, 288-295 and 312-567).
    const auto* raw = reinterpret_cast<const uint8_t*>(&e);
    for (size_t b = offsetof(ArchiveEntry, unused280); b < offsetof(ArchiveEntry, type); ++b) {
      EXPECT_EQ(raw[b], 0) << b;
    }
    for (size_t b = offsetof(ArchiveEntry, unused288); b < offsetof(ArchiveEntry, tag); ++b) {
      EXPECT_EQ(raw[b], 0) << b;
    }
    for (size_t b = offsetof(ArchiveEntry, unused312); b < sizeof(ArchiveEntry); ++b) {
      ASSERT_EQ(raw[b], 0) << b;
    }
  }
  // The entries' stored bytes follow each other, starting right after the tables.
  const ArchiveEntry* e = listing.entries.data();
  EXPECT_EQ(e[0].offset, 32u + 3 * 30 + 2 * 4);
  EXPECT_EQ(e[1].offset, e[0].offset + e[0].packedSize);
  EXPECT_EQ(e[2].offset, e[1].offset + e[1].packedSize);
  EXPECT_EQ(e[2].offset + e[2].packedSize, archive.size());
}

struct ManifestCase {
  const char* what;
  std::string manifest;
  uint32_t entries;
  std::vector<std::string> names;  // of entries 1 onward
};

TEST(PsarcListing, NamesFromTheManifestLines) {
  const std::string line300(300, 'L');
  const ManifestCase cases[] = {
      {"two lines, three entries", "a\nb", 3, {"a", "b"}},
      {"no final line break: the last line repeats", "a\nb", 5, {"a", "b", "b", "b"}},
      {"final line break: empty names after", "a\nb\n", 5, {"a", "b", "", ""}},
      {"CR stays part of the name", "a\r\nb\r\n", 3, {"a\r", "b\r"}},
      {"300-byte line cut at 255", line300 + "\nz", 3, {std::string(255, 'L'), "z"}},
      {"lines beyond the entries are ignored", "a\nb\nc\nd", 3, {"a", "b"}},
      {"empty manifest", "", 3, {"", ""}},
      {"empty lines", "\n\nc", 4, {"", "", "c"}},
      {"other control characters stay", "a\tb\x01\nc\x0B\x0Cd", 3, {"a\tb\x01", "c\x0B\x0Cd"}},
      {"a zero byte ends the text", std::string("ab\ncd\0ef\ng", 10), 5, {"ab", "cd", "cd", "cd"}},
  };
  for (const ManifestCase& c : cases) {
    SCOPED_TRACE(c.what);
    PsarcLayout l = LayoutWithManifest(c.manifest);
    for (uint32_t i = 1; i < c.entries; ++i) AppendPsarcEntry(&l, 0, {});
    HostListing listing = ListArchive(WritePsarcLayout(l));
    ASSERT_EQ(listing.result, 0);
    ASSERT_EQ(listing.count, static_cast<int32_t>(c.entries));
    EXPECT_STREQ(listing.entries[0].name, "NamesBlock.bin");
    for (uint32_t j = 1; j < c.entries; ++j) {
      EXPECT_EQ(std::string(listing.entries[j].name), c.names[j - 1]) << "entry " << j;
    }
  }
}

TEST(PsarcListing, ManifestWritesOnlyTheNameAndItsTerminatorOverTheGeneratedName) {
  PsarcLayout l = LayoutWithManifest("ab");
  for (int i = 1; i < 27; ++i) AppendPsarcEntry(&l, 0, {});
  HostListing listing = ListArchive(WritePsarcLayout(l));
  ASSERT_EQ(listing.count, 27);
  // Entry 26 took the (repeated) line "ab" over its generated name 0x0000001A.dat.
  const std::string expected = std::string("ab\0", 3) + "000001A.dat";
  EXPECT_EQ(std::memcmp(listing.entries[26].name, expected.c_str(), expected.size() + 1), 0);
  for (size_t b = 15; b < 256; ++b) ASSERT_EQ(listing.entries[26].name[b], 0);
}

TEST(PsarcListing, GeneratedNamesAreWhatWsprintfAGives) {
  // An empty manifest names every entry "", so each field keeps its generated name from
  // byte 1 on. 0x11112 entries give every digit value in the low five places.
  PsarcLayout l = LayoutWithManifest("");
  l.tocEntryCount = 0x11112;
  HostListing listing = ListArchive(WritePsarcLayout(l));
  ASSERT_EQ(listing.count, 0x11112);
  for (uint32_t i = 1; i < 0x11112; ++i) {
    char expected[32] = {};
    wsprintfA(expected, "0x%08X.dat", static_cast<unsigned>(i));
    ASSERT_EQ(listing.entries[i].name[0], 0) << i;
    ASSERT_EQ(std::memcmp(listing.entries[i].name + 1, expected + 1, 15), 0) << i;
  }
}

TEST(PsarcListing, SingleEntryListsOnlyTheManifest) {
  HostListing listing = ListArchive(PackPsarc({}));
  ASSERT_EQ(listing.result, 0);
  ASSERT_EQ(listing.count, 1);
  EXPECT_STREQ(listing.entries[0].name, "NamesBlock.bin");
  EXPECT_EQ(listing.entries[0].size, 0u);
}

TEST(PsarcListing, PackedSizesSumTheEntrysBlockValues) {
  struct Case {
    uint64_t size;
    std::vector<uint32_t> values;  // the entry's run of table values
    uint64_t packedSize;
  } cases[] = {
      {0, {}, 0},                // covers no value
      {65536, {0}, 65536},       // 0 counts as a whole block
      {65537, {0, 1}, 65537},    // two values
      {65537, {1234, 1}, 1235},  // non-zero values count as they stand
      {3 * 65536, {0, 0, 0}, 3 * 65536},
      {0x100000000ull, {7}, 0},  // bit 32 set: the low half is 0
      {0x100000001ull, {7}, 7},
      {0x80000000ull, {7}, 0},  // 2 GiB or more: beyond the walk
  };
  for (const Case& c : cases) {
    PsarcLayout l = LayoutWithManifest("");
    const size_t i = l.entries.size();
    l.entries.push_back(PsarcLayoutEntry());
    l.entries[i].size = c.size;
    l.entries[i].firstBlock = 0;
    l.blockValues = c.values;
    HostListing listing = ListArchive(WritePsarcLayout(l));
    ASSERT_EQ(listing.count, 2);
    EXPECT_EQ(listing.entries[1].size, c.size) << "all 40 bits are kept";
    EXPECT_EQ(listing.entries[1].packedSize, c.packedSize) << "size " << c.size;
  }
}

// Tests on a plug-in object of their own look at the registry directly.
HostListing ListWith(CPluginArchivePSX* plugin, const Bytes& archive) {
  CArchiveFile file(archive);
  return ListArchive(*plugin, file.source());
}

TEST(PsarcListing, BlockTableHoldsEveryValueTheTocLengthCovers) {
  CPluginArchivePSX plugin;
  PsarcLayout l = LayoutWithManifest("a");
  AppendPsarcEntry(&l, 1, {PlainBlock(BytesOf("A"))});
  l.data.resize(l.data.size() + 40, 0xAB);
  // tocLength counts the 32 header bytes, so the table reaches 32 bytes into the data:
  // 16 trailing values no entry refers to.
  HostListing listing = ListWith(&plugin, WritePsarcLayout(l));
  ASSERT_EQ(listing.result, 0);
  ASSERT_EQ(plugin.registry().size(), 1u);
  const BlockTable* table = plugin.registry().at(0);
  EXPECT_EQ(table->blockSize, 65536u);
  ASSERT_EQ(table->count(), 2u + 16u);
  EXPECT_EQ(table->storedSizes.held(), 18u) << "the file delivered every value";
  EXPECT_EQ(table->storedSizes.At(0), 1u);
  EXPECT_EQ(table->storedSizes.At(1), 1u);
  EXPECT_EQ(table->storedSizes.At(2), 0x6141u) << "'a' 'A': the data's first bytes";
  EXPECT_EQ(table->storedSizes.At(17), 0xABABu);
}

// A table keeps the values the file delivered, up to the last that is not 0; the count
// stays the header's, and every value reads as it did when the whole table was kept: as
// the file's bytes, 0 past the file's end.
TEST(PsarcListing, TableKeepsOnlyTheValuesTheFileDelivered) {
  struct Case {
    const char* what;
    size_t trailingZeros;  // zero values after the entries' four
    int64_t tocPastTable;  // tocLength minus the bytes of the entries and the table
    uint32_t held;         // 0: at most what the file delivered
  } cases[] = {
      {"exactly the table", 0, 0, 4},
      {"zero values at the table's end are not kept", 5, 0, 4},
      {"the usual tocLength: 32 bytes of blocks read as values too", 0, 32, 0},
      {"a tocLength 1 MiB past the file's end", 3, 1 << 20, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CPluginArchivePSX plugin;
    PsarcLayout l = LayoutWithManifest("one\ntwo");  // value 7
    AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("111"))});
    AppendPsarcEntry(&l, 65536 + 2, {FullBlock(Bytes(65536, '2')), PlainBlock(BytesOf("22"))});
    for (size_t i = 0; i < c.trailingZeros; ++i) l.blockValues.push_back(0);
    const uint32_t tocLength =
        static_cast<uint32_t>(30 * 3 + 2 * l.blockValues.size() + c.tocPastTable);
    l.tocLength = tocLength;
    const Bytes archive = WritePsarcLayout(l);
    HostListing listing = ListWith(&plugin, archive);
    ASSERT_EQ(listing.result, 0);
    ASSERT_EQ(listing.count, 3);
    ASSERT_EQ(plugin.registry().size(), 1u);
    const BlockTable* table = plugin.registry().at(0);
    const uint32_t count = (tocLength - 30 * 3) / 2;
    ASSERT_EQ(table->count(), count);
    // Every value as the file's bytes give it.
    for (uint32_t k = 0; k < count; ++k) {
      const size_t at = 32 + 30 * 3 + 2 * size_t{k};
      const uint32_t expected = at + 1 < archive.size() ? (archive[at] << 8) | archive[at + 1]
                                : at < archive.size()   ? archive[at] << 8
                                                        : 0;
      ASSERT_EQ(table->storedSizes.At(k), expected) << "value " << k;
    }
    const uint32_t held = table->storedSizes.held();
    if (c.held != 0) {
      EXPECT_EQ(held, c.held);
    }
    EXPECT_LE(held, (archive.size() - 32 - 30 * 3 + 1) / 2) << "nothing past the file's end";
    EXPECT_TRUE(held == 0 || table->storedSizes.At(held - 1) != 0) << "no trailing zero kept";
    EXPECT_EQ(listing.entries[1].packedSize, 3u);
    EXPECT_EQ(listing.entries[2].packedSize, 65536u + 2);
    EXPECT_EQ(std::string(listing.entries[2].name), "two");
    ArchiveEntry big = listing.entries[2];
    const Bytes stored = StoredBytesOf(archive, big);
    HGLOBAL block = nullptr;
    ASSERT_EQ(plugin.GetFile(0, stored.data(), &big, &block), 0);
    ASSERT_EQ(GlobalSize(block), 65536u + 2);
    const auto* p = static_cast<const uint8_t*>(GlobalLock(block));
    EXPECT_EQ(Bytes(p, p + 65538), Bytes(65538, '2'));
    GlobalUnlock(block);
    GlobalFree(block);
  }
}

TEST(PsarcListing, ListingTheSameArchiveAgainSharesItsTable) {
  CPluginArchivePSX plugin;
  const Bytes archive = PackPsarc({{"f", TextBytes(100000)}});
  const Bytes other = PackPsarc({{"f", TextBytes(100000)}, {"g", BytesOf("g")}});
  HostListing first = ListWith(&plugin, archive);
  HostListing second = ListWith(&plugin, archive);
  HostListing third = ListWith(&plugin, other);
  ASSERT_EQ(first.count, 2);
  ASSERT_EQ(second.count, 2);
  ASSERT_EQ(third.count, 3);
  EXPECT_EQ(plugin.registry().size(), 2u) << "one table per distinct table";
  EXPECT_EQ(first.entries[0].blockTable, second.entries[1].blockTable);
  EXPECT_NE(first.entries[1].blockTable, third.entries[1].blockTable);
  // The records are the same byte for byte, the table's address included.
  EXPECT_EQ(std::memcmp(first.entries.data(), second.entries.data(), 2 * sizeof(ArchiveEntry)), 0);
  // Both arrays were freed by the host already; copies of the records still extract.
  for (HostListing* listing : {&first, &second}) {
    ArchiveEntry e = listing->entries[1];
    const Bytes stored = StoredBytesOf(archive, e);
    HGLOBAL block = nullptr;
    ASSERT_EQ(plugin.GetFile(0, stored.data(), &e, &block), 0);
    ASSERT_EQ(GlobalSize(block), 100000u);
    const auto* p = static_cast<const uint8_t*>(GlobalLock(block));
    EXPECT_EQ(Bytes(p, p + 100000), TextBytes(100000));
    GlobalUnlock(block);
    GlobalFree(block);
  }
}

TEST(PsarcListing, HostileTablesReadAsZeroBeyondTheBytesRead) {
  struct Case {
    const char* what;
    uint32_t tocLength;
    uint32_t entryCount;
  } cases[] = {
      {"toc ends inside entry 2", 30 * 2 + 7, 4},
      {"toc of 0 bytes", 0, 4},
      {"toc shorter than the entries: no block values", 30 * 3, 4},
      {"more entries than the file holds", 1000, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PsarcLayout l = LayoutWithManifest("one\ntwo\nthree");
    AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("111"))});
    AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("222"))});
    AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("333"))});
    l.tocLength = c.tocLength;
    l.tocEntryCount = c.entryCount;
    const Bytes archive = WritePsarcLayout(l);
    PsarcRoundTrip trip = ListAndExtractAll(archive);
    ASSERT_EQ(trip.listing.result, 0);
    ASSERT_EQ(trip.listing.count, static_cast<int32_t>(c.entryCount));
    for (int32_t i = 0; i < trip.listing.count; ++i) {
      const ArchiveEntry& e = trip.listing.entries[i];
      const uint64_t end = static_cast<uint64_t>(30) * (i + 1);
      if (end > c.tocLength) {
        // Missing (or partly missing) entries come out empty.
        if (static_cast<uint64_t>(30) * i >= c.tocLength) {
          EXPECT_EQ(e.size, 0u) << i;
          EXPECT_EQ(e.offset, 0u) << i;
          EXPECT_EQ(e.param, 0u) << i;
        }
        EXPECT_EQ(e.packedSize, 0u) << "no block values read: " << i;
      }
    }
  }
}

// A table is kept only as far as the file delivered it, but a header whose whole table
// would take 2 GiB or more (a tocLength past 1 GiB) is refused with 1, as it was when the
// whole table was allocated: no 32-bit heap hands out such a block. The region buffer of
// tocLength bytes may already be refused; either way nothing is listed.
TEST(PsarcListing, TableOfTwoGiBOrMoreIsRefusedAsBefore) {
  PsarcLayout l = LayoutWithManifest("a");
  AppendPsarcEntry(&l, 1, {PlainBlock(BytesOf("b"))});
  for (uint32_t tocLength : {0x40000000u + 30 * 2 + 8, 0x7FFFFFF0u, 0xFFFFFFFFu}) {
    l.tocLength = tocLength;
    const HostListing listing = ListArchive(WritePsarcLayout(l));
    EXPECT_EQ(listing.result, 1) << tocLength;
    EXPECT_EQ(listing.count, 0) << tocLength;
    EXPECT_FALSE(listing.handleStored) << tocLength;
  }
}

TEST(PsarcListing, NoEntriesListsAsEmpty) {
  PsarcLayout l;
  l.tocEntryCount = 0;
  HostListing listing = ListArchive(WritePsarcLayout(l));
  EXPECT_EQ(listing.result, 0);
  EXPECT_EQ(listing.count, 0);
}

#if defined(VAREL_HAVE_PLATFORM_SEAM)
TEST(PsarcListing, HeapShortageAnywhereGivesOneAndLeavesNothing) {
  const Bytes archive = PackPsarc({{"a", TextBytes(1000)}, {"b", NoiseBytes(70000, 2)}});
  CArchiveFile file(archive);
  CPluginArchivePSX plugin;
  bool succeeded = false;
  for (uint32_t n = 1; n < 20 && !succeeded; ++n) {
    const int32_t heap = PlatformLiveHeapBlocks();
    const int32_t global = PlatformLiveGlobalBlocks();
    const size_t tables = plugin.registry().size();
    HGLOBAL block = reinterpret_cast<HGLOBAL>(0x1234);
    int32_t count = -1;
    PlatformFailAllocation(n);
    const int32_t result = plugin.GetArchiveInfo(file.source(), &block, &count);
    PlatformFailAllocation(0);
    if (result == 0) {
      succeeded = true;
      EXPECT_EQ(count, 3);
      GlobalFree(block);
      break;
    }
    SCOPED_TRACE(n);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(block, reinterpret_cast<HGLOBAL>(0x1234));
    EXPECT_EQ(PlatformLiveHeapBlocks(), heap);
    EXPECT_EQ(PlatformLiveGlobalBlocks(), global);
    EXPECT_EQ(plugin.registry().size(), tables) << "nothing registered";
  }
  EXPECT_TRUE(succeeded);
}
#endif

TEST(PsarcNamesCp932, DoubleByteNameIsCutAt255WithoutSplittingACharacter) {
  if (GetACP() != 932) GTEST_SKIP() << "needs the double-byte code page 932";
  // 254 single bytes, then a double-byte character whose lead byte would be the 255th.
  std::string line(254, 'a');
  line += "\x82\xA0\x82\xA2";
  std::string even(253, 'b');
  even += "\x82\xA0\x82\xA2";  // the character at 253..254 fits whole
  PsarcLayout l = LayoutWithManifest(line + "\n" + even);
  AppendPsarcEntry(&l, 0, {});
  AppendPsarcEntry(&l, 0, {});
  HostListing listing = ListArchive(WritePsarcLayout(l));
  ASSERT_EQ(listing.count, 3);
  EXPECT_EQ(std::string(listing.entries[1].name), std::string(254, 'a'));
  EXPECT_EQ(std::string(listing.entries[2].name), std::string(253, 'b') + "\x82\xA0");
}

TEST(PsarcNamesAnsi, SingleByteCodePageCutsAtExactly255) {
  if (GetACP() == 932) GTEST_SKIP() << "the double-byte case is covered above";
  std::string line(254, 'a');
  line += "\x82\xA0\x82\xA2";
  PsarcLayout l = LayoutWithManifest(line);
  AppendPsarcEntry(&l, 0, {});
  HostListing listing = ListArchive(WritePsarcLayout(l));
  ASSERT_EQ(listing.count, 2);
  EXPECT_EQ(std::string(listing.entries[1].name), std::string(254, 'a') + "\x82");
}

}  // namespace
