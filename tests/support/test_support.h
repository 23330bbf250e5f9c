// What the tests share: the plug-in loaded through its exports, temporary archive files
// opened as a host opens them, and a host's listing and extraction.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "platform/win32_api.h"
#include "tools/plugin_host/plugin_loader.h"

typedef std::vector<uint8_t> Bytes;

// The real module beside the test program, loaded once for the whole run.
const PluginExports& Plugin();

// A unique path in the temporary folder; the file is removed with the object.
class CTempPath {
 public:
  explicit CTempPath(const std::string& suffix = "");
  ~CTempPath();
  CTempPath(const CTempPath&) = delete;
  CTempPath& operator=(const CTempPath&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Bytes written to a temporary file and opened for reading with CreateFileA, as a host
// opens an archive, sharing reading and writing (a test may open it again to change it).
// header() is the first 84 bytes, zero-padded like a host pads.
class CArchiveFile {
 public:
  explicit CArchiveFile(const Bytes& contents);
  ~CArchiveFile();
  CArchiveFile(const CArchiveFile&) = delete;
  CArchiveFile& operator=(const CArchiveFile&) = delete;

  HANDLE handle() const { return handle_; }
  const ArchiveSource* source() const { return &source_; }
  const Bytes& contents() const { return contents_; }
  // For a test that opens handles of its own (other threads, other access rights).
  const std::string& path() const { return path_.path(); }
  // The first 84 bytes, as the host read them when it opened the file.
  const uint8_t* header() const { return header_.data(); }
  // Another handle to the file, with the given access; the caller closes it.
  HANDLE Open(DWORD access) const;
  // The file's bytes as they are now.
  Bytes OnDisk() const;

 private:
  CTempPath path_;
  Bytes contents_;
  Bytes header_;
  HANDLE handle_;
  ArchiveSource source_;
};

// The lock count of a global block, as GlobalFlags reports it.
unsigned LockCount(HGLOBAL block);

// A listing as a host makes one: the result, the count and a copy of every record; the
// host's block is checked to be unlocked and is freed.
struct HostListing {
  int32_t result = -1;
  int32_t count = -1;
  bool handleStored = false;
  unsigned lockCount = 0;
  size_t blockSize = 0;
  std::vector<ArchiveEntry> entries;
};
HostListing ListArchive(const ArchiveSource* source);
HostListing ListArchive(const Bytes& archive);
// The same through GetArchiveInfo of a lister of the test's own: a plug-in object (whose
// registry the test looks at) or another module's exports.
typedef std::function<int32_t(const ArchiveSource*, HGLOBAL*, int32_t*)> GetArchiveInfoFn;
HostListing ListArchiveWith(const GetArchiveInfoFn& getArchiveInfo, const ArchiveSource* source);
template <typename Lister>
HostListing ListArchive(Lister& lister, const ArchiveSource* source) {
  return ListArchiveWith(
      [&lister](const ArchiveSource* s, HGLOBAL* block, int32_t* count) {
        return lister.GetArchiveInfo(s, block, count);
      },
      source);
}

// An extraction as a host makes one: packedSize bytes read at offset (clipped to the file)
// handed to TZK_GetFile. The block's bytes, size and lock count are recorded and the block
// is freed; `entry` is updated as the plug-in rewrote it.
struct HostExtraction {
  int32_t result = -1;
  bool handleStored = false;
  unsigned lockCount = 0;
  size_t blockSize = 0;
  Bytes contents;  // all blockSize bytes of the block
};
HostExtraction ExtractEntry(const Bytes& archive, ArchiveEntry* entry);
// An extraction of stored bytes: TZK_GetFile without its unused first argument.
typedef int32_t (*GetFileFn)(const uint8_t* stored, ArchiveEntry* entry, HGLOBAL* contents);
// The same with the stored bytes given directly (exactly these bytes, at the end of an
// allocation of their size), through the module's TZK_GetFile or getFile when given.
// handleStored says whether the out-argument was written at all.
HostExtraction ExtractStored(const Bytes& stored, ArchiveEntry* entry, GetFileFn getFile = nullptr);

// The first `size` bytes of an extraction: the entry's contents.
Bytes Contents(const HostExtraction& x, uint64_t size);

Bytes BytesOf(const std::string& text);
// The parts one after another.
Bytes Concat(std::initializer_list<Bytes> parts);

// A record as a listing fills one: every byte zero but these, the tag following the type
// ("PSARC" for 1, "PKG" for 2, none for any other) and the name's bytes copied as given
// (at most 255 of them).
ArchiveEntry MakeRecord(int32_t type, uint32_t param, uint64_t size, uint64_t packedSize,
                        const Bytes& name = BytesOf("entry"), uint64_t offset = 0);
std::string Hex(const Bytes& bytes, size_t limit = 64);

// True where this program is a 32-bit Linux one that runs under qemu-user (registered
// for i386 programs because the kernel refuses them, or to try that path): what needs the
// real kernel (valgrind, tight address-space ceilings) cannot run there.
bool RunsUnderAnI386Emulator();
