#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>

#include "plugin/plugin.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VAREL_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VAREL_FUZZ_ASAN 1
#endif
#if defined(VAREL_FUZZ_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace {

size_t PageSize() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

}  // namespace

CGuardedBytes::CGuardedBytes(const uint8_t* bytes, size_t n) {
  Map(n);
  if (n != 0) std::memcpy(data_, bytes, n);
}

CGuardedBytes::CGuardedBytes(size_t n) {
  Map(n);
  std::memset(data_, 0, n);
}

namespace {

// Mappings are kept for the next inputs: setting one up and tearing it down for every
// buffer of every input (mmap, mprotect, munmap, and the page faults of fresh memory)
// cost more than the plug-in's work. A kept mapping still ends in its inaccessible page.
struct GuardedMapping {
  uint8_t* base;
  size_t body;  // bytes before the inaccessible page
};
constexpr size_t kKeptMappings = 8;
GuardedMapping keptMappings[kKeptMappings];
size_t keptCount = 0;

}  // namespace

void CGuardedBytes::Map(size_t n) {
  const size_t page = PageSize();
  // The smallest kept mapping that holds n bytes, else a new one rounded up to a power of
  // two pages, so that the next inputs' buffers of about the same size fit it.
  size_t best = keptCount;
  for (size_t i = 0; i < keptCount; ++i) {
    if (keptMappings[i].body >= n &&
        (best == keptCount || keptMappings[i].body < keptMappings[best].body)) {
      best = i;
    }
  }
  size_t body;
  if (best != keptCount) {
    base_ = keptMappings[best].base;
    body = keptMappings[best].body;
    keptMappings[best] = keptMappings[--keptCount];
  } else {
    body = page;
    while (body < n) body *= 2;
    void* p =
        mmap(nullptr, body + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    FUZZ_CHECK(p != MAP_FAILED);
    base_ = static_cast<uint8_t*>(p);
    FUZZ_CHECK(mprotect(base_ + body, page, PROT_NONE) == 0);
  }
  mapped_ = body + page;
  head_ = body - n;
  data_ = base_ + head_;
  size_ = n;
#if defined(VAREL_FUZZ_ASAN)
  ASAN_POISON_MEMORY_REGION(base_, head_);
#endif
}

CGuardedBytes::~CGuardedBytes() {
#if defined(VAREL_FUZZ_ASAN)
  ASAN_UNPOISON_MEMORY_REGION(base_, head_);
#endif
  GuardedMapping mine{base_, mapped_ - PageSize()};
  if (keptCount < kKeptMappings) {
    keptMappings[keptCount++] = mine;
    return;
  }
  // All places taken: keep the larger of this one and the smallest kept, unmap the other.
  size_t smallest = 0;
  for (size_t i = 1; i < keptCount; ++i) {
    if (keptMappings[i].body < keptMappings[smallest].body) smallest = i;
  }
  if (keptMappings[smallest].body < mine.body) std::swap(keptMappings[smallest], mine);
  munmap(mine.base, mine.body + PageSize());
}

CFuzzFile::CFuzzFile() {
  const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
  if (folder == nullptr || *folder == 0) folder = "/tmp";
  const std::string path =
      std::string(folder) + "/varel-fuzz-" + std::to_string(static_cast<long>(getpid()));
  writer_ = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(writer_ >= 0);
  handle_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  FUZZ_CHECK(handle_ != INVALID_HANDLE_VALUE);
  unlink(path.c_str());  // both descriptors keep the file alive; nothing is left behind
}

CFuzzFile::~CFuzzFile() {
  CloseHandle(handle_);
  close(writer_);
}

void CFuzzFile::Write(const uint8_t* bytes, size_t n, uint64_t length) {
  size_t done = 0;
  while (done < n) {
    const ssize_t got = pwrite(writer_, bytes + done, n - done, static_cast<off_t>(done));
    FUZZ_CHECK(got > 0);
    done += static_cast<size_t>(got);
  }
  // Cut after the bytes written, so that nothing of a longer earlier input is left, then
  // extended with zeros. The pages of the bytes written stay allocated from input to input.
  FUZZ_CHECK(ftruncate64(writer_, static_cast<off64_t>(n)) == 0);
  if (length > n) FUZZ_CHECK(ftruncate64(writer_, static_cast<off64_t>(length)) == 0);
}

uint32_t FuzzLe16(const uint8_t* data, size_t size, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 2; ++i) v |= (at + i < size ? uint32_t{data[at + i]} : 0u) << (8 * i);
  return v;
}

uint32_t FuzzLe32(const uint8_t* data, size_t size, size_t at) {
  return FuzzLe16(data, size, at) | (FuzzLe16(data, size, at + 2) << 16);
}

HGLOBAL FuzzGetFile(CPluginArchivePSX& plugin, const uint8_t* stored, ArchiveEntry* entry) {
  const ArchiveEntry before = *entry;
  HGLOBAL contents = kFuzzUntouched;
  const int32_t result = plugin.GetFile(0, stored, entry, &contents);
  FUZZ_CHECK(result == kResultOk || result == kResultNoMemory);
  if (result != kResultOk) {
    FUZZ_CHECK(contents == kFuzzUntouched);
    FUZZ_CHECK(std::memcmp(&before, entry, sizeof(before)) == 0);
    return nullptr;
  }
  FUZZ_CHECK(contents != kFuzzUntouched && contents != nullptr);
  FUZZ_CHECK((GlobalFlags(contents) & GMEM_LOCKCOUNT) == 0);
  return contents;
}
