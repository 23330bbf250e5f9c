// An archive file opened as a host opens one: a Win32 file handle (OpenFileForReading: on
// Windows through the wide calls, so any name opens), the first header bytes (at least 84,
// zero-padded for a short file), and one reader at any offset (CFileReader) that every
// thread shares. The plug-in reads the tables through the handle; varel reads the header
// and entries' stored bytes through the reader.
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
  // The file the reads come from: path() itself, or the copy of the stream it names.
  const std::string& readPath() const;
  // Reads at any offset, from any thread.
  const CFileReader& reader() const { return reader_; }

  // Reads n bytes at offset into out (resized to what was read: a range past the end of
  // the file comes back shorter). False on a read error.
  bool ReadAt(uint64_t offset, uint64_t n, std::vector<uint8_t>* out) const;

 private:
  // Copies a stream into copy_; false after saying why.
  bool CopyStream(const std::string& path, std::string* error);

  HANDLE handle_ = INVALID_HANDLE_VALUE;  // the plug-in's
  CFileReader reader_;
  COutputFile copy_;  // a stream's contents, when path_ names one
  std::vector<uint8_t> header_;
  ArchiveSource source_ = {};
  uint64_t size_ = 0;
  std::string path_;
};
