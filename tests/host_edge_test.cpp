// What a host may hand in at the edge of the contract, through the real module and the
// system's own file calls: a record pointed at the block table of another listing, a
// handle open for writing only or not at position 0, and an archive file that shrinks
// after it was listed. Each keeps the contract: result 0 or 1, nothing read or written out
// of bounds (natively the sanitizers watch), bytes that are not there read as zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/psarc_test_support.h"
#include "tools/os/files.h"

namespace {

HostListing ListThrough(HANDLE file, const uint8_t* header) {
  ArchiveSource source;
  source.file = file;
  source.header = header;
  return ListArchive(&source);
}

// What a host reads for an entry: packedSize bytes at offset into a zero-filled buffer;
// what the file no longer holds stays zero.
Bytes HostRead(HANDLE file, const ArchiveEntry& e) {
  Bytes stored(static_cast<size_t>(e.packedSize), 0);
  LONG high = static_cast<LONG>(e.offset >> 32);
  SetFilePointer(file, static_cast<LONG>(e.offset), &high, FILE_BEGIN);
  DWORD got = 0;
  if (!stored.empty())
    ReadFile(file, stored.data(), static_cast<DWORD>(stored.size()), &got, nullptr);
  return stored;
}

// ---- A record pointed at another listing's table -------------------------------------

TEST(HostEdge, RecordWithTheTableOfAnotherListingStillExtracts) {
  // B, and A: B with one more entry, so A's table holds B's values and more.
  const std::vector<ArchiveInput> inputs = {{"text.txt", TextBytes(150000)},
                                            {"noise.bin", NoiseBytes(70000, 7)}};
  std::vector<ArchiveInput> longer = inputs;
  longer.push_back({"more.bin", NoiseBytes(200000, 8)});
  const Bytes b = PackPsarc(inputs);
  const Bytes a = PackPsarc(longer);
  HostListing listedB = ListArchive(b);
  HostListing listedA = ListArchive(a);
  ASSERT_EQ(listedB.count, 3);
  ASSERT_EQ(listedA.count, 4);
  ASSERT_NE(listedA.entries[1].blockTable, listedB.entries[1].blockTable);

  // B's entries through A's table: the values they cover are the same, so the bytes are.
  for (int i = 0; i < 3; ++i) {
    ArchiveEntry e = listedB.entries[i];
    e.blockTable = listedA.entries[0].blockTable;
    HostExtraction x = ExtractPadded(b, &e);
    EXPECT_EQ(x.result, 0) << i;
    EXPECT_EQ(x.lockCount, 0u) << i;
    EXPECT_EQ(x.blockSize, static_cast<uint32_t>(listedB.entries[i].size)) << i;
  }
  ArchiveEntry text = listedB.entries[1];
  text.blockTable = listedA.entries[0].blockTable;
  EXPECT_EQ(ExtractPadded(b, &text).contents, TextBytes(150000));

  // A's last entry through B's table, from a first block past that table's end: no block
  // is walked, the block handed over is all zeros.
  ArchiveEntry more = listedA.entries[3];
  more.blockTable = listedB.entries[0].blockTable;
  more.param = 100000;
  HostExtraction x = ExtractPadded(a, &more);
  EXPECT_EQ(x.result, 0);
  EXPECT_EQ(x.contents, Bytes(200000, 0));

  // A's noise entry through B's table at another first block: B's values describe other
  // blocks, so the walk takes a different share of the host's bytes. It reads no more than
  // the packedSize bytes the host handed in, exactly that many at the end of an
  // allocation, and fills the block of the entry's size.
  ArchiveEntry noise = listedA.entries[2];
  noise.blockTable = listedB.entries[0].blockTable;
  noise.param = 0;
  x = ExtractPadded(a, &noise);
  EXPECT_EQ(x.result, 0);
  EXPECT_EQ(x.blockSize, 70000u);
}

// ---- Handles the listing did not expect ---------------------------------------------------

struct EdgeArchive {
  const char* name;
  Bytes bytes;
  int32_t count;
};

std::vector<EdgeArchive> EdgeArchives() {
  return {
      {"psarc", PackPsarc({{"a.txt", TextBytes(90000)}, {"b.bin", NoiseBytes(3000, 3)}}), 3},
      {"pkg", PackPkg({{"a.txt", TextBytes(9000)}, {"b.bin", NoiseBytes(3000, 3)}}), 2},
  };
}

TEST(HostEdge, ArchiveInfoOnAHandleOpenForWritingOnly) {
  for (const EdgeArchive& archive : EdgeArchives()) {
    SCOPED_TRACE(archive.name);
    CArchiveFile disk(archive.bytes);
    HANDLE file = disk.Open(GENERIC_WRITE);
    // Every read fails: the listing goes on with the header the host read and a region of
    // zeros, so each record lists as empty.
    HostListing listing = ListThrough(file, disk.header());
    CloseHandle(file);
    EXPECT_EQ(listing.result, 0);
    ASSERT_EQ(listing.count, archive.count);
    EXPECT_EQ(listing.lockCount, 0u);
    for (const ArchiveEntry& e : listing.entries) {
      EXPECT_EQ(e.size, 0u);
      EXPECT_EQ(e.offset, 0u);
      EXPECT_EQ(e.packedSize, 0u);
      EXPECT_EQ(e.param, 0u);
      EXPECT_EQ(e.name[255], 0);
    }
    // Such records extract as empty entries.
    for (ArchiveEntry e : listing.entries) {
      HostExtraction x = ExtractStored(Bytes(), &e);
      EXPECT_EQ(x.result, 0);
      EXPECT_EQ(x.blockSize, e.type == kTypePkg && e.param == 1 ? 256u : 0u);
    }
    EXPECT_EQ(disk.OnDisk(), archive.bytes) << "the plug-in never writes";
  }
}

TEST(HostEdge, ArchiveInfoDoesNotDependOnTheHandlesPosition) {
  for (const EdgeArchive& archive : EdgeArchives()) {
    SCOPED_TRACE(archive.name);
    CArchiveFile disk(archive.bytes);
    HANDLE file = disk.Open(GENERIC_READ);
    const HostListing atStart = ListThrough(file, disk.header());
    ASSERT_EQ(atStart.result, 0);
    const LONG size = static_cast<LONG>(archive.bytes.size());
    for (LONG position : {LONG{1}, LONG{37}, size / 2, size, size + 100000}) {
      SetFilePointer(file, position, nullptr, FILE_BEGIN);
      const HostListing listing = ListThrough(file, disk.header());
      EXPECT_EQ(listing.result, 0) << position;
      ASSERT_EQ(listing.count, atStart.count) << position;
      EXPECT_EQ(std::memcmp(listing.entries.data(), atStart.entries.data(),
                            atStart.entries.size() * sizeof(ArchiveEntry)),
                0)
          << position;
    }
    CloseHandle(file);
  }
}

// ---- An archive past 4 GiB ---------------------------------------------------------------

// A PSARC archive of three entries whose manifest's block lies 7 bytes past 4 GiB + 4 KiB,
// in a sparse file. Its low 32 bits point at a decoy manifest of other names, so a position
// cut to 32 bits anywhere on the way (the plug-in's block walk, the platform's
// SetFilePointer, the host's reads) lists the decoy's names instead.
TEST(HostEdge, ManifestPast4GiBIsReadAtItsFullOffset) {
  const uint64_t manifestAt = (uint64_t{1} << 32) + 4096 + 7;
  const std::string manifest = "first.txt\nsecond.bin";
  PsarcLayout l = LayoutWithManifest(manifest);
  AppendPsarcEntry(&l, 1, {PlainBlock(BytesOf("a"))});
  AppendPsarcEntry(&l, 1, {PlainBlock(BytesOf("b"))});
  l.entries[0].offset = manifestAt;
  const Bytes head = WritePsarcLayout(l);
  ASSERT_LT(head.size(), 4096u);
  const Bytes decoy = BytesOf("decoy.txt\ndecoy2.bin");
  ASSERT_EQ(decoy.size(), manifest.size());

  COutputFile out;
  std::string error;
  ASSERT_TRUE(out.Open(TemporaryFolder(), "varel-past-4gib.psarc", &error)) << error;
  ASSERT_TRUE(out.WriteAt(0, head.data(), head.size(), &error)) << error;
  ASSERT_TRUE(out.WriteAt(manifestAt & 0xFFFFFFFFu, decoy.data(), decoy.size(), &error)) << error;
  ASSERT_TRUE(out.WriteAt(manifestAt, manifest.data(), manifest.size(), &error)) << error;
  ASSERT_TRUE(out.FinishWriting(&error)) << error;

  HANDLE file = CreateFileA(out.temporaryPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Bytes header(head.begin(), head.begin() + kHostHeaderBytes);
  const HostListing listing = ListThrough(file, header.data());
  ArchiveEntry manifestRecord = listing.count == 3 ? listing.entries[0] : ArchiveEntry();
  const Bytes stored = HostRead(file, manifestRecord);
  CloseHandle(file);  // before the file is removed

  ASSERT_EQ(listing.result, 0);
  ASSERT_EQ(listing.count, 3);
  EXPECT_EQ(listing.entries[0].offset, manifestAt);
  EXPECT_STREQ(listing.entries[1].name, "first.txt");
  EXPECT_STREQ(listing.entries[2].name, "second.bin");
  // The host's read of the same entry, at the same position.
  const HostExtraction x = ExtractStored(stored, &manifestRecord);
  ASSERT_EQ(x.result, 0);
  EXPECT_EQ(Contents(x, manifest.size()), BytesOf(manifest));
}

// ---- A file that shrinks -------------------------------------------------------------------

// A PSARC archive whose manifest takes two plain blocks (a whole one, then 6,464 bytes)
// and whose entries are plain blocks too, so that every byte of an entry's contents is a
// byte of the file at a known place.
struct ShrinkingArchive {
  Bytes bytes;
  std::vector<std::string> names;  // names[j] is entry j + 1's
  uint64_t manifestAt = 0;         // file position of the manifest's first byte
};

ShrinkingArchive MakeShrinkingArchive() {
  ShrinkingArchive s;
  std::string manifest;
  for (int i = 1; i < 6001; ++i) {
    char name[16];
    std::snprintf(name, sizeof(name), "entry-%05d", i);  // 11 bytes and a line break
    s.names.push_back(name);
    manifest += name;
    if (i < 6000) manifest += "\n";
  }
  PsarcLayout l;
  const Bytes text = BytesOf(manifest);
  AppendPsarcEntry(&l, text.size(),
                   {FullBlock(Bytes(text.begin(), text.begin() + 65536)),
                    PlainBlock(Bytes(text.begin() + 65536, text.end()))});
  for (int i = 1; i < 6001; ++i) {
    AppendPsarcEntry(&l, 4, {PlainBlock(BytesOf(std::to_string(1000 + i)))});
  }
  s.bytes = WritePsarcLayout(l);
  const std::string start = "entry-00001\n";
  auto at = std::search(s.bytes.begin(), s.bytes.end(), start.begin(), start.end());
  EXPECT_NE(at, s.bytes.end());
  s.manifestAt = static_cast<uint64_t>(at - s.bytes.begin());
  return s;
}

void Shrink(const CArchiveFile& disk, uint64_t length) {
  HANDLE writer = disk.Open(GENERIC_READ | GENERIC_WRITE);
  SetFilePointer(writer, static_cast<LONG>(length), nullptr, FILE_BEGIN);
  EXPECT_TRUE(SetEndOfFile(writer));
  CloseHandle(writer);
  EXPECT_EQ(disk.OnDisk().size(), length);
}

// Extraction reads nothing of the file: the host reads the stored bytes, and what the file
// no longer holds reaches the plug-in as the zeros of the host's buffer.
TEST(HostEdge, ExtractionAfterTheFileShrankGetsZerosForWhatIsGone) {
  const ShrinkingArchive s = MakeShrinkingArchive();
  CArchiveFile disk(s.bytes);
  HANDLE file = disk.Open(GENERIC_READ);
  const HostListing listing = ListThrough(file, disk.header());
  ASSERT_EQ(listing.result, 0);
  ASSERT_EQ(listing.count, 6001);
  const uint64_t cut = s.manifestAt + 65536 + 1000;
  Shrink(disk, cut);
  // The manifest (entry 0), cut inside its second block.
  ArchiveEntry manifest = listing.entries[0];
  HostExtraction x = ExtractStored(HostRead(file, manifest), &manifest);
  ASSERT_EQ(x.result, 0);
  ASSERT_EQ(x.blockSize, 72000u - 1);
  const size_t kept = static_cast<size_t>(cut - s.manifestAt);
  EXPECT_EQ(Bytes(x.contents.begin(), x.contents.begin() + kept),
            Bytes(s.bytes.begin() + static_cast<ptrdiff_t>(s.manifestAt),
                  s.bytes.begin() + static_cast<ptrdiff_t>(cut)));
  EXPECT_EQ(Bytes(x.contents.begin() + kept, x.contents.end()), Bytes(x.blockSize - kept, 0));
  // Entries whose blocks were past the cut: zeros.
  for (int i : {1, 3000, 6000}) {
    ArchiveEntry e = listing.entries[i];
    HostExtraction y = ExtractStored(HostRead(file, e), &e);
    EXPECT_EQ(y.result, 0) << i;
    EXPECT_EQ(y.contents, Bytes(4, 0)) << i;
  }
  CloseHandle(file);
}

// The listing's manifest decode is the one path that reads blocks through the handle, so
// a file that shrank reaches it: the text past the end reads as zeros, never as the bytes
// of the block read before, and the names end where the text does.
TEST(HostEdge, ListingAfterTheFileShrankNamesOnlyFromWhatIsLeft) {
  const ShrinkingArchive s = MakeShrinkingArchive();
  struct Case {
    const char* what;
    uint64_t cut;
  } cases[] = {
      {"inside the manifest's second block", s.manifestAt + 65536 + 1000},
      {"at the manifest's second block", s.manifestAt + 65536},
      {"inside the manifest's first block", s.manifestAt + 30000},
      {"before the manifest", s.manifestAt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CArchiveFile disk(s.bytes);
    HANDLE file = disk.Open(GENERIC_READ);
    ASSERT_EQ(ListThrough(file, disk.header()).count, 6001);
    Shrink(disk, c.cut);
    // The host lists again with the header it read before: the table of contents is all
    // there, the manifest is not.
    const HostListing listing = ListThrough(file, disk.header());
    CloseHandle(file);
    ASSERT_EQ(listing.result, 0);
    ASSERT_EQ(listing.count, 6001);
    const size_t textLeft = static_cast<size_t>(c.cut - s.manifestAt);
    const size_t whole = textLeft / 12;  // lines wholly before the cut
    std::string partial;
    if (whole < s.names.size()) partial = s.names[whole].substr(0, textLeft % 12);
    for (size_t j = 0; j < s.names.size(); ++j) {
      const std::string name = listing.entries[j + 1].name;
      // The lines before the cut; then the text's end, a part of the cut line, for every
      // later entry. A name from the manifest's first block past line `whole` would mean
      // stale bytes.
      const std::string expected = j < whole ? s.names[j] : partial;
      ASSERT_EQ(name, expected) << "entry " << j + 1;
    }
  }
}

// A cut inside the table of contents: the region read comes back short, and the entries
// past the cut list as empty, their block values as zero.
TEST(HostEdge, ListingOfAFileCutInsideItsTableOfContents) {
  const ShrinkingArchive s = MakeShrinkingArchive();
  CArchiveFile disk(s.bytes);
  const uint64_t cut = 32 + 30 * 100 + 7;
  Shrink(disk, cut);
  HANDLE file = disk.Open(GENERIC_READ);
  const HostListing listing = ListThrough(file, disk.header());
  ASSERT_EQ(listing.result, 0);
  ASSERT_EQ(listing.count, 6001);
  for (int i = 101; i < 6001; ++i) {
    const ArchiveEntry& e = listing.entries[i];
    ASSERT_EQ(e.size, 0u) << i;
    ASSERT_EQ(e.offset, 0u) << i;
    ASSERT_EQ(e.param, 0u) << i;
    ASSERT_EQ(e.packedSize, 0u) << i;
  }
  // Entries before the cut still list with their sizes; their blocks are gone, so each
  // block value reads as 0, a whole block, and extraction gets the host's zeros.
  for (int i : {0, 1, 99}) {
    ArchiveEntry e = listing.entries[i];
    EXPECT_EQ(e.packedSize, i == 0 ? 2u * 65536 : 65536u) << i;
    HostExtraction x = ExtractStored(HostRead(file, e), &e);
    EXPECT_EQ(x.result, 0) << i;
    EXPECT_EQ(x.contents, Bytes(static_cast<size_t>(e.size), 0)) << i;
  }
  CloseHandle(file);
}

}  // namespace
