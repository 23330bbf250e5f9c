// PKG recognition and listing through the real module's exports, with containers laid out
// field by field.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform_testing.h"
#include "tests/support/test_support.h"
#include "tools/writers/byte_writer.h"

namespace {

struct DirEntry {
  Bytes name;  // the 64 name bytes as stored (shorter: zero-padded)
  uint32_t size;
  uint32_t packedSize;
  uint32_t offset;
  uint32_t compressed;
};

Bytes Container(int32_t entryCount, const std::vector<DirEntry>& entries) {
  CByteWriter w;
  w.Le32(0);                                  // reserved
  w.Le32(static_cast<uint32_t>(entryCount));  // entryCount
  for (const DirEntry& e : entries) {
    Bytes name = e.name;
    name.resize(64, 0);
    w.Raw(name.data(), name.size());  // name
    w.Le32(e.size);                   // size
    w.Le32(e.packedSize);             // packedSize
    w.Le32(e.offset);                 // offset
    w.Le32(e.compressed);             // compressed
  }
  return w.bytes();
}

int32_t Detect(const Bytes& header) {
  Bytes h = header;
  h.resize(84, 0);
  ArchiveSource source{INVALID_HANDLE_VALUE, h.data()};
  int32_t type = -1;
  EXPECT_EQ(Plugin().IsSupported(&source, 1, &type), 0);
  return type;
}

Bytes Header(uint32_t reserved, uint32_t entryCount, uint32_t firstOffset) {
  CByteWriter w;
  w.Le32(reserved);
  w.Le32(entryCount);
  w.Zeros(72);
  w.Le32(firstOffset);  // the first directory entry's offset field
  return w.bytes();
}

TEST(PkgDetection, ExactProductOfCountAndEntrySize) {
  struct Case {
    Bytes header;
    int32_t type;
  } cases[] = {
      {Header(0, 1, 88), 2},
      {Header(0, 1, 89), 0},
      {Header(0, 3, 248), 2},
      {Header(1, 1, 88), 0},  // reserved word not zero
      {Header(0, 0, 8), 0},
      {Header(0, 0x80000000u, 8), 0},  // top bit set: negative count
      {Header(0, 0xFFFFFFFFu, 0xFFFFFFB8u), 0},
      {Header(0, 53687091, 4294967288u), 2},  // the largest count that can match
      // 53,687,092 x 80 + 8 wraps to 72 in 32 bits; the exact product never matches.
      {Header(0, 53687092, 72), 0},
      {Header(0, 0x40000000u, 8), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Detect(c.header), c.type)
        << Hex(c.header, 8) << " / " << Hex(Bytes(c.header.begin() + 80, c.header.end()));
  }
  Bytes psar = Header(0, 1, 88);
  std::memcpy(psar.data(), "PSAR", 4);
  EXPECT_NE(Detect(psar), 2);
}

// The record a PKG listing makes from one directory entry, its values widened with their
// sign.
ArchiveEntry ExpectedRecord(const Bytes& name, uint32_t size, uint32_t packedSize, uint32_t offset,
                            uint32_t compressed) {
  auto widen = [](uint32_t v) {
    return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v)));
  };
  return MakeRecord(kTypePkg, compressed, widen(size), widen(packedSize), name, widen(offset));
}

void ExpectRecord(const ArchiveEntry& actual, const ArchiveEntry& expected, int k) {
  const auto* a = reinterpret_cast<const uint8_t*>(&actual);
  const auto* b = reinterpret_cast<const uint8_t*>(&expected);
  EXPECT_EQ(Hex(Bytes(a, a + sizeof(actual)), 600), Hex(Bytes(b, b + sizeof(expected)), 600))
      << "record " << k;
}

TEST(PkgListing, FillsEveryRecordByteByByte) {
  const Bytes full64(64, 'N');
  Bytes withTail = BytesOf("ab");
  withTail.push_back(0);
  for (const char* t = "XYZ"; *t; ++t) withTail.push_back(static_cast<uint8_t>(*t));
  const std::vector<DirEntry> dir = {
      {full64, 0x80000000u, 0xFFFFFFFFu, 248, 2},  // values with bit 31 set: sign-extended
      {withTail, 5, 7, 0x7FFFFFFF, 1},             // bytes after the terminator are dropped
      {BytesOf("last.bin"), 0, 0, 0, 0x80000001u},
  };
  Bytes archive = Container(3, dir);
  archive.resize(archive.size() + 16, 0xAA);  // entries' bytes: never read by the listing
  const HostListing l = ListArchive(archive);
  ASSERT_EQ(l.result, 0);
  ASSERT_EQ(l.count, 3);
  EXPECT_EQ(l.lockCount, 0u);
  EXPECT_EQ(l.blockSize, 3 * sizeof(ArchiveEntry));
  ASSERT_EQ(l.entries.size(), 3u);
  ExpectRecord(l.entries[0], ExpectedRecord(full64, 0x80000000u, 0xFFFFFFFFu, 248, 2), 0);
  EXPECT_EQ(l.entries[0].size, 0xFFFFFFFF80000000ull);
  EXPECT_EQ(l.entries[0].packedSize, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(l.entries[0].name[64], 0) << "the 65th name byte";
  ExpectRecord(l.entries[1], ExpectedRecord(BytesOf("ab"), 5, 7, 0x7FFFFFFF, 1), 1);
  ExpectRecord(l.entries[2], ExpectedRecord(BytesOf("last.bin"), 0, 0, 0, 0x80000001u), 2);
}

TEST(PkgListing, DirectoryCutShortByTheEndOfTheFile) {
  const std::vector<DirEntry> dir = {{BytesOf("first"), 1, 1, 248, 0},
                                     {BytesOf("second-name"), 2, 2, 249, 1},
                                     {BytesOf("third"), 3, 3, 251, 1}};
  Bytes archive = Container(3, dir);
  archive.resize(8 + 80 + 6);  // the file ends inside the second entry's name
  const HostListing l = ListArchive(archive);
  ASSERT_EQ(l.result, 0);
  ASSERT_EQ(l.count, 3);
  ASSERT_EQ(l.entries.size(), 3u);
  ExpectRecord(l.entries[0], ExpectedRecord(BytesOf("first"), 1, 1, 248, 0), 0);
  ExpectRecord(l.entries[1], ExpectedRecord(BytesOf("second"), 0, 0, 0, 0), 1);
  ExpectRecord(l.entries[2], ExpectedRecord({}, 0, 0, 0, 0), 2);
}

// Run under LC_ALL=C.UTF-8 and again under LC_ALL=ja_JP.UTF-8 (code page 932).
TEST(PkgListingAnsi, DoubleByteCharacterNeverSplitAtTheFieldEnd) {
  Bytes atEdge(63, 'a');
  atEdge.push_back(0x88);  // a lead byte under 932 as the 64th byte; its trail cannot fit
  const Bytes zeroTrail = {'a', 0x88, 0x00, 'b'};
  Bytes pairInside(62, 'a');
  pairInside.push_back(0x88);
  pairInside.push_back(0x9F);
  const std::vector<DirEntry> dir = {
      {atEdge, 1, 1, 248, 0}, {zeroTrail, 1, 1, 248, 0}, {pairInside, 1, 1, 248, 0}};
  const HostListing l = ListArchive(Container(3, dir));
  ASSERT_EQ(l.result, 0);
  ASSERT_EQ(l.entries.size(), 3u);
  const bool doubleByte = GetACP() == 932;
  Bytes edgeExpected = atEdge;
  Bytes trailExpected = zeroTrail;
  trailExpected.resize(2);
  if (doubleByte) {
    edgeExpected.resize(63);  // the first 63 bytes only
    trailExpected[1] = 0;     // a lead byte whose trail is the terminator becomes 0
  }
  ExpectRecord(l.entries[0], ExpectedRecord(edgeExpected, 1, 1, 248, 0), 0);
  ExpectRecord(l.entries[1], ExpectedRecord(trailExpected, 1, 1, 248, 0), 1);
  ExpectRecord(l.entries[2], ExpectedRecord(pairInside, 1, 1, 248, 0), 2);
}

TEST(PkgListing, MemoryThatCannotBeHadGivesOne) {
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  const Bytes archive = Container(2, {{BytesOf("a"), 1, 1, 168, 0}, {BytesOf("b"), 1, 1, 169, 0}});
  // Allocation 1 is the directory buffer, 2 the entry array.
  for (uint32_t failing : {1u, 2u}) {
    CArchiveFile file(archive);
    const int32_t heap = PlatformLiveHeapBlocks();
    const int32_t global = PlatformLiveGlobalBlocks();
    HGLOBAL block = reinterpret_cast<HGLOBAL>(0x1234);
    int32_t count = -1;
    PlatformFailAllocation(failing);
    const int32_t result = Plugin().GetArchiveInfo(file.source(), &block, &count);
    PlatformFailAllocation(0);
    EXPECT_EQ(result, 1) << failing;
    EXPECT_EQ(count, 0) << failing;
    EXPECT_EQ(block, reinterpret_cast<HGLOBAL>(0x1234)) << failing;
    EXPECT_EQ(PlatformLiveHeapBlocks(), heap) << failing;
    EXPECT_EQ(PlatformLiveGlobalBlocks(), global) << failing;
  }
#endif
#if !defined(__SANITIZE_ADDRESS__)
  // 7,600,000 entries: the directory (608 MB) can be had, the entry array (4.3 GB) cannot,
  // and its size must not wrap to something small.
  const uint32_t huge = 7600000;
  const HostListing l = ListArchive(Header(0, huge, 8 + huge * 80));
  EXPECT_EQ(l.result, 1);
  EXPECT_EQ(l.count, 0);
  EXPECT_FALSE(l.handleStored);
#endif
}

}  // namespace
