// The file-system layer on Linux: POSIX calls on the path bytes as they are.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/os/files.h"
#include "tools/os/files_platform.h"

namespace {

std::string ErrorText(int code) {
  switch (code) {
    case ENOENT: return "no such file or folder";
    case EACCES:
    case EPERM: return "permission denied";
    case ENOSPC: return "the disk is full";
    case EEXIST: return "exists already";
    case ENOTDIR: return "not a folder";
    case EISDIR: return "is a folder";
    case EROFS: return "the medium is read-only";
    default: return std::strerror(code);
  }
}

std::string Failure(const std::string& path) { return path + ": " + ErrorText(errno); }

}  // namespace

bool IsPathSeparator(char c) { return c == '/'; }
char PathSeparator() { return '/'; }
bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

PathKind GetPathKind(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  return PathKind::kOther;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool GetFileSize(const std::string& path, uint64_t* size, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = Failure(path);
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  const int code = errno;
  if (GetPathKind(path) == PathKind::kFolder) return true;
  *error = path + ": cannot create the folder: " +
           (code == EEXIST ? std::string("a file is in the way") : ErrorText(code));
  return false;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* error) {
  names->clear();
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    *error = Failure(path);
    return false;
  }
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  closedir(dir);
  std::sort(names->begin(), names->end());
  return true;
}

bool OpenFileForReading(const std::string& path, HANDLE* handle, uint64_t* size,
                        std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = Failure(path);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = path + ": " + ErrorText(EISDIR);
    return false;
  }
  *handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (*handle == INVALID_HANDLE_VALUE) {
    *error = Failure(path);
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool CFileReader::Open(const std::string& path, std::string* error) {
  Close();
  path_ = path;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Failure(path);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    *error = path + ": " + ErrorText(S_ISDIR(st.st_mode) ? EISDIR : errno);
    ::close(fd);
    return false;
  }
  handle_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool CFileReader::ReadAt(uint64_t offset, uint8_t* out, size_t n, size_t* got,
                         std::string* error) const {
  *got = 0;
  // pread takes a signed offset: past its range there is nothing to read.
  if (offset > static_cast<uint64_t>(INT64_MAX)) return true;
  while (*got < n) {
    const uint64_t at = offset + *got;
    if (at > static_cast<uint64_t>(INT64_MAX)) break;
    // At most 1 GiB a call, which every kernel delivers whole from a file.
    const size_t want = std::min<size_t>(n - *got, size_t{1} << 30);
    const ssize_t part = pread(static_cast<int>(handle_), out + *got, want, static_cast<off_t>(at));
    if (part < 0 && errno == EINTR) continue;
    if (part < 0) {
      *error = path_ + ": cannot read: " + ErrorText(errno);
      return false;
    }
    if (part == 0) break;
    *got += static_cast<size_t>(part);
  }
  return true;
}

void CFileReader::Close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
  size_ = 0;
}

bool CopyStreamInto(const std::string& path, COutputFile* out, std::string* error) {
  const bool standardInput = path == "-";
  const int fd = standardInput ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_LARGEFILE);
  if (fd < 0) {
    *error = Failure(path);
    return false;
  }
  std::vector<uint8_t> buffer(1u << 20);
  bool ok = true;
  for (;;) {
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = (standardInput ? std::string("standard input") : path) +
               ": cannot read: " + ErrorText(errno);
      ok = false;
    }
    if (got <= 0 || !out->Write(buffer.data(), static_cast<size_t>(got), error)) {
      ok = ok && got == 0;
      break;
    }
  }
  if (!standardInput) close(fd);
  return ok;
}

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != 0 ? folder : "/tmp";
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return RemoveFile(path);
  std::vector<std::string> names;
  std::string error;
  bool ok = ListFolder(path, &names, &error);
  for (const std::string& name : names) ok = RemoveTree(JoinPath(path, name)) && ok;
  return rmdir(path.c_str()) == 0 && ok;
}

CreateResult CreateNewFile(const std::string& path, intptr_t* handle, std::string* why) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_LARGEFILE, 0666);
  if (fd >= 0) {
    *handle = fd;
    return CreateResult::kCreated;
  }
  *why = ErrorText(errno);
  return errno == EEXIST ? CreateResult::kExists : CreateResult::kFailed;
}

bool SeekHandle(intptr_t handle, uint64_t offset, std::string* why) {
  if (lseek64(static_cast<int>(handle), static_cast<off64_t>(offset), SEEK_SET) >= 0) return true;
  *why = ErrorText(errno);
  return false;
}

bool PrepareRemovalPath(const std::string& path, void* out, size_t room) {
  if (path.size() + 1 > room) return false;
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

void RemovePreparedPath(const void* prepared) { unlink(static_cast<const char*>(prepared)); }

void PauseOneMillisecond() {
  const struct timespec pause = {0, 1000000};
  nanosleep(&pause, nullptr);
}

bool WriteToHandle(intptr_t handle, const uint8_t* data, size_t n, std::string* why) {
  while (n > 0) {
    const ssize_t wrote = write(static_cast<int>(handle), data, n);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *why = wrote == 0 ? std::string("nothing written") : ErrorText(errno);
      return false;
    }
    data += wrote;
    n -= static_cast<size_t>(wrote);
  }
  return true;
}

bool CloseFileHandle(intptr_t handle, std::string* why) {
  if (close(static_cast<int>(handle)) == 0) return true;
  *why = ErrorText(errno);
  return false;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* why) {
  if (replace) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
  } else if (link(from.c_str(), to.c_str()) == 0) {
    // link() refuses an existing name, which rename() would silently replace.
    unlink(from.c_str());
    return true;
  } else if (errno != EEXIST) {
    // A file system without hard links: the check and the rename are not one step.
    if (GetPathKind(to) != PathKind::kMissing) {
      errno = EEXIST;
    } else if (rename(from.c_str(), to.c_str()) == 0) {
      return true;
    }
  }
  *why = ErrorText(errno);
  return false;
}

unsigned ProcessNumber() { return static_cast<unsigned>(getpid()); }
