// Allocation-failure injection: for listings and extractions of archives of several
// shapes, the k-th allocation of the call is made to fail, for k = 1, 2, ... until the call
// no longer reaches a k-th allocation. Every call that meets a failure returns 1 (a listing
// may return 0 when the failed allocation was the manifest text, which it can do without),
// stores nothing through its out-arguments, leaves the entry record as it was and leaves
// no block behind; no exception leaves the plug-in.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform_testing.h"
#include "plugin/plugin.h"
#include "tests/support/test_support.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

#if defined(VAREL_HAVE_PLATFORM_SEAM)

namespace {

HGLOBAL const kUntouched = reinterpret_cast<HGLOBAL>(static_cast<intptr_t>(0x5A5A5A5A));

struct LiveBlocks {
  int32_t heap;
  int32_t global;
  static LiveBlocks Now() { return {PlatformLiveHeapBlocks(), PlatformLiveGlobalBlocks()}; }
  bool operator==(const LiveBlocks& o) const { return heap == o.heap && global == o.global; }
};

std::ostream& operator<<(std::ostream& os, const LiveBlocks& b) {
  return os << "{heap " << b.heap << ", global " << b.global << "}";
}

// One run of a call with its k-th allocation failing. Arm() right before the plug-in call,
// Done() right after it: met then says whether the call reached its k-th allocation.
struct Injection {
  uint32_t k;
  uint32_t start = 0;
  bool met = false;
  void Arm() {
    start = PlatformAllocationCount();
    PlatformFailAllocation(k);
  }
  void Done() {
    met = PlatformAllocationCount() - start >= k;
    PlatformFailAllocation(0);
  }
};

// Runs call for k = 1, 2, ... until a run no longer reaches its k-th allocation; returns
// how many runs met a failure.
uint32_t ForEachFailure(const std::function<void(Injection&)>& call) {
  for (uint32_t k = 1; k < 10000; ++k) {
    Injection injection{k};
    call(injection);
    PlatformFailAllocation(0);
    if (!injection.met) return k - 1;
  }
  ADD_FAILURE() << "the call never stopped allocating";
  return 0;
}

Bytes Pattern(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>((x >> 16) & 0x3F);  // compressible, not trivially so
  }
  return b;
}

struct Shape {
  std::string name;
  Bytes archive;
};

std::vector<Shape> PsarcShapes() {
  std::vector<Shape> shapes;
  auto add = [&](const std::string& name, const std::vector<ArchiveInput>& inputs,
                 const PsarcWriterOptions& options = PsarcWriterOptions()) {
    Shape s;
    s.name = name;
    std::string error;
    if (!WritePsarc(inputs, options, &s.archive, &error)) {
      ADD_FAILURE() << name << ": " << error;
    }
    shapes.push_back(s);
  };
  add("one entry", {{"a.txt", BytesOf("alpha")}});
  add("mixed", {{"a.txt", BytesOf("alpha")},
                {"empty.bin", {}},
                {"noise.bin", Pattern(3000, 7)},
                {"dir/b.txt", Bytes(600, 'b')}});
  add("multi-block", {{"big.bin", Pattern(3 * 65536 + 1000, 3)}, {"z.bin", Bytes(70000, 0)}});
  // Names enough for the manifest to deflate, so the listing needs the fast decompressor.
  std::vector<ArchiveInput> many;
  for (int i = 0; i < 40; ++i) many.push_back({"textures/level-" + std::to_string(i) + ".dds", {}});
  add("deflated manifest", many);
  // Names found by digest: the listing sorts the entries' digests in a block of its own.
  PsarcWriterOptions later;
  later.tocByDigest = true;
  later.zeroSeparated = true;
  later.upperCaseDigests = true;
  add("later layout", many, later);
  return shapes;
}

std::vector<Shape> PkgShapes() {
  std::vector<Shape> shapes;
  auto add = [&](const std::string& name, const std::vector<ArchiveInput>& inputs,
                 PkgCompression compression) {
    Shape s;
    s.name = name;
    PkgWriterOptions options;
    options.compression = compression;
    std::string error;
    if (!WritePkg(inputs, options, &s.archive, &error)) ADD_FAILURE() << name << ": " << error;
    shapes.push_back(s);
  };
  add("stored", {{"a.txt", BytesOf("alpha")}}, PkgCompression::kNever);
  add("mixed",
      {{"a.txt", BytesOf("alpha")}, {"run.bin", Bytes(5000, 'r')}, {"noise.bin", Pattern(2000, 5)}},
      PkgCompression::kAuto);
  add("all coded", {{"empty.bin", {}}, {"run.bin", Bytes(300, 'q')}}, PkgCompression::kAlways);
  return shapes;
}

// The stored bytes a host hands in for an entry: packedSize bytes read at offset.
Bytes StoredBytes(const Bytes& archive, const ArchiveEntry& e) {
  Bytes stored(static_cast<size_t>(e.packedSize), 0);
  if (e.offset < archive.size()) {
    const uint64_t n = std::min<uint64_t>(e.packedSize, archive.size() - e.offset);
    if (n != 0) std::memcpy(stored.data(), archive.data() + e.offset, static_cast<size_t>(n));
  }
  return stored;
}

// Whether a handed-over record block names its entries as the reference does.
bool SameNames(HGLOBAL block, const std::vector<ArchiveEntry>& reference) {
  const auto* p = static_cast<const ArchiveEntry*>(GlobalLock(block));
  bool same = p != nullptr;
  for (size_t i = 0; same && i < reference.size(); ++i) {
    same = std::memcmp(p[i].name, reference[i].name, sizeof(p[i].name)) == 0;
  }
  if (p != nullptr) GlobalUnlock(block);
  return same;
}

// A successful listing without failures, on a plug-in object of the test's own.
std::vector<ArchiveEntry> ListOnce(CPluginArchivePSX& plugin, const ArchiveSource* source) {
  const HostListing listing = ListArchive(plugin, source);
  EXPECT_EQ(listing.result, kResultOk);
  return listing.entries;
}

// Archives whose block tables differ from each other's and from every shape's: i + 5
// entries, so each has a count of its own.
Bytes PrefillArchive(int i) {
  std::vector<ArchiveInput> inputs;
  for (int e = 0; e < i + 5; ++e) inputs.push_back({"p" + std::to_string(e), Bytes(10, 'p')});
  Bytes archive;
  std::string error;
  EXPECT_TRUE(WritePsarc(inputs, PsarcWriterOptions(), &archive, &error)) << error;
  return archive;
}

// Listing with each allocation failing in turn. `prefill` listings of other archives run
// first on the same object without failures, so that the registry stands at a chosen
// size; with `listedBefore` the shape itself was listed once before, so that the listing
// shares the table registered then.
bool CheckListing(const Shape& shape, int prefill, bool mayDoWithout, bool listedBefore = false) {
  CArchiveFile file(shape.archive);
  std::vector<std::unique_ptr<CArchiveFile>> others;
  for (int i = 0; i < prefill; ++i) others.emplace_back(new CArchiveFile(PrefillArchive(i)));
  const LiveBlocks outside = LiveBlocks::Now();
  uint32_t doneWithout = 0;
  uint32_t namesKept = 0;
  std::vector<ArchiveEntry> reference;
  {
    CPluginArchivePSX plugin;
    reference = ListOnce(plugin, file.source());
  }
  // The manifest is entry 0; a deflated one begins with a zlib header.
  const bool manifestDeflated = mayDoWithout && !reference.empty() &&
                                reference[0].offset < shape.archive.size() &&
                                shape.archive[static_cast<size_t>(reference[0].offset)] == 0x78;
  const uint32_t failures = ForEachFailure([&](Injection& in) {
    const uint32_t k = in.k;
    {
      CPluginArchivePSX plugin;
      for (int i = 0; i < prefill; ++i) ListOnce(plugin, others[static_cast<size_t>(i)]->source());
      // The registry's storage is full, so this listing grows it.
      if (prefill > 0) {
        EXPECT_EQ(plugin.registry().size(), static_cast<size_t>(prefill));
        EXPECT_EQ(plugin.registry().size(), plugin.registry().capacity());
      }
      if (listedBefore) ListOnce(plugin, file.source());
      const size_t tables = plugin.registry().size();
      const LiveBlocks before = LiveBlocks::Now();
      HGLOBAL block = kUntouched;
      int32_t count = -1;
      in.Arm();
      const int32_t result = plugin.GetArchiveInfo(file.source(), &block, &count);
      in.Done();
      if (result == kResultOk) {
        // Either no failure was met, or the call went on without the failed allocation:
        // every record is there, handed over unlocked; only the manifest names may be
        // missing.
        EXPECT_NE(block, kUntouched) << shape.name << ", k " << k;
        EXPECT_EQ(count, static_cast<int32_t>(reference.size())) << shape.name << ", k " << k;
        if (block != kUntouched) {
          EXPECT_EQ(LockCount(block), 0u) << shape.name << ", k " << k;
          if (in.met && SameNames(block, reference)) ++namesKept;
          GlobalFree(block);
        }
        if (in.met) ++doneWithout;
        if (listedBefore) {
          EXPECT_EQ(plugin.registry().size(), tables) << shape.name << ", k " << k << ": shared";
        }
      } else {
        EXPECT_EQ(result, kResultNoMemory) << shape.name << ", k " << k;
        EXPECT_EQ(block, kUntouched) << shape.name << ", k " << k;
        EXPECT_EQ(count, 0) << shape.name << ", k " << k;
        EXPECT_EQ(plugin.registry().size(), tables) << shape.name << ", k " << k;
        EXPECT_EQ(LiveBlocks::Now(), before) << shape.name << ", k " << k;
      }
    }
    EXPECT_EQ(LiveBlocks::Now(), outside) << shape.name << ", k " << k;
  });
  EXPECT_GT(failures, 0u) << shape.name;
  if (!mayDoWithout) {
    EXPECT_EQ(doneWithout, 0u) << shape.name;
  }
  // At most the manifest text and what decoding it takes (its scratch buffer and the fast
  // decompressor) can be done without.
  EXPECT_LE(doneWithout, 3u) << shape.name;
  // Without the fast decompressor zlib decodes the manifest alone, to the same names; every
  // other failure done without loses them.
  EXPECT_EQ(namesKept, manifestDeflated ? 1u : 0u) << shape.name;
  return manifestDeflated;
}

// The contents of one extraction without failures; empty when it fails.
Bytes ExtractOnce(CPluginArchivePSX& plugin, const uint8_t* stored, ArchiveEntry entry) {
  HGLOBAL contents = nullptr;
  if (plugin.GetFile(0, stored, &entry, &contents) != kResultOk) return Bytes();
  Bytes out(GlobalSize(contents));
  if (!out.empty()) {
    std::memcpy(out.data(), GlobalLock(contents), out.size());
    GlobalUnlock(contents);
  }
  GlobalFree(contents);
  return out;
}

// Extraction of every entry with each allocation failing in turn. Every failure gives 1
// with nothing stored and nothing kept, except the fast decompressor's, which the walk does
// without: the same contents come from zlib alone. Entries of the writer's archives ask
// for the host's block and, when a block is deflated, the decompressor after it: so every
// failure but the first is done without. Returns how many entries asked for the
// decompressor.
uint32_t CheckExtraction(const Shape& shape) {
  uint32_t withDecompressor = 0;
  CArchiveFile file(shape.archive);
  CPluginArchivePSX plugin;
  const std::vector<ArchiveEntry> records = ListOnce(plugin, file.source());
  EXPECT_FALSE(records.empty()) << shape.name;
  for (size_t i = 0; i < records.size(); ++i) {
    const Bytes stored = StoredBytes(shape.archive, records[i]);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[stored.size() + 1]);
    if (!stored.empty()) std::memcpy(exact.get(), stored.data(), stored.size());
    const Bytes expected = ExtractOnce(plugin, exact.get(), records[i]);
    const LiveBlocks before = LiveBlocks::Now();
    uint32_t doneWithout = 0;
    const uint32_t failures = ForEachFailure([&](Injection& in) {
      const uint32_t k = in.k;
      ArchiveEntry entry = records[i];
      HGLOBAL contents = kUntouched;
      in.Arm();
      const int32_t result = plugin.GetFile(0, exact.get(), &entry, &contents);
      in.Done();
      if (result == kResultOk) {
        EXPECT_NE(contents, kUntouched);
        if (contents == kUntouched) return;
        if (in.met) {
          ++doneWithout;
          Bytes got(GlobalSize(contents));
          if (!got.empty()) std::memcpy(got.data(), GlobalLock(contents), got.size());
          GlobalUnlock(contents);
          EXPECT_EQ(got, expected) << shape.name << " entry " << i << ", k " << k;
        }
        GlobalFree(contents);
        EXPECT_EQ(LiveBlocks::Now(), before) << shape.name << " entry " << i << ", k " << k;
        return;
      }
      EXPECT_EQ(result, kResultNoMemory) << shape.name << " entry " << i << ", k " << k;
      EXPECT_EQ(contents, kUntouched) << shape.name << " entry " << i << ", k " << k;
      EXPECT_EQ(std::memcmp(&entry, &records[i], sizeof(entry)), 0)
          << shape.name << " entry " << i << ", k " << k;
      EXPECT_EQ(LiveBlocks::Now(), before) << shape.name << " entry " << i << ", k " << k;
    });
    EXPECT_GT(failures, 0u) << shape.name << " entry " << i;
    EXPECT_LE(failures, 2u) << shape.name << " entry " << i;
    EXPECT_EQ(doneWithout, failures - 1) << shape.name << " entry " << i;
    EXPECT_EQ(LiveBlocks::Now(), before) << shape.name << " entry " << i;
    if (failures == 2) ++withDecompressor;
  }
  return withDecompressor;
}

TEST(AllocFailure, PsarcListing) {
  bool deflated = false;
  for (const Shape& s : PsarcShapes()) deflated = CheckListing(s, 0, true) || deflated;
  EXPECT_TRUE(deflated) << "no manifest reached the fast decompressor";
}

TEST(AllocFailure, PsarcListingWhileTheRegistryGrows) {
  // With 1, 2 and 4 tables the registry's storage is full, so the next listing grows it.
  const Shape shape = PsarcShapes()[1];
  for (int prefill : {1, 2, 4}) CheckListing(shape, prefill, true);
}

TEST(AllocFailure, PsarcListingThatSharesARegisteredTable) {
  // The table is built, found registered and released again; nothing is registered.
  for (const Shape& s : PsarcShapes()) CheckListing(s, 0, true, true);
}

TEST(AllocFailure, PkgListing) {
  for (const Shape& s : PkgShapes()) CheckListing(s, 0, false);
}

TEST(AllocFailure, PsarcExtraction) {
  uint32_t withDecompressor = 0;
  for (const Shape& s : PsarcShapes()) withDecompressor += CheckExtraction(s);
  EXPECT_GT(withDecompressor, 0u) << "no entry reached the fast decompressor";
}

TEST(AllocFailure, PkgExtraction) {
  for (const Shape& s : PkgShapes()) EXPECT_EQ(CheckExtraction(s), 0u) << s.name;
}

// Sizes whose blocks cannot exist: the work buffer of size + 10 bytes, the LZ block of
// L + 256 and the plain copy of L are sized in 64 bits, so none wraps to a small block that
// the copy of L bytes would then overrun. Each extraction fails cleanly.
TEST(AllocFailure, SizesNearFourGiBAreRefusedNotWrapped) {
  struct Case {
    int32_t type;
    uint32_t param;
    uint32_t size;
  } cases[] = {
      {kTypePsarc, 0, 0x80000000u}, {kTypePsarc, 0, 0xFFFFFFF5u}, {kTypePsarc, 0, 0xFFFFFFF6u},
      {kTypePsarc, 0, 0xFFFFFFFFu}, {kTypePkg, 1, 0x7FFFFFFFu},   {kTypePkg, 1, 0xFFFFFF00u},
      {kTypePkg, 1, 0xFFFFFFFFu},   {kTypePkg, 0, 0x80000000u},   {kTypePkg, 0, 0xFFFFFFFFu},
  };
  BlockTable table;
  table.blockSize = 65536;
  ASSERT_NE(table.storedSizes.Alloc(1, 1), nullptr);  // one value: a full block
  uint8_t stored[16] = {0};
  for (const Case& c : cases) {
    ArchiveEntry entry = MakeRecord(c.type, c.param, c.size, sizeof(stored));
    entry.blockTable = c.type == kTypePsarc ? &table : nullptr;
    const ArchiveEntry before = entry;
    const LiveBlocks blocks = LiveBlocks::Now();
    CPluginArchivePSX plugin;
    HGLOBAL contents = kUntouched;
    EXPECT_EQ(plugin.GetFile(0, stored, &entry, &contents), kResultNoMemory)
        << "type " << c.type << ", size " << c.size;
    EXPECT_EQ(contents, kUntouched);
    EXPECT_EQ(std::memcmp(&entry, &before, sizeof(entry)), 0);
    EXPECT_EQ(LiveBlocks::Now(), blocks);
  }
}

// The same through the real module's exports: a call that fails leaves nothing behind.
TEST(AllocFailure, ThroughTheExports) {
  std::vector<Shape> shapes = PsarcShapes();
  for (const Shape& s : PkgShapes()) shapes.push_back(s);
  for (const Shape& shape : shapes) {
    CArchiveFile file(shape.archive);
    ForEachFailure([&](Injection& in) {
      const uint32_t k = in.k;
      const LiveBlocks before = LiveBlocks::Now();
      HGLOBAL block = kUntouched;
      int32_t count = -1;
      in.Arm();
      const int32_t result = Plugin().GetArchiveInfo(file.source(), &block, &count);
      in.Done();
      if (result == kResultOk) {
        if (block != kUntouched) GlobalFree(block);
        return;
      }
      EXPECT_TRUE(in.met);
      EXPECT_EQ(result, kResultNoMemory) << shape.name << ", k " << k;
      EXPECT_EQ(block, kUntouched) << shape.name << ", k " << k;
      EXPECT_EQ(count, 0) << shape.name << ", k " << k;
      EXPECT_EQ(LiveBlocks::Now(), before) << shape.name << ", k " << k;
    });
  }
}

}  // namespace

#endif
