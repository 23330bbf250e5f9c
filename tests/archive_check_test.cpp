// The strict archive check behind `varel test`: whole archives of each format and layout
// check OK with the plug-in's own names; one case per fault, made by editing a good
// archive's bytes, is reported on its entry with its reason and on no other; thousands of
// entries checked from eight threads give what one thread gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "bytes/byte_order.h"
#include "pkg/pkg.h"
#include "psarc/psarc.h"
#include "reference/reference.h"
#include "tests/support/archive_cases.h"
#include "tests/support/psarc_test_support.h"
#include "tools/check/archive_check.h"
#include "tools/writers/byte_writer.h"

namespace {

// A reader over the bytes that fails the test on any read past their end.
CheckReadFn ReaderOf(std::shared_ptr<const Bytes> bytes) {
  return [bytes](uint64_t offset, void* buffer, size_t size) {
    if (offset > bytes->size() || size > bytes->size() - offset) {
      ADD_FAILURE() << "read of " << size << " bytes at " << offset << " past the end ("
                    << bytes->size() << ")";
      return false;
    }
    if (size != 0) std::memcpy(buffer, bytes->data() + offset, size);
    return true;
  };
}

struct Checked {
  bool opened = false;
  int32_t type = 0;
  std::vector<CheckFault> faults;
  std::vector<EntryCheck> entries;
};

Checked CheckArchive(const Bytes& archive, CheckReadFn read = nullptr) {
  auto held = std::make_shared<const Bytes>(archive);
  Checked c;
  CArchiveCheck check;
  c.opened = check.Open(read ? read : ReaderOf(held), held->size());
  c.type = check.type();
  c.faults = check.faults();
  CEntryChecker checker(check);
  for (uint32_t i = 0; i < check.entryCount() && i < 100000; ++i) {
    c.entries.push_back(checker.Check(i));
  }
  return c;
}

std::string Describe(const Checked& c) {
  std::string s;
  for (const CheckFault& f : c.faults) s += "  archive: " + f.message + "\n";
  for (const EntryCheck& e : c.entries) {
    for (const CheckFault& f : e.faults) {
      s += "  entry " + std::to_string(e.index) + " [" + CheckFaultKindName(f.kind) +
           "]: " + f.message + "\n";
    }
  }
  return s;
}

// ---- Whole archives ----

struct WholeCase {
  const char* what;
  Bytes archive;
  size_t shared;  // entries noted as sharing their stored bytes
};

std::vector<WholeCase> WholeArchives() {
  std::vector<WholeCase> cases;
  cases.push_back({"psarc, first layout", PackPsarc(MixedInputs()), 0});
  cases.push_back({"psarc, zlib level 1 (0x78 0x01)", PackPsarc(MixedInputs(), 1), 0});
  for (const PsarcLayoutCase& layout : LaterPsarcLayouts()) {
    cases.push_back({layout.what, PackPsarcWith(MixedInputs(), layout.options), 0});
  }
  PsarcWriterOptions o;
  o.tocByDigest = true;
  o.shareIdentical = true;
  std::vector<ArchiveInput> twins = MixedInputs();
  twins.push_back({"copy/a.txt", TextBytes(2 * 65536 + 5000)});
  twins.push_back({"copy/b.bin", NoiseBytes(1000, 3)});
  cases.push_back({"psarc, identical contents stored once", PackPsarcWith(twins, o), 4});
  cases.push_back({"pkg, coded where smaller", PackPkg(MixedInputs()), 0});
  cases.push_back({"pkg, all stored", PackPkg(MixedInputs(), PkgCompression::kNever), 0});
  cases.push_back({"pkg, all coded", PackPkg(MixedInputs(), PkgCompression::kAlways), 0});
  return cases;
}

TEST(ArchiveCheck, WholeArchivesCheckOkUnderTheListingsNames) {
  for (const WholeCase& w : WholeArchives()) {
    SCOPED_TRACE(w.what);
    const Checked c = CheckArchive(w.archive);
    ASSERT_TRUE(c.opened);
    const HostListing listing = ListArchive(w.archive);
    ASSERT_EQ(listing.result, 0);
    EXPECT_EQ(c.type, listing.entries.empty() ? 0 : listing.entries[0].type);
    ASSERT_EQ(c.entries.size(), listing.entries.size());
    EXPECT_TRUE(c.faults.empty()) << Describe(c);
    size_t shared = 0;
    for (const EntryCheck& e : c.entries) {
      EXPECT_TRUE(e.ok()) << Describe(c);
      EXPECT_EQ(e.name, std::string(listing.entries[e.index].name)) << "entry " << e.index;
      for (const CheckFault& f : e.faults) {
        EXPECT_TRUE(IsCheckNote(f.kind)) << f.message;
        if (f.kind == CheckFaultKind::kShared) ++shared;
      }
    }
    EXPECT_EQ(shared, w.shared) << Describe(c);
  }
}

TEST(ArchiveCheck, NeitherFormatDoesNotOpen) {
  for (const Bytes& b : {Bytes(), BytesOf("PSAR"), Bytes(200, 0x41), BytesOf("not an archive")}) {
    const Checked c = CheckArchive(b);
    EXPECT_FALSE(c.opened);
    EXPECT_EQ(c.type, 0);
    EXPECT_TRUE(c.entries.empty());
  }
}

// ---- One case per fault ----

struct Expected {
  int64_t index;  // -1: a whole-archive fault
  CheckFaultKind kind;
  const char* says;  // a part of the message
};

struct FaultCase {
  const char* what;
  std::function<void(Bytes*)> edit;
  std::vector<Expected> expected;
};

void ExpectFaults(const Bytes& archive, const FaultCase& f) {
  SCOPED_TRACE(f.what);
  Bytes edited = archive;
  f.edit(&edited);
  const Checked c = CheckArchive(edited);
  ASSERT_TRUE(c.opened);
  // Exactly the expected faults, notes aside: one per entry (the check stops at the first).
  std::vector<bool> met(f.expected.size(), false);
  const auto expect = [&](int64_t index, const CheckFault& fault) {
    if (IsCheckNote(fault.kind)) return;
    for (size_t k = 0; k < f.expected.size(); ++k) {
      const Expected& e = f.expected[k];
      if (e.index == index && e.kind == fault.kind &&
          fault.message.find(e.says) != std::string::npos) {
        met[k] = true;
        return;
      }
    }
    ADD_FAILURE() << "unexpected: " << index << " [" << CheckFaultKindName(fault.kind)
                  << "]: " << fault.message;
  };
  for (const CheckFault& fault : c.faults) expect(-1, fault);
  for (const EntryCheck& e : c.entries) {
    for (const CheckFault& fault : e.faults) expect(e.index, fault);
  }
  for (size_t k = 0; k < met.size(); ++k) {
    EXPECT_TRUE(met[k]) << "missing: " << f.expected[k].index << " ["
                        << CheckFaultKindName(f.expected[k].kind) << "] " << f.expected[k].says
                        << "\n"
                        << Describe(c);
  }
}

TEST(ArchiveCheck, EachPsarcFaultIsReportedOnItsEntryWithItsReason) {
  // Entries: 1 a.txt (three compressed blocks), 2 b.bin (one plain block of 1000 bytes),
  // 3 Dir/Mixed.TXT (one compressed block), 4 dir/d.txt, 5 empty, 6 exact (stored whole),
  // 7 dir/e.bin (whole, then plain).
  const Bytes archive = PackPsarc(MixedInputs());
  ASSERT_EQ(Value(archive, Param(archive, 2)), 1000u);
  ASSERT_EQ(archive[Offset(archive, 3)], 0x78);
  const std::vector<FaultCase> cases = {
      {"a flipped bit in a compressed block",
       [](Bytes* a) {
         const uint32_t p = Param(*a, 1);
         (*a)[Offset(*a, 1) + Value(*a, p) + Value(*a, p + 1) / 2] ^= 0x10;
       },
       {{1, CheckFaultKind::kBlock, "block 2 of 3 "}}},
      {"a flipped bit in a block's checksum",
       [](Bytes* a) { (*a)[Offset(*a, 3) + Value(*a, Param(*a, 3)) - 1] ^= 0x01; },
       {{3, CheckFaultKind::kBlock, "block 1 of 1 does not inflate: incorrect data check"}}},
      {"a table value one short cuts the stream",
       [](Bytes* a) { SetValue(a, Param(*a, 3), Value(*a, Param(*a, 3)) - 1); },
       {{3, CheckFaultKind::kBlock, "block 1 of 1 is cut: its "}}},
      {"a table value one long",
       [](Bytes* a) { SetValue(a, Param(*a, 3), Value(*a, Param(*a, 3)) + 1); },
       {{3, CheckFaultKind::kBlock, "block 1 of 1 ends its zlib stream after "}}},
      {"a plain block one byte short",
       [](Bytes* a) { SetValue(a, Param(*a, 2), 999); },
       {{2, CheckFaultKind::kBlock,
         "block 1 of 1 is a plain block of 999 bytes but stands for 1000 plain bytes"}}},
      {"a size one byte long",
       [](Bytes* a) { PutBe(a, Row(3) + kPsarcTocPlainSizeAt, 5001, 5); },
       {{3, CheckFaultKind::kBlock, "block 1 of 1 inflates to 5000 bytes, not the 5001"}}},
      {"a size one block shorter",
       [](Bytes* a) { PutBe(a, Row(7) + kPsarcTocPlainSizeAt, 70000 - 65536, 5); },
       {{7, CheckFaultKind::kBlock, "block 1 of 1 is stored whole (65536 bytes) but stands for"}}},
      {"a swapped pair of names (digests)",
       [](Bytes* a) {
         for (size_t k = 0; k < 16; ++k) std::swap((*a)[Row(1) + k], (*a)[Row(2) + k]);
       },
       {{1, CheckFaultKind::kDigest, "name 2 of the manifest, \"b.bin\""},
        {2, CheckFaultKind::kDigest, "name 1 of the manifest, \"a.txt\""}}},
      {"a damaged digest",
       [](Bytes* a) { (*a)[Row(4) + 7] ^= 0x40; },
       {{4, CheckFaultKind::kDigest, "the MD5 of no name in the manifest"}}},
      {"a first block index past the table",
       [](Bytes* a) {
         const uint32_t values = (be32(&(*a)[kPsarcHeaderTocLengthAt]) - Row(8)) / 2;
         PutBe(a, Row(4) + kPsarcTocFirstBlockAt, values, 4);
       },
       {{4, CheckFaultKind::kBlockTable, "run past the end of the block table"}}},
      {"an offset into the tables",
       [](Bytes* a) { PutBe(a, Row(2) + kPsarcTocOffsetAt, 40, 5); },
       {{2, CheckFaultKind::kStoredBytes, "inside the tables"}}},
      {"the file cut inside the last entry",
       [](Bytes* a) { a->resize(Offset(*a, 7) + 100); },
       {{7, CheckFaultKind::kStoredBytes, "cut by the end of the file (the file ends at "}}},
      {"an offset past the end of the file",
       [](Bytes* a) { PutBe(a, Row(4) + kPsarcTocOffsetAt, a->size(), 5); },
       {{4, CheckFaultKind::kStoredBytes, "past the end of the file"}}},
      {"a size of 2 GiB",
       [](Bytes* a) { PutBe(a, Row(5) + kPsarcTocPlainSizeAt, 1u << 31, 5); },
       {{5, CheckFaultKind::kRecord, "2 GiB or more"}}},
      {"a header that counts one entry more",
       [](Bytes* a) { PutBe(a, kPsarcHeaderTocEntryCountAt, 9, 4); },
       // The block-size table then begins 30 bytes later: every entry's values move.
       {{-1, CheckFaultKind::kTables, "the header counts 9 entries"}}},
  };
  for (const FaultCase& f : cases) {
    if (std::string(f.what) == "a header that counts one entry more") {
      // Only the archive fault is certain; the moved values damage entries at random.
      Bytes edited = archive;
      f.edit(&edited);
      const Checked c = CheckArchive(edited);
      ASSERT_FALSE(c.faults.empty());
      EXPECT_EQ(c.faults[0].kind, CheckFaultKind::kTables);
      continue;
    }
    ExpectFaults(archive, f);
  }
}

TEST(ArchiveCheck, ManifestFaultsAreTheArchives) {
  // Two entries named by a manifest of three names, with zero digests (noted, unchecked).
  PsarcLayout l = LayoutWithManifest("a\nb\nc");
  AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("one"))});
  AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("two"))});
  Checked c = CheckArchive(WritePsarcLayout(l));
  ASSERT_EQ(c.faults.size(), 1u) << Describe(c);
  EXPECT_EQ(c.faults[0].kind, CheckFaultKind::kManifest);
  EXPECT_EQ(c.faults[0].message, "the manifest holds 3 names for 2 entries");
  ASSERT_EQ(c.entries.size(), 3u);
  EXPECT_TRUE(c.entries[1].ok());
  ASSERT_EQ(c.entries[1].faults.size(), 1u);
  EXPECT_EQ(c.entries[1].faults[0].kind, CheckFaultKind::kNoDigest);

  // A final line break ends the last name; it begins none.
  l = LayoutWithManifest("a\nb\n");
  AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("one"))});
  AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("two"))});
  c = CheckArchive(WritePsarcLayout(l));
  EXPECT_TRUE(c.faults.empty()) << Describe(c);

  // A damaged manifest (its checksum): its own fault on entry 0, and names go unchecked.
  l = PsarcLayout();
  AppendPsarcEntry(&l, 3, {ZlibBlock(BytesOf("a\nb"), 9)});
  AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("one"))});
  AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("two"))});
  Bytes archive = WritePsarcLayout(l);
  archive[Offset(archive, 0) + Value(archive, Param(archive, 0)) - 1] ^= 0x01;
  c = CheckArchive(archive);
  ASSERT_EQ(c.faults.size(), 1u) << Describe(c);
  EXPECT_EQ(c.faults[0].kind, CheckFaultKind::kManifest);
  EXPECT_EQ(c.faults[0].message,
            "the manifest is damaged (block 1 of 1 does not inflate: incorrect data check): "
            "names and digests are not checked");
  EXPECT_FALSE(c.entries[0].ok());
  for (size_t i = 1; i < c.entries.size(); ++i) EXPECT_TRUE(c.entries[i].ok()) << Describe(c);
}

// A manifest of more names than the listing seeks (65,536 for a few entries): the names
// past them are counted, not held, and the entries take the listing's names.
TEST(ArchiveCheck, AManifestOfManyNamesNamesAsTheListingDoes) {
  std::string text;
  for (int j = 0; j < 70000; ++j) text += "n" + std::to_string(j) + std::string(1, '\0');
  const Bytes manifest = BytesOf(text);
  PsarcLayout l;
  l.flags = kPsarcFlagZeroSeparated;
  AppendPsarcEntry(&l, manifest.size(), PsarcBlocksOf(manifest.data(), manifest.size(), 9));
  for (const char* name : {"n65000", "n69999", "n3"}) {
    const size_t i = AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("abc"))});
    PsarcNameDigest(name, l.entries[i].digest);
  }
  const Bytes archive = WritePsarcLayout(l);
  const Checked c = CheckArchive(archive);
  const HostListing listing = ListArchive(archive);
  ASSERT_EQ(c.entries.size(), 4u);
  ASSERT_EQ(listing.entries.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(c.entries[i].name, listing.entries[i].name);
  EXPECT_EQ(c.entries[1].name, "n65000");
  EXPECT_EQ(c.entries[2].name, "n1") << "past the names sought: by position";
  EXPECT_EQ(c.entries[3].name, "n3");
  ASSERT_EQ(c.faults.size(), 1u) << Describe(c);
  EXPECT_EQ(c.faults[0].message, "the manifest holds 70000 names for 3 entries");
  EXPECT_TRUE(c.entries[1].ok());
  EXPECT_FALSE(c.entries[2].ok());
  EXPECT_TRUE(c.entries[3].ok());
}

// Streams with codes the format reserves, which zlib rejects and libdeflate reads: the
// plug-in hands over libdeflate's bytes, exactly the bytes due, Adler-32 checked, so the
// check passes them too. With their checksum broken, zlib's message says why.
TEST(ArchiveCheck, ReservedCodeStreamsPassAsThePluginDecodesThem) {
  for (const ReservedCodeStream& r : ReservedCodeStreams()) {
    SCOPED_TRACE(r.what);
    PsarcLayout l = LayoutWithManifest("x");
    AppendPsarcEntry(&l, r.fastPlain.size(),
                     {PsarcBlock{static_cast<uint32_t>(r.stream.size()), r.stream}});
    Bytes archive = WritePsarcLayout(l);
    Checked c = CheckArchive(archive);
    ASSERT_EQ(c.entries.size(), 2u);
    EXPECT_TRUE(c.entries[1].ok()) << Describe(c);
    archive[Offset(archive, 1) + r.stream.size() - 1] ^= 0x01;
    c = CheckArchive(archive);
    ASSERT_EQ(c.entries.size(), 2u);
    ASSERT_FALSE(c.entries[1].ok());
    EXPECT_EQ(c.entries[1].faults[0].message,
              std::string("block 1 of 1 does not inflate: ") + r.zlibMessage);
  }
}

TEST(ArchiveCheck, TablesCutByTheEndOfTheFile) {
  Bytes archive = PackPsarc(MixedInputs());
  archive.resize(Row(3) + 5);
  const Checked c = CheckArchive(archive);
  ASSERT_TRUE(c.opened);
  ASSERT_FALSE(c.faults.empty());
  EXPECT_EQ(c.faults[0].kind, CheckFaultKind::kTables);
  ASSERT_EQ(c.entries.size(), 8u);
  for (size_t i = 3; i < 8; ++i) {
    ASSERT_EQ(c.entries[i].faults.size(), 1u);
    EXPECT_EQ(c.entries[i].faults[0].kind, CheckFaultKind::kRecord);
    EXPECT_EQ(c.entries[i].faults[0].message, "record past the end of the file (the file ends at " +
                                                  std::to_string(archive.size()) + " bytes)");
  }
}

TEST(ArchiveCheck, EachPkgFaultIsReportedOnItsEntryWithItsReason) {
  // Entries: 0 t.txt (coded, 200,000 bytes: read in several pieces), 1 n.bin (stored),
  // 2 u.txt (coded).
  const Bytes archive = PackPkg(
      {{"t.txt", TextBytes(200000)}, {"n.bin", NoiseBytes(500, 4)}, {"u.txt", TextBytes(3000)}});
  ASSERT_EQ(PkgField(archive, 0, kPkgDirCompressedAt), kPkgCompressedLz);
  ASSERT_EQ(PkgField(archive, 1, kPkgDirCompressedAt), 0u);
  const std::vector<FaultCase> cases = {
      {"a stream one byte short",
       [](Bytes* a) {
         SetPkgField(a, 2, kPkgDirPackedSizeAt, PkgField(*a, 2, kPkgDirPackedSizeAt) - 1);
       },
       {{2, CheckFaultKind::kLzStream, "its stored bytes end at "}}},
      {"a header that counts one plain byte more",
       [](Bytes* a) {
         const size_t at = PkgField(*a, 0, kPkgDirOffsetAt) + kPkgLzDecodedLengthAt;
         (*a)[at] = static_cast<uint8_t>((*a)[at] + 1);
       },
       {{0, CheckFaultKind::kLzStream,
         "its LZ header counts 200001 plain bytes; the directory "
         "200000"}}},
      {"a stored entry one byte long",
       [](Bytes* a) { SetPkgField(a, 1, kPkgDirSizeAt, 501); },
       {{1, CheckFaultKind::kStoredSize,
         "a stored entry of 501 plain bytes with 500 stored bytes"}}},
      {"a negative offset",
       [](Bytes* a) { SetPkgField(a, 1, kPkgDirOffsetAt, 0x80000000u); },
       {{1, CheckFaultKind::kRecord, "its offset is negative (-2147483648)"}}},
      {"an offset into the directory",
       [](Bytes* a) { SetPkgField(a, 2, kPkgDirOffsetAt, 8); },
       {{2, CheckFaultKind::kStoredBytes, "inside the tables"}}},
      {"the file cut inside the first entry",
       [](Bytes* a) { a->resize(PkgField(*a, 0, kPkgDirOffsetAt) + 50); },
       {{0, CheckFaultKind::kStoredBytes, "cut by the end of the file"},
        {1, CheckFaultKind::kStoredBytes, "past the end of the file"},
        {2, CheckFaultKind::kStoredBytes, "past the end of the file"}}},
      {"the directory cut by the end of the file",
       [](Bytes* a) { a->resize(PkgRowAt(1) + 10); },
       {{-1, CheckFaultKind::kTables, "the directory runs past the end of the file"},
        {0, CheckFaultKind::kStoredBytes, "past the end of the file"},
        {1, CheckFaultKind::kRecord, "record past the end of the file"},
        {2, CheckFaultKind::kRecord, "record past the end of the file"}}},
  };
  for (const FaultCase& f : cases) ExpectFaults(archive, f);

  // Hand-made streams, each between two whole entries: E = 0xFF.
  const Bytes whole = LzStream(0xFF, 6, 17, {0x41, 0x42, 0xFF, 0x02, 0x04});
  struct StreamCase {
    const char* what;
    Bytes stream;
    int32_t size;
    const char* says;
  } streams[] = {
      {"a stream one byte short, its header saying so", LzStream(0xFF, 4, 15, {0x41, 0x42, 0x43}),
       4, "the LZ stream ends after 3 of its 4 plain bytes"},
      {"a back-reference before the start", LzStream(0xFF, 4, 16, {0x41, 0xFF, 0x05, 0x03}), 4,
       "a copy at plain byte 1 reaches 5 bytes back, before the first plain byte (stored byte "
       "13)"},
      {"a copy token cut by the stream's end", LzStream(0xFF, 6, 16, {0x41, 0x42, 0xFF, 0x02}), 6,
       "the LZ stream's last token is cut by the end of its stored bytes (stored byte 14)"},
      {"a last copy past the plain size", LzStream(0xFF, 3, 17, {0x41, 0x42, 0xFF, 0x02, 0x08}), 3,
       "the LZ stream's last copy makes 7 bytes more than its 3 plain bytes (stored byte 14)"},
      {"tokens after the plain bytes", LzStream(0xFF, 2, 15, {0x41, 0x42, 0x43}), 2,
       "the LZ stream makes its 2 plain bytes with 1 stored bytes left (stored byte 14)"},
      {"a stream shorter than its header", Bytes{4, 0, 0}, 4,
       "its 3 stored bytes are too few for the LZ header (12 bytes)"},
  };
  for (const StreamCase& s : streams) {
    SCOPED_TRACE(s.what);
    const Bytes container =
        PkgOf({{"before", whole, 6, 1}, {"it", s.stream, s.size, 1}, {"after", whole, 6, 1}});
    const Checked c = CheckArchive(container);
    ASSERT_EQ(c.entries.size(), 3u);
    EXPECT_TRUE(c.entries[0].ok()) << Describe(c);
    EXPECT_TRUE(c.entries[2].ok()) << Describe(c);
    EXPECT_EQ(c.entries[1].name, "it");
    ASSERT_EQ(c.entries[1].faults.size(), 1u) << Describe(c);
    EXPECT_EQ(c.entries[1].faults[0].kind, CheckFaultKind::kLzStream);
    EXPECT_EQ(c.entries[1].faults[0].message, s.says);
  }
}

TEST(ArchiveCheck, SharedStoredBytesAreNotedNotFaulted) {
  // Three records of one stored block, and one that begins inside another's bytes.
  PsarcLayout l = LayoutWithManifest("a\nb\nc\nd\ne");
  const size_t a = AppendPsarcEntry(&l, 1000, {PlainBlock(NoiseBytes(1000, 1))});
  for (int k = 0; k < 2; ++k) l.entries.push_back(l.entries[a]);
  AppendPsarcEntry(&l, 3000, {PlainBlock(NoiseBytes(3000, 2))});
  PsarcLayoutEntry inside = l.entries.back();
  inside.size = 2000;
  inside.dataOffset += 1000;
  l.blockValues.push_back(2000);
  inside.firstBlock = static_cast<uint32_t>(l.blockValues.size() - 1);
  l.entries.push_back(inside);
  const Checked c = CheckArchive(WritePsarcLayout(l));
  ASSERT_EQ(c.entries.size(), 6u);
  const auto shared = [&c](size_t i) {
    std::vector<std::string> notes;
    for (const CheckFault& f : c.entries[i].faults) {
      if (f.kind == CheckFaultKind::kShared) notes.push_back(f.message);
    }
    return notes;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(shared(1), V{"stored bytes shared with entry 2 and 1 more"});
  EXPECT_EQ(shared(2), V{"stored bytes shared with entry 1 and 1 more"});
  EXPECT_EQ(shared(3), V{"stored bytes shared with entry 1 and 1 more"});
  EXPECT_EQ(shared(4), V());
  EXPECT_EQ(shared(5), V{"stored bytes overlap those of entry 4"});
  for (const EntryCheck& e : c.entries) EXPECT_TRUE(e.ok()) << Describe(c);
}

TEST(ArchiveCheck, AReadThatFailsIsReportedOnItsEntry) {
  const Bytes archive = PackPsarc(MixedInputs());
  auto held = std::make_shared<const Bytes>(archive);
  const uint64_t broken = Offset(archive, 6);
  const CheckReadFn read = [held, broken](uint64_t offset, void* buffer, size_t size) {
    if (offset == broken) return false;
    std::memcpy(buffer, held->data() + offset, size);
    return true;
  };
  const Checked c = CheckArchive(archive, read);
  for (const EntryCheck& e : c.entries) {
    if (e.index != 6) {
      EXPECT_TRUE(e.ok()) << Describe(c);
      continue;
    }
    ASSERT_EQ(e.faults.size(), 1u);
    EXPECT_EQ(e.faults[0].kind, CheckFaultKind::kRead);
    EXPECT_EQ(e.faults[0].message, "block 1 of 1 cannot be read at " + std::to_string(broken));
  }
}

// ---- Threads ----

// Thousands of entries, some of them damaged, checked by eight threads at once (well past
// the machine's cores), each with its own checker, in an order the threads race for.
TEST(ArchiveCheck, EightThreadsGiveWhatOneGives) {
  std::vector<ArchiveInput> inputs;
  for (int i = 0; i < 3000; ++i) {
    inputs.push_back(
        {"f/" + std::to_string(i),
         // Small entries, every 97th of several blocks: the count is what is tested here.
         i % 3 == 0 ? NoiseBytes(i % 700, i) : TextBytes((i % 200) * 37 + (i % 97 == 0) * 70000)});
  }
  for (Bytes archive : {PackPsarc(inputs), PackPkg(inputs)}) {
    const bool psarc = archive[0] == 'P';
    // Damage every 100th entry's first stored byte past the header of its stream.
    for (size_t i = 5; i < inputs.size(); i += 100) {
      if (psarc) {
        if (Value(archive, Param(archive, i)) != 0) archive[Offset(archive, i) + 3] ^= 0xFF;
      } else if (PkgField(archive, i, kPkgDirCompressedAt) == kPkgCompressedLz) {
        SetPkgField(&archive, i, kPkgDirSizeAt, PkgField(archive, i, kPkgDirSizeAt) + 1);
      }
    }
    auto held = std::make_shared<const Bytes>(archive);
    CArchiveCheck check;
    ASSERT_TRUE(check.Open(ReaderOf(held), held->size()));
    std::vector<EntryCheck> alone;
    CEntryChecker one(check);
    for (uint32_t i = 0; i < check.entryCount(); ++i) alone.push_back(one.Check(i));

    std::vector<EntryCheck> together(check.entryCount());
    std::atomic<uint32_t> next(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&check, &next, &together] {
        CEntryChecker checker(check);
        for (uint32_t i; (i = next.fetch_add(1)) < check.entryCount();)
          together[i] = checker.Check(i);
      });
    }
    for (std::thread& t : threads) t.join();
    size_t damaged = 0;
    for (size_t i = 0; i < alone.size(); ++i) {
      ASSERT_EQ(together[i].index, alone[i].index);
      EXPECT_EQ(together[i].name, alone[i].name);
      ASSERT_EQ(together[i].faults.size(), alone[i].faults.size()) << "entry " << i;
      for (size_t k = 0; k < alone[i].faults.size(); ++k) {
        EXPECT_EQ(together[i].faults[k].message, alone[i].faults[k].message);
      }
      damaged += alone[i].ok() ? 0 : 1;
    }
    EXPECT_GT(damaged, 10u) << (psarc ? "psarc" : "pkg");
    EXPECT_LE(damaged, 30u) << (psarc ? "psarc" : "pkg");
  }
}

}  // namespace
