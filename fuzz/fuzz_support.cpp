#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

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

CGuardedBytes::CGuardedBytes(size_t n) { Map(n); }

void CGuardedBytes::Map(size_t n) {
  const size_t page = PageSize();
  const size_t body = (n + page - 1) / page * page;
  mapped_ = body + page;
  void* p = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  FUZZ_CHECK(p != MAP_FAILED);
  base_ = static_cast<uint8_t*>(p);
  FUZZ_CHECK(mprotect(base_ + body, page, PROT_NONE) == 0);
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
  munmap(base_, mapped_);
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

void CFuzzFile::Write(const uint8_t* bytes, size_t n) {
  FUZZ_CHECK(ftruncate(writer_, 0) == 0);
  size_t done = 0;
  while (done < n) {
    const ssize_t got = pwrite(writer_, bytes + done, n - done, static_cast<off_t>(done));
    FUZZ_CHECK(got > 0);
    done += static_cast<size_t>(got);
  }
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
