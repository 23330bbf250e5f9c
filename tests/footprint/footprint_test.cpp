// What a long-running host keeps of the module's memory: the process's committed memory
// after listing one archive many times, and after listing a tiny file whose header
// declares a huge table, each through the real module's exports.
//
// Committed memory: on Windows the private pages that are committed, by a walk of the
// address space with VirtualQuery (Wine leaves PrivateUsage of GetProcessMemoryInfo
// unset, and PagefileUsage counts only the pages touched, so a table of zeros that nobody
// wrote would not show in it). Natively, the bytes the C heap has handed out.
//
// The sizes come from the environment, so that CI runs a smaller figure than the full one:
//   VAREL_FOOTPRINT_ENTRIES   entries of the archive listed again and again (10,000)
//   VAREL_FOOTPRINT_LISTINGS  listings of it (1,000)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/psarc_test_support.h"

#if defined(_WIN32)
#include <psapi.h>
#else
#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's own count of the bytes its heap has handed out.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif
#endif

namespace {

uint64_t FromEnvironment(const char* name, uint64_t otherwise) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == 0) return otherwise;
  return std::strtoull(v, nullptr, 10);
}

uint64_t CommittedBytes() {
#if defined(_WIN32)
  uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region;
  const char* at = nullptr;
  while (VirtualQuery(at, &region, sizeof(region)) == sizeof(region)) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;  // the top of the address space
    at = next;
  }
  return total;
#elif defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

// Pages the process touched, where the system says (Windows only).
uint64_t TouchedBytes() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters;
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return counters.PagefileUsage;
#else
  return 0;
#endif
}

std::string Mib(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f MiB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

// An archive of n entries as a large game archive lays one out: entry i covers 1 to 16
// blocks (about 8.5 on average, so n = 100,000 gives a table of about 850,000 values, 3.4
// MB), and the manifest names every entry. Only the table and the manifest are in the
// file: the entries' blocks would lie past its end, where no listing reads.
Bytes ListingArchive(uint32_t n, uint32_t* values) {
  PsarcLayout l;
  std::string manifest;
  for (uint32_t i = 1; i < n; ++i) {
    manifest += "assets/part" + std::to_string(i / 100) + "/item_" + std::to_string(i) + ".dat";
    if (i + 1 < n) manifest += "\n";
  }
  std::vector<PsarcBlock> blocks;
  for (size_t at = 0; at < manifest.size(); at += 65536) {
    const size_t length = std::min<size_t>(65536, manifest.size() - at);
    const Bytes part(manifest.begin() + static_cast<ptrdiff_t>(at),
                     manifest.begin() + static_cast<ptrdiff_t>(at + length));
    blocks.push_back(length == 65536 ? FullBlock(part) : PlainBlock(part));
  }
  AppendPsarcEntry(&l, manifest.size(), blocks);
  for (uint32_t i = 1; i < n; ++i) {
    PsarcLayoutEntry e;
    e.firstBlock = static_cast<uint32_t>(l.blockValues.size());
    const uint32_t covered = 1 + i % 16;
    e.size = uint64_t{covered} * 65536 - 1000;
    e.offset = uint64_t{1} << 38;
    for (uint32_t k = 0; k < covered; ++k) l.blockValues.push_back(20000 + (i * 7 + k) % 40000);
    l.entries.push_back(e);
  }
  *values = static_cast<uint32_t>(l.blockValues.size());
  return WritePsarcLayout(l);
}

// A listing as a host makes one, the record array freed at once.
void ListAndFree(const ArchiveSource* source, int32_t expectedCount) {
  HGLOBAL block = nullptr;
  int32_t count = -1;
  ASSERT_EQ(Plugin().GetArchiveInfo(source, &block, &count), 0);
  ASSERT_EQ(count, expectedCount);
  ASSERT_NE(block, nullptr);
  GlobalFree(block);
}

TEST(Footprint, ListingTheSameArchiveAgainKeepsNoMoreThanOneTable) {
  const uint32_t entries = static_cast<uint32_t>(FromEnvironment("VAREL_FOOTPRINT_ENTRIES", 10000));
  const uint64_t listings = FromEnvironment("VAREL_FOOTPRINT_LISTINGS", 1000);
  uint32_t values = 0;
  CArchiveFile file(ListingArchive(entries, &values));
  // What a whole table would hold: its record and four bytes per value.
  const uint64_t tableBytes = uint64_t{values} * 4 + 64;

  // The first listing makes whatever the process makes once (the module's first table,
  // the heap's first large blocks); every later one should add nothing.
  ListAndFree(file.source(), static_cast<int32_t>(entries));
  const uint64_t one = CommittedBytes();
  const uint64_t oneTouched = TouchedBytes();
  for (uint64_t i = 1; i < listings && !HasFatalFailure(); ++i) {
    ListAndFree(file.source(), static_cast<int32_t>(entries));
  }
  const uint64_t after = CommittedBytes();
  const int64_t grown = static_cast<int64_t>(after) - static_cast<int64_t>(one);
  std::printf(
      "footprint: %u entries, %u block values (a table of %s), %llu listings: committed "
      "%s after one listing, %s after all (%+lld bytes); touched %s, then %s\n",
      entries, values, Mib(static_cast<int64_t>(tableBytes)).c_str(),
      static_cast<unsigned long long>(listings), Mib(static_cast<int64_t>(one)).c_str(),
      Mib(static_cast<int64_t>(after)).c_str(), static_cast<long long>(grown),
      Mib(static_cast<int64_t>(oneTouched)).c_str(),
      Mib(static_cast<int64_t>(TouchedBytes())).c_str());
  EXPECT_LE(grown, static_cast<int64_t>(2 * tableBytes)) << "more than two tables were kept";
}

TEST(Footprint, TinyFileThatDeclaresAHugeTablePinsAlmostNothing) {
  // Two entries, then a tocLength of 256 MiB: a whole table would be 128 Mi values, 512
  // MiB, all of them zeros the file never delivered.
  PsarcLayout l = LayoutWithManifest("a");
  AppendPsarcEntry(&l, 1, {PlainBlock(BytesOf("b"))});
  l.tocLength = 256u << 20;
  const Bytes hostile = WritePsarcLayout(l);
  ASSERT_LT(hostile.size(), 128u);
  CArchiveFile file(hostile);

  // A listing of another archive first, so that the module and the heap have made what
  // they make once.
  CArchiveFile warm(PackPsarc({{"w", BytesOf("warm")}}));
  ListAndFree(warm.source(), 2);
  const uint64_t before = CommittedBytes();
  HGLOBAL block = nullptr;
  int32_t count = -1;
  // The region buffer of tocLength bytes must be had for the listing to go on at all; a
  // 32-bit process normally has 256 MiB in one piece.
  ASSERT_EQ(Plugin().GetArchiveInfo(file.source(), &block, &count), 0);
  ASSERT_EQ(count, 2);
  GlobalFree(block);
  const uint64_t after = CommittedBytes();
  const int64_t pinned = static_cast<int64_t>(after) - static_cast<int64_t>(before);
  std::printf(
      "footprint: a %u-byte file declaring tocLength %u: %lld bytes kept after its "
      "records were freed\n",
      static_cast<unsigned>(hostile.size()), 256u << 20, static_cast<long long>(pinned));
  EXPECT_LE(pinned, 64 << 10);
}

}  // namespace
