// What the fuzz targets share: bytes placed flush against an inaccessible page, a file that
// the plug-in reads through a handle as it reads a host's archive, and checks that stop
// the run when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "host/host_records.h"
#include "platform/win32_api.h"

class CPluginArchivePSX;

// Stops the run with a message: libFuzzer records the input as a crash, the replay program
// names the file.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// n bytes whose last byte is the last byte before a page that can be neither read nor
// written, so a one-byte over-read faults even without a sanitizer. The bytes before the
// start, up to the page boundary, are poisoned for AddressSanitizer when it is present.
class CGuardedBytes {
 public:
  CGuardedBytes(const uint8_t* bytes, size_t n);  // a copy of the bytes
  explicit CGuardedBytes(size_t n);               // n zero bytes
  ~CGuardedBytes();
  CGuardedBytes(const CGuardedBytes&) = delete;
  CGuardedBytes& operator=(const CGuardedBytes&) = delete;

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void Map(size_t n);
  uint8_t* base_ = nullptr;
  size_t mapped_ = 0;
  size_t head_ = 0;  // bytes between base_ and data_
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// One file on a memory-backed folder, rewritten for every input and read by the plug-in
// through a Win32 handle opened once, as a host opens an archive.
class CFuzzFile {
 public:
  CFuzzFile();
  ~CFuzzFile();
  CFuzzFile(const CFuzzFile&) = delete;
  CFuzzFile& operator=(const CFuzzFile&) = delete;

  // The file becomes the n bytes, then zeros up to `length` bytes in all (a hole, so that
  // a long file of few bytes costs only those bytes).
  void Write(const uint8_t* bytes, size_t n, uint64_t length);
  void Write(const uint8_t* bytes, size_t n) { Write(bytes, n, n); }
  HANDLE handle() const { return handle_; }

 private:
  int writer_ = -1;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Little-endian reads of the input's control bytes; bytes past the end read as zero.
uint32_t FuzzLe16(const uint8_t* data, size_t size, size_t at);
uint32_t FuzzLe32(const uint8_t* data, size_t size, size_t at);

// A value no out-argument holds unless the plug-in stored it.
HGLOBAL const kFuzzUntouched = reinterpret_cast<HGLOBAL>(static_cast<intptr_t>(0x5A5A5A5A));

// Extracts one entry as the host does and checks what every extraction owes the host:
// result 0 or 1; on 1 nothing stored and the record unchanged; on 0 an unlocked block.
// Returns the block (the caller checks its contents and frees it), or NULL for result 1.
HGLOBAL FuzzGetFile(CPluginArchivePSX& plugin, const uint8_t* stored, ArchiveEntry* entry);
