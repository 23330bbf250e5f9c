// Peak memory of one extraction, natively. This program defines malloc and its relatives
// over glibc's own entry points, so every byte the process holds on the heap is counted:
// the plug-in's heap and global blocks (the Linux platform layer takes both from calloc)
// and zlib's inflate state and window. Each extraction is measured from the live bytes
// before the call to the highest level reached during it; what lies beyond the block
// handed to the host is the extraction's own overhead.
//
//   varel_bench_peak [--filter=TEXT] [--json=FILE]
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_cases.h"
#include "platform/win32_api.h"

extern "C" {
void* __libc_malloc(size_t n);
void* __libc_calloc(size_t count, size_t n);
void* __libc_realloc(void* p, size_t n);
void* __libc_memalign(size_t alignment, size_t n);
void __libc_free(void* p);
}

namespace {

// Single-threaded program: plain counters suffice.
size_t liveBytes = 0;
size_t peakBytes = 0;

void* Counted(void* p) {
  if (p != nullptr) {
    liveBytes += malloc_usable_size(p);
    if (liveBytes > peakBytes) peakBytes = liveBytes;
  }
  return p;
}

void Uncount(void* p) {
  if (p != nullptr) liveBytes -= malloc_usable_size(p);
}

}  // namespace

extern "C" {
void* malloc(size_t n) { return Counted(__libc_malloc(n)); }
void* calloc(size_t count, size_t n) { return Counted(__libc_calloc(count, n)); }
void* realloc(void* p, size_t n) {
  const size_t before = p != nullptr ? malloc_usable_size(p) : 0;
  void* q = __libc_realloc(p, n);
  if (q == nullptr) return nullptr;  // p is untouched
  liveBytes -= before;
  return Counted(q);
}
void* memalign(size_t alignment, size_t n) { return Counted(__libc_memalign(alignment, n)); }
void* aligned_alloc(size_t alignment, size_t n) { return memalign(alignment, n); }
int posix_memalign(void** out, size_t alignment, size_t n) {
  void* p = memalign(alignment, n);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
void free(void* p) {
  Uncount(p);
  __libc_free(p);
}
}

namespace {

// One extraction, from the live bytes before the call to the highest level during it.
void Measure(const std::string& name, uint64_t size, const BenchEntry& x, FILE* json) {
  ArchiveEntry entry = x.record;
  HGLOBAL block = nullptr;
  const size_t before = liveBytes;
  peakBytes = liveBytes;
  const int32_t result = BenchPlugin().GetFile(0, x.stored.data(), &entry, &block);
  const size_t peak = peakBytes - before;
  const size_t blockBytes = GlobalSize(block);
  void* data = GlobalLock(block);
  // The block as the heap holds it: its usable size, rounded up as the allocator rounds.
  const size_t held = data != nullptr ? malloc_usable_size(data) : 0;
  (void)GlobalUnlock(block);
  (void)GlobalFree(block);
  const double beyondKiB = (static_cast<double>(peak) - static_cast<double>(held)) / 1024.0;
  std::printf("%-32s %12llu %12llu %12llu %14.1f%s\n", name.c_str(),
              static_cast<unsigned long long>(size), static_cast<unsigned long long>(blockBytes),
              static_cast<unsigned long long>(peak), beyondKiB,
              result == kResultOk ? "" : "  (extraction failed)");
  if (json != nullptr) {
    std::fprintf(json,
                 "{\"kind\":\"peak\",\"case\":\"%s\",\"size\":%llu,\"block\":%llu,"
                 "\"held\":%llu,\"peak\":%llu,\"result\":%d}\n",
                 name.c_str(), static_cast<unsigned long long>(size),
                 static_cast<unsigned long long>(blockBytes), static_cast<unsigned long long>(held),
                 static_cast<unsigned long long>(peak), static_cast<int>(result));
  }
}

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  std::string jsonPath;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--filter=", 9) == 0) {
      options.filter = argv[i] + 9;
    } else if (std::strncmp(argv[i], "--json=", 7) == 0) {
      jsonPath = argv[i] + 7;
    } else {
      std::fprintf(stderr, "varel_bench_peak: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  FILE* json = jsonPath.empty() ? nullptr : std::fopen(jsonPath.c_str(), "w");
  const std::vector<BenchCase> cases = BuildBenchCases(options);
  std::printf("%-32s %12s %12s %12s %14s\n", "case", "entry bytes", "block bytes", "peak bytes",
              "beyond KiB");
  for (const BenchCase& c : cases) {
    if (c.extraction != nullptr) Measure(CaseName(c), c.size, *c.extraction, json);
  }
  if (json != nullptr) std::fclose(json);
  return 0;
}
