#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#if !defined(_WIN32)
#include <dirent.h>
#include <unistd.h>
#endif

#if !defined(_WIN32)
// Under AddressSanitizer a request the heap cannot meet must come back as NULL, as it does
// from any heap, so that the plug-in's result-1 paths are tested rather than aborted.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
#endif

const PluginExports& Plugin() {
  static CPluginModule* module = [] {
    auto* m = new CPluginModule();
    if (!m->Load(DefaultPluginPath())) {
      std::fprintf(stderr, "%s\n", m->error().c_str());
      std::abort();
    }
    return m;
  }();
  return module->exports();
}

namespace {

std::string TempFolder() {
#if defined(_WIN32)
  char buffer[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof(buffer), buffer);
  return std::string(buffer, n);
#else
  const char* t = std::getenv("TMPDIR");
  return std::string(t != nullptr && *t != 0 ? t : "/tmp") + "/";
#endif
}

int ProcessId() {
#if defined(_WIN32)
  return static_cast<int>(GetCurrentProcessId());
#else
  return static_cast<int>(getpid());
#endif
}

}  // namespace

CTempPath::CTempPath(const std::string& suffix) {
  static std::atomic<int> counter{0};
  path_ = TempFolder() + "varel-test-" + std::to_string(ProcessId()) + "-" +
          std::to_string(counter++) + suffix;
}

CTempPath::~CTempPath() { std::remove(path_.c_str()); }

CArchiveFile::CArchiveFile(const Bytes& contents)
    : contents_(contents), header_(contents), handle_(INVALID_HANDLE_VALUE), source_() {
  if (header_.size() < kHostHeaderBytes) header_.resize(kHostHeaderBytes, 0);
  FILE* f = std::fopen(path_.path().c_str(), "wb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot write " << path_.path();
    return;
  }
  if (!contents.empty()) std::fwrite(contents.data(), 1, contents.size(), f);
  std::fclose(f);
  handle_ = Open(GENERIC_READ);
  source_.file = handle_;
  source_.header = header_.data();
}

CArchiveFile::~CArchiveFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

HANDLE CArchiveFile::Open(DWORD access) const {
  HANDLE h = CreateFileA(path_.path().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "cannot open " << path_.path();
  return h;
}

Bytes CArchiveFile::OnDisk() const {
  Bytes out;
  FILE* f = std::fopen(path_.path().c_str(), "rb");
  if (f == nullptr) return out;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) out.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  return out;
}

unsigned LockCount(HGLOBAL block) { return GlobalFlags(block) & GMEM_LOCKCOUNT; }

HostListing ListArchive(const ArchiveSource* source) {
  return ListArchiveWith(Plugin().GetArchiveInfo, source);
}

HostListing ListArchiveWith(const GetArchiveInfoFn& getArchiveInfo, const ArchiveSource* source) {
  HostListing listing;
  HGLOBAL block = nullptr;
  int32_t count = -1;
  listing.result = getArchiveInfo(source, &block, &count);
  listing.count = count;
  listing.handleStored = block != nullptr;
  if (block != nullptr) {
    listing.lockCount = LockCount(block);
    listing.blockSize = GlobalSize(block);
    const void* p = GlobalLock(block);
    if (p != nullptr && count > 0 &&
        listing.blockSize >= static_cast<size_t>(count) * sizeof(ArchiveEntry)) {
      const auto* records = static_cast<const ArchiveEntry*>(p);
      listing.entries.assign(records, records + count);
    }
    if (p != nullptr) GlobalUnlock(block);
    GlobalFree(block);
  }
  return listing;
}

HostListing ListArchive(const Bytes& archive) {
  CArchiveFile file(archive);
  return ListArchive(file.source());
}

HostExtraction ExtractStored(const Bytes& stored, ArchiveEntry* entry, GetFileFn getFile) {
  HostExtraction x;
  // Exactly the stored bytes, flush against the end of their allocation, so that a read
  // past them is caught by the sanitizers.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[stored.size() == 0 ? 1 : stored.size()]);
  if (!stored.empty()) std::memcpy(exact.get(), stored.data(), stored.size());
  const HGLOBAL untouched = reinterpret_cast<HGLOBAL>(0x5A5A);
  HGLOBAL block = untouched;
  x.result = getFile != nullptr ? getFile(exact.get(), entry, &block)
                                : Plugin().GetFile(0, exact.get(), entry, &block);
  x.handleStored = block != untouched;
  if (x.handleStored && block != nullptr) {
    x.lockCount = LockCount(block);
    x.blockSize = GlobalSize(block);
    const void* p = GlobalLock(block);
    if (p != nullptr) {
      const auto* b = static_cast<const uint8_t*>(p);
      x.contents.assign(b, b + x.blockSize);
      GlobalUnlock(block);
    }
    GlobalFree(block);
  }
  return x;
}

HostExtraction ExtractEntry(const Bytes& archive, ArchiveEntry* entry) {
  Bytes stored;
  const uint64_t offset = entry->offset;
  const uint64_t packed = entry->packedSize;
  if (offset < archive.size()) {
    const uint64_t room = archive.size() - offset;
    const uint64_t n = packed < room ? packed : room;
    stored.assign(archive.begin() + static_cast<size_t>(offset),
                  archive.begin() + static_cast<size_t>(offset + n));
  }
  return ExtractStored(stored, entry);
}

Bytes Contents(const HostExtraction& x, uint64_t size) {
  const size_t n = size < x.contents.size() ? static_cast<size_t>(size) : x.contents.size();
  return Bytes(x.contents.begin(), x.contents.begin() + n);
}

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

ArchiveEntry MakeRecord(int32_t type, uint32_t param, uint64_t size, uint64_t packedSize,
                        const Bytes& name, uint64_t offset) {
  ArchiveEntry e;
  std::memset(&e, 0, sizeof(e));
  if (!name.empty()) std::memcpy(e.name, name.data(), std::min(name.size(), sizeof(e.name) - 1));
  e.offset = offset;
  e.packedSize = packedSize;
  e.size = size;
  e.type = type;
  if (type == kTypePsarc) std::memcpy(e.tag, "PSARC", 6);
  if (type == kTypePkg) std::memcpy(e.tag, "PKG", 4);
  e.param = param;
  return e;
}

std::string Hex(const Bytes& bytes, size_t limit) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    if (i != 0) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  if (bytes.size() > limit) out += " ...";
  return out;
}

bool RunsUnderAnI386Emulator() {
#if defined(__i386__) && !defined(_WIN32)
  // Any enabled binfmt_misc entry whose interpreter is qemu-i386 serves every i386 program.
  const char* const folder = "/proc/sys/fs/binfmt_misc";
  DIR* entries = opendir(folder);
  if (entries == nullptr) return false;
  bool emulated = false;
  while (const dirent* e = readdir(entries)) {
    const std::string path = std::string(folder) + "/" + e->d_name;
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) continue;
    char line[512];
    bool enabled = false;
    bool qemu = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      const std::string text(line);
      if (text == "enabled\n") enabled = true;
      if (text.rfind("interpreter ", 0) == 0 && text.find("qemu-i386") != std::string::npos) {
        qemu = true;
      }
    }
    std::fclose(f);
    emulated = emulated || (enabled && qemu);
  }
  closedir(entries);
  return emulated;
#else
  return false;
#endif
}
