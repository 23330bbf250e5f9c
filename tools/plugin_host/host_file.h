// An archive file opened as a host opens one: a Win32 file handle (OpenFileForReading: on
// Windows through the wide calls, so any name opens), the first header bytes (at least 84,
// zero-padded for a short file), and reads through the same handle. The plug-in reads the
// tables through it; entries' stored bytes are read through readers of their own.
//
// The plug-in reads at any offset, which a stream cannot serve: standard input (the path
// "-"), a pipe, a FIFO or a device is first copied whole into a temporary file, which is
// read instead and removed on every way out (Close, destruction, Ctrl-C).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "tools/os/files.h"

class CHostFile {
 public:
  CHostFile() = default;
  ~CHostFile();
  CHostFile(const CHostFile&) = delete;
  CHostFile& operator=(const CHostFile&) = delete;

  // Opens path for reading (copying a stream first) and reads its header. On failure
  // error says why. path() stays the path as given.
  bool Open(const std::string& path, std::string* error);
  void Close();

  const ArchiveSource* source() const { return &source_; }
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }
  // The file the reads come from: path() itself, or the copy of the stream it names. A
  // thread of its own may open it again (CInputFile) and read from it at the same time.
  const std::string& readPath() const;

  // Reads n bytes at offset through the handle into out (resized to what was read: a
  // range past the end of the file comes back shorter). False on a read error.
  bool ReadAt(uint64_t offset, uint64_t n, std::vector<uint8_t>* out);

 private:
  // Reads up to n bytes at offset into out (which holds at least n); *got says how many
  // arrived. False on a read error.
  bool ReadInto(uint64_t offset, uint8_t* out, uint32_t n, uint32_t* got);
  // Copies a stream into copy_; false after saying why.
  bool CopyStream(const std::string& path, std::string* error);

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  COutputFile copy_;  // a stream's contents, when path_ names one
  std::vector<uint8_t> header_;
  ArchiveSource source_ = {};
  uint64_t size_ = 0;
  std::string path_;
};
