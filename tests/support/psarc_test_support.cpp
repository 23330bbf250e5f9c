#include "tests/support/psarc_test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

Bytes PackPsarc(const std::vector<ArchiveInput>& entries, int level) {
  PsarcWriterOptions options;
  options.level = level;
  Bytes out;
  std::string error;
  EXPECT_TRUE(WritePsarc(entries, options, &out, &error)) << error;
  return out;
}

Bytes PackPkg(const std::vector<ArchiveInput>& entries, PkgCompression compression) {
  PkgWriterOptions options;
  options.compression = compression;
  Bytes out;
  std::string error;
  EXPECT_TRUE(WritePkg(entries, options, &out, &error)) << error;
  return out;
}

Bytes NoiseBytes(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b[i] = static_cast<uint8_t>(x >> 11);
  }
  return b;
}

Bytes TextBytes(size_t n) {
  static const char kLine[] = "the quick brown fox jumps over the lazy dog 0123456789\n";
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(kLine[(i * 7 / 5) % (sizeof(kLine) - 1)]);
  return b;
}

PsarcBlock PlainBlock(const Bytes& bytes) {
  EXPECT_LT(bytes.size(), 65536u);
  PsarcBlock b;
  b.value = static_cast<uint32_t>(bytes.size());
  b.bytes = bytes;
  return b;
}

PsarcBlock FullBlock(const Bytes& bytes) {
  EXPECT_EQ(bytes.size(), 65536u);
  PsarcBlock b;
  b.value = 0;
  b.bytes = bytes;
  return b;
}

PsarcBlock ZlibBlock(const Bytes& plain, int level) {
  uLongf n = compressBound(static_cast<uLong>(plain.size()));
  PsarcBlock b;
  b.bytes.resize(n);
  EXPECT_EQ(compress2(b.bytes.data(), &n, plain.data(), static_cast<uLong>(plain.size()), level),
            Z_OK);
  b.bytes.resize(n);
  b.value = static_cast<uint32_t>(n);
  return b;
}

// Noise, whose stream is a little longer than itself, then a run that the stream codes in
// far fewer bytes than it adds: the difference grows by at most one per byte of run, so it
// meets 0.
ExactStream StreamAsLongAsItsPlainBytes() {
  const Bytes noise = NoiseBytes(3000, 21);
  for (size_t run = 0; run < 4000; ++run) {
    Bytes plain = noise;
    plain.resize(noise.size() + run, 'r');
    PsarcBlock b = ZlibBlock(plain, 9);
    if (b.bytes.size() == plain.size()) return {b, plain};
  }
  ADD_FAILURE() << "no stream as long as its plain bytes";
  return {};
}

PsarcLayout LayoutWithManifest(const std::string& manifest) {
  PsarcLayout layout;
  std::vector<PsarcBlock> blocks;
  if (!manifest.empty()) blocks.push_back(PlainBlock(BytesOf(manifest)));
  AppendPsarcEntry(&layout, manifest.size(), blocks);
  return layout;
}

Bytes StoredBytesOf(const Bytes& archive, const ArchiveEntry& entry) {
  Bytes stored(static_cast<size_t>(entry.packedSize), 0);
  for (size_t i = 0; i < stored.size(); ++i) {
    const uint64_t at = entry.offset + i;
    if (at >= archive.size()) break;
    stored[i] = archive[static_cast<size_t>(at)];
  }
  return stored;
}

HostExtraction ExtractPadded(const Bytes& archive, ArchiveEntry* entry) {
  return ExtractStored(StoredBytesOf(archive, *entry), entry);
}

PsarcRoundTrip ListAndExtractAll(const Bytes& archive) {
  PsarcRoundTrip trip;
  trip.listing = ListArchive(archive);
  for (ArchiveEntry& e : trip.listing.entries) {
    if (static_cast<uint32_t>(e.size) > kPsarcTestMaxExtract) {
      trip.contents.push_back(Bytes());
      continue;
    }
    ArchiveEntry copy = e;
    HostExtraction x = ExtractPadded(archive, &copy);
    EXPECT_EQ(x.result, 0) << e.name;
    EXPECT_EQ(x.lockCount, 0u) << e.name;
    EXPECT_EQ(x.blockSize, static_cast<uint32_t>(e.size)) << e.name;
    trip.contents.push_back(x.contents);
  }
  return trip;
}

namespace {

void AddPacked(std::vector<PsarcCorpusCase>* corpus, const std::string& name,
               const std::vector<ArchiveInput>& entries, int level) {
  corpus->push_back({name, PackPsarc(entries, level)});
}

std::vector<PsarcCorpusCase> BuildCorpus() {
  std::vector<PsarcCorpusCase> corpus;
  const std::vector<ArchiveInput> mixed = {
      {"text.txt", TextBytes(200000)},
      {"noise.bin", NoiseBytes(140000, 1)},
      {"empty", {}},
      {"exact.bin", NoiseBytes(65536, 2)},
      {"one-more.bin", NoiseBytes(65537, 3)},
      {"tiny", BytesOf("x")},
  };
  for (int level : {1, 5, 6, 9})
    AddPacked(&corpus, "mixed-level" + std::to_string(level), mixed, level);
  std::vector<ArchiveInput> many;
  for (int i = 0; i < 300; ++i) {
    many.push_back(
        {"dir/file" + std::to_string(i) + ".txt", TextBytes(static_cast<size_t>(i * 37))});
  }
  AddPacked(&corpus, "many-entries", many, 9);

  // Hand-made odd blocks.
  {
    PsarcLayout l = LayoutWithManifest("a\nb\nc\nd");
    Bytes full = TextBytes(65536);
    full[0] = 0x78;
    full[1] = 0xDA;
    AppendPsarcEntry(&l, 65536, {FullBlock(full)});  // stored whole: never inflated
    Bytes plain = NoiseBytes(500, 4);
    plain[0] = 0x78;
    plain[1] = 0x9C;
    AppendPsarcEntry(&l, 500, {PlainBlock(plain)});  // not a zlib stream: copied
    AppendPsarcEntry(&l, 2 * 65536 + 1000,
                     {ZlibBlock(TextBytes(65536), 9), ZlibBlock(TextBytes(30000), 9),
                      ZlibBlock(TextBytes(1000), 6)});  // a middle block inflating short
    Bytes fake = NoiseBytes(700, 5);
    fake[0] = 0x78;
    fake[1] = 0xDA;
    AppendPsarcEntry(&l, 700, {PlainBlock(fake)});  // 0x78 0xDA plain: zlib fails
    corpus.push_back({"odd-blocks", WritePsarcLayout(l)});
  }
  // A truncated 0x78 0xDA block in the middle of an entry.
  {
    PsarcLayout l = LayoutWithManifest("cut");
    PsarcBlock middle = ZlibBlock(NoiseBytes(65536, 6), 9);
    middle.bytes.resize(middle.bytes.size() / 2);
    middle.value = static_cast<uint32_t>(middle.bytes.size());
    AppendPsarcEntry(&l, 3 * 65536,
                     {ZlibBlock(TextBytes(65536), 9), middle, ZlibBlock(TextBytes(65536), 9)});
    corpus.push_back({"truncated-middle", WritePsarcLayout(l)});
  }
  // Plain blocks longer than what is due: cut at the end of the output.
  {
    PsarcLayout l = LayoutWithManifest("long\nfull");
    AppendPsarcEntry(&l, 5, {PlainBlock(NoiseBytes(60000, 7))});
    AppendPsarcEntry(&l, 3, {FullBlock(NoiseBytes(65536, 8))});
    corpus.push_back({"overrunning-blocks", WritePsarcLayout(l)});
  }
  // Block indices at and past the end of the table.
  {
    PsarcLayout l = LayoutWithManifest("past\nhuge");
    size_t i = AppendPsarcEntry(&l, 3 * 65536, {ZlibBlock(TextBytes(65536), 9)});
    l.entries[i].firstBlock = 0;  // covers the manifest's block and what follows
    i = AppendPsarcEntry(&l, 100, {});
    l.entries[i].firstBlock = 0xFFFFFFFFu;
    l.tocLength = 32 + 30 * 3 + 2 * 2;  // no trailing values: the table ends with the data
    corpus.push_back({"indices-past-table", WritePsarcLayout(l)});
  }
  // A table of contents shorter than its entries, and one that ends mid-entry.
  {
    PsarcLayout l = LayoutWithManifest("one\ntwo\nthree");
    AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("111"))});
    AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("222"))});
    AppendPsarcEntry(&l, 3, {PlainBlock(BytesOf("333"))});
    l.tocLength = 30 * 2 + 7;
    corpus.push_back({"toc-short", WritePsarcLayout(l)});
  }
  // A file cut inside the entries' data.
  {
    Bytes a = PackPsarc(mixed, 9);
    a.resize(a.size() - 90000);
    corpus.push_back({"file-cut", a});
  }
  // A manifest whose size is far beyond its block, and an offset past the file.
  {
    PsarcLayout l = LayoutWithManifest("x\ny");
    l.entries[0].size = 300000;
    size_t i = AppendPsarcEntry(&l, 4, {PlainBlock(BytesOf("abcd"))});
    l.entries[i].offset = 0xFFFFFFFF00ull;
    AppendPsarcEntry(&l, 0x100000004ull, {PlainBlock(BytesOf("efgh"))});  // bit 32 set
    corpus.push_back({"sizes-and-offsets", WritePsarcLayout(l)});
  }
  return corpus;
}

}  // namespace

const std::vector<PsarcCorpusCase>& PsarcCorpus() {
  static const std::vector<PsarcCorpusCase> corpus = BuildCorpus();
  return corpus;
}
