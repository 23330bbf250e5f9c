// The host contract of the queries, detection, the listing frame and the raw copy, through
// the real module's exports.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/test_support.h"

namespace {

TEST(PluginInfoQuery, FillsCodesCountsAndTerminatedTextsOnly) {
  PluginInfo info;
  std::memset(&info, 0xEE, sizeof(info));
  ASSERT_EQ(Plugin().GetPluginInfo(&info), 0);
  EXPECT_EQ(info.infoCode0, 2);
  EXPECT_EQ(info.infoCode1, 1);
  EXPECT_EQ(info.extCount1, 1);
  EXPECT_EQ(info.extCount2, 0);
  struct Field {
    const char* field;
    const char* expected;
    size_t width;
  } fields[] = {{info.name, "Varel Archive", sizeof(info.name)},
                {info.author, "Tobrel", sizeof(info.author)},
                {info.version, "0.2", sizeof(info.version)}};
  for (const Field& f : fields) {
    const size_t n = std::strlen(f.expected);
    EXPECT_EQ(std::memcmp(f.field, f.expected, n + 1), 0) << f.expected;
    // The host's bytes after the terminator are left as the host had them.
    for (size_t i = n + 1; i < f.width; ++i) {
      EXPECT_EQ(static_cast<uint8_t>(f.field[i]), 0xEE) << f.expected << " byte " << i;
    }
  }
}

TEST(ExtensionQuery, LengthQueriesAndBoundedCopies) {
  struct Case {
    int32_t capacity;  // -1000: no buffer
    const char* expectedBytes;
    int32_t expectedLength;
  } cases[] = {
      {-1000, "", 13},              // no buffer: the length without terminator
      {5, "*.psa", 5},              // cut short, no terminator
      {13, "*.psarc;*.pkg", 13},    // exactly the text, still no terminator
      {14, "*.psarc;*.pkg\0", 14},  // terminator fits
      {100, "*.psarc;*.pkg\0", 14},
      {0, "", 0},
      {-1, "", 0},  // a negative capacity copies nothing
      {INT32_MIN, "", 0},
  };
  for (const Case& c : cases) {
    char description[64];
    char pattern[128];
    std::memset(pattern, 'x', sizeof(pattern));
    int32_t descriptionLength = sizeof(description);
    int32_t patternLength = c.capacity;
    const bool withBuffer = c.capacity != -1000;
    ASSERT_EQ(Plugin().GetSupportedExt(1, 0, description, &descriptionLength,
                                       withBuffer ? pattern : nullptr, &patternLength),
              0);
    EXPECT_EQ(patternLength, c.expectedLength) << "capacity " << c.capacity;
    EXPECT_STREQ(description, "Varel Archive");
    EXPECT_EQ(descriptionLength, 14);
    if (withBuffer) {
      EXPECT_EQ(std::memcmp(pattern, c.expectedBytes, static_cast<size_t>(c.expectedLength)), 0);
      EXPECT_EQ(pattern[c.expectedLength], 'x') << "nothing past the copy is written";
    }
  }
}

TEST(ExtensionQuery, BadArgumentsGiveTenAndWriteNothing) {
  struct Case {
    int32_t kind;
    int32_t index;
    bool descriptionLength;
    bool patternLength;
  } cases[] = {{1, 1, true, true}, {1, -1, true, true}, {2, 0, true, true},  {0, 0, true, true},
               {3, 0, true, true}, {-1, 0, true, true}, {1, 0, false, true}, {1, 0, true, false}};
  for (const Case& c : cases) {
    char description[32] = "untouched";
    char pattern[32] = "untouched";
    int32_t dl = 32;
    int32_t pl = 32;
    EXPECT_EQ(
        Plugin().GetSupportedExt(c.kind, c.index, description, c.descriptionLength ? &dl : nullptr,
                                 pattern, c.patternLength ? &pl : nullptr),
        10)
        << "kind " << c.kind << " index " << c.index;
    EXPECT_STREQ(description, "untouched");
    EXPECT_STREQ(pattern, "untouched");
    EXPECT_EQ(dl, 32);
    EXPECT_EQ(pl, 32);
  }
}

TEST(Detection, UnknownFilesAndOtherKindsGiveTypeZero) {
  Bytes header(84, 0x5A);
  CArchiveFile file(header);
  for (int32_t kind : {0, 1, 2, -7}) {
    int32_t type = 99;
    EXPECT_EQ(Plugin().IsSupported(file.source(), kind, &type), 0);
    EXPECT_EQ(type, 0) << "kind " << kind;
  }
}

TEST(ListingFrame, UnrecognisedFileListsNothing) {
  CArchiveFile file(BytesOf("not an archive at all"));
  HGLOBAL entries = reinterpret_cast<HGLOBAL>(0x1234);
  int32_t count = 77;
  EXPECT_EQ(Plugin().GetArchiveInfo(file.source(), &entries, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(entries, reinterpret_cast<HGLOBAL>(0x1234)) << "the handle variable is left alone";
}

TEST(RawCopy, CopiesStoredBytesIntoABlockOfSizeAndLeavesTheRecord) {
  struct Case {
    int32_t type;
    uint32_t param;
  } cases[] = {{2, 0}, {2, 2}, {0, 0}, {3, 1}, {-1, 1}, {2, 0xFFFFFFFFu}};
  const Bytes stored = BytesOf("stored bytes, handed in by the host");
  for (const Case& c : cases) {
    ArchiveEntry entry = MakeRecord(c.type, c.param, 12, stored.size());
    const ArchiveEntry before = entry;
    HostExtraction x = ExtractStored(stored, &entry);
    ASSERT_EQ(x.result, 0);
    EXPECT_EQ(x.blockSize, 12u);
    EXPECT_EQ(x.lockCount, 0u);
    EXPECT_EQ(x.contents, Bytes(stored.begin(), stored.begin() + 12));
    EXPECT_EQ(std::memcmp(&entry, &before, sizeof(entry)), 0) << "the record is not written";
  }
}

TEST(RawCopy, NeverReadsMoreThanPackedSize) {
  // The host hands in packedSize bytes; a larger size leaves the rest of the block zero.
  const Bytes stored = BytesOf("abc");
  ArchiveEntry entry = MakeRecord(2, 0, 10, 3);
  HostExtraction x = ExtractStored(stored, &entry);
  ASSERT_EQ(x.result, 0);
  EXPECT_EQ(x.contents, Bytes({'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0}));
}

TEST(RawCopy, SizeZeroGivesAZeroByteBlock) {
  ArchiveEntry entry = MakeRecord(2, 0, 0, 0);
  HostExtraction x = ExtractStored(Bytes(), &entry);
  EXPECT_EQ(x.result, 0);
  EXPECT_TRUE(x.handleStored);
  EXPECT_EQ(x.blockSize, 0u);
}

TEST(RawCopy, UsesOnlyTheLowHalfOfSize) {
  const Bytes stored = BytesOf("0123456789");
  ArchiveEntry entry = MakeRecord(2, 0, 0x100000004ull, stored.size());
  HostExtraction x = ExtractStored(stored, &entry);
  ASSERT_EQ(x.result, 0);
  EXPECT_EQ(x.contents, BytesOf("0123"));
  EXPECT_EQ(entry.size, 0x100000004ull) << "a raw copy leaves the record as it was";
}

}  // namespace
