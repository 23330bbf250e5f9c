// The few file-system operations varel needs. Paths are UTF-8 on Windows, where they go to
// the wide Win32 calls (in the \\?\ form when they are long), and bytes on Linux, where they
// go to POSIX as they are. Every failure comes back as false with a message naming the path.
// One implementation per platform: host_fs_win32.cpp, host_fs_posix.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32_api.h"

enum class PathKind { kMissing, kFile, kFolder, kOther };

// What stands at path (symbolic links followed).
PathKind GetPathKind(const std::string& path);
// True when path itself is a symbolic link (always false on Windows).
bool IsSymbolicLink(const std::string& path);
// True when both paths name one existing file (the same device and inode; on Windows the
// same volume and file index).
bool IsSameFile(const std::string& a, const std::string& b);
// The size of the file at path; false when it cannot be read.
bool GetFileSize(const std::string& path, uint64_t* size, std::string* error);

// The preferred separator of this platform, and a join that adds it only when needed.
char PathSeparator();
std::string JoinPath(const std::string& folder, const std::string& name);
bool IsAbsolutePath(const std::string& path);
// True for '/' and, on Windows, '\\'.
bool IsPathSeparator(char c);
// Splits path at its last separator: folder ("" when there is none) and name.
void SplitPath(const std::string& path, std::string* folder, std::string* name);

// Creates one folder; true when it exists already as a folder.
bool MakeFolder(const std::string& path, std::string* error);
// Creates path and every missing folder above it.
bool MakeFolders(const std::string& path, std::string* error);
// The names in a folder, "." and ".." left out, sorted bytewise.
bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* error);
// Opens an existing file for reading as a Win32 file handle (on Linux the platform layer's),
// which the plug-in reads through, and gives its size. A folder is refused.
bool OpenFileForReading(const std::string& path, HANDLE* handle, uint64_t* size,
                        std::string* error);
// A file read at any offset by any number of threads at once. Every read carries its own
// offset (pread on Linux; ReadFile with an OVERLAPPED offset on Windows), so no file
// position is shared and one open file serves every thread; ReadAt may be called from
// several threads at the same time (Open and Close may not).
class CFileReader {
 public:
  CFileReader() = default;
  ~CFileReader() { Close(); }
  CFileReader(const CFileReader&) = delete;
  CFileReader& operator=(const CFileReader&) = delete;

  // Opens an existing file (a folder is refused) and takes its size.
  bool Open(const std::string& path, std::string* error);
  // Reads up to n bytes at offset into out: *got is below n only at the end of the file,
  // and 0 at or past it. Any 64-bit offset is taken as it is.
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n, size_t* got, std::string* error) const;
  void Close();
  const std::string& path() const { return path_; }
  // The size when it was opened.
  uint64_t size() const { return size_; }
  bool isOpen() const { return handle_ != -1; }

 private:
  std::string path_;
  uint64_t size_ = 0;
  intptr_t handle_ = -1;  // a HANDLE on Windows, a file descriptor on Linux
};

// The folder for temporary files: TMPDIR (else /tmp) on Linux, the system's (TMP, TEMP)
// on Windows.
std::string TemporaryFolder();

// Reads a whole file. Files of 2 GiB or more are refused before anything is read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* error);
bool RemoveFile(const std::string& path);
// Removes a folder and everything under it (symbolic links are removed, not followed).
bool RemoveTree(const std::string& path);

// A file written under a temporary name beside its final one and renamed into place on
// Commit, so that an interrupted run never leaves a truncated file under the final name.
// A write that fails removes the temporary file; so does destruction without Commit, and
// so does Ctrl-C (interrupt_cleanup.h).
class COutputFile {
 public:
  COutputFile() = default;
  ~COutputFile() { Abandon(); }
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // Creates the temporary file in folder (which must exist) for the final name there.
  bool Open(const std::string& folder, const std::string& name, std::string* error);
  const std::string& finalPath() const { return finalPath_; }
  bool Write(const void* data, size_t n, std::string* error);
  // Writes at offset (past the end: the gap reads as zeros); a later Write goes on after it.
  bool WriteAt(uint64_t offset, const void* data, size_t n, std::string* error);
  // Flushes, closes and renames into place: replacing an existing file only when replace.
  bool Commit(bool replace, std::string* error);
  // Flushes and closes the temporary file but keeps it under its temporary name, to be read
  // back (a copy that is not meant to stay): it is still removed by Abandon, by destruction
  // and by Ctrl-C.
  bool FinishWriting(std::string* error);
  const std::string& temporaryPath() const { return tempPath_; }
  // Closes and removes the temporary file, if any.
  void Abandon();

 private:
  bool CloseHandleOnly(std::string* error);
  std::string finalPath_;
  std::string tempPath_;
  intptr_t handle_ = -1;  // a HANDLE on Windows, a file descriptor on Linux
  int watch_ = -1;        // the interrupt handlers' ticket for tempPath_
};

// Copies everything that can be read from a stream -- standard input when path is "-",
// else the pipe, FIFO or device at path -- into out, up to the stream's end.
bool CopyStreamInto(const std::string& path, COutputFile* out, std::string* error);

// Writes all of data to a file through COutputFile.
bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t n, bool replace,
                         std::string* error);
