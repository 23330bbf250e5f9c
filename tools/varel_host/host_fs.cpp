#include "tools/varel_host/host_fs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#if defined(_WIN32)
#include "platform/win32_api.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)

std::string ErrorText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "no such file or folder";
    case ERROR_ACCESS_DENIED: return "permission denied";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "the disk is full";
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS: return "exists already";
    case ERROR_WRITE_PROTECT: return "the medium is write-protected";
    case ERROR_DIRECTORY: return "not a folder";
    default: return "error " + std::to_string(code);
  }
}

std::string Failure(const std::string& path) { return path + ": " + ErrorText(GetLastError()); }

// Separators found by a forward walk, so that a trail byte 0x5C of a double-byte character
// is never taken for a backslash.
template <typename Fn>
void ForEachSeparator(const std::string& path, Fn fn) {
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '/' || c == '\\') fn(i);
  }
}

#else

std::string Failure(const std::string& path) { return path + ": " + std::strerror(errno); }

template <typename Fn>
void ForEachSeparator(const std::string& path, Fn fn) {
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '/') fn(i);
  }
}

#endif

// Distinguishes the temporary files of one process.
std::atomic<unsigned> g_tempCounter{0};

unsigned ProcessNumber() {
#if defined(_WIN32)
  return static_cast<unsigned>(GetCurrentProcessId());
#else
  return static_cast<unsigned>(getpid());
#endif
}

}  // namespace

char PathSeparator() {
#if defined(_WIN32)
  return '\\';
#else
  return '/';
#endif
}

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  size_t last = std::string::npos;
  ForEachSeparator(path, [&](size_t i) { last = i; });
  if (last == std::string::npos) {
    folder->clear();
    *name = path;
    return;
  }
  // A separator at the start is the root itself and stays with the folder.
  *folder = path.substr(0, last == 0 ? 1 : last);
  *name = path.substr(last + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  bool endsWithSeparator = false;
  ForEachSeparator(folder, [&](size_t i) { endsWithSeparator = i + 1 == folder.size(); });
#if defined(_WIN32)
  // "C:" names the current folder of drive C; "C:name" is relative to it.
  if (folder.size() == 2 && folder[1] == ':') endsWithSeparator = true;
#endif
  return endsWithSeparator ? folder + name : folder + PathSeparator() + name;
}

bool IsAbsolutePath(const std::string& path) {
#if defined(_WIN32)
  if (path.size() >= 2 && path[1] == ':') return true;
  return !path.empty() && (path[0] == '\\' || path[0] == '/');
#else
  return !path.empty() && path[0] == '/';
#endif
}

#if defined(_WIN32)

PathKind GetPathKind(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  if (a & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
  return PathKind::kFile;
}

bool IsSymbolicLink(const std::string&) { return false; }

bool IsSameFile(const std::string& a, const std::string& b) {
  char fullA[MAX_PATH * 2];
  char fullB[MAX_PATH * 2];
  const DWORD na = GetFullPathNameA(a.c_str(), sizeof(fullA), fullA, nullptr);
  const DWORD nb = GetFullPathNameA(b.c_str(), sizeof(fullB), fullB, nullptr);
  if (na == 0 || nb == 0 || na >= sizeof(fullA) || nb >= sizeof(fullB)) return false;
  return GetPathKind(a) == PathKind::kFile && lstrcmpiA(fullA, fullB) == 0;
}

bool GetFileSize(const std::string& path, uint64_t* size, std::string* error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    *error = Failure(path);
    return false;
  }
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  const DWORD code = GetLastError();
  if (GetPathKind(path) == PathKind::kFolder) return true;
  *error = path + ": cannot create the folder: " +
           (code == ERROR_ALREADY_EXISTS ? std::string("a file is in the way") : ErrorText(code));
  return false;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* error) {
  names->clear();
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(JoinPath(path, "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    *error = Failure(path);
    return false;
  }
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names->begin(), names->end());
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = Failure(path);
    return false;
  }
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) != 0;
  if (!ok) {
    *error = Failure(path);
  } else if (size.QuadPart >= 0x80000000LL) {
    *error = path + ": 2 GiB or more";
    ok = false;
  } else {
    try {
      out->resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
      *error = path + ": not enough memory to read it";
      ok = false;
    }
    size_t done = 0;
    while (ok && done < out->size()) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(out->size() - done, 1u << 24));
      if (!ReadFile(file, out->data() + done, want, &got, nullptr)) {
        *error = Failure(path);
        ok = false;
      } else if (got == 0) {
        out->resize(done);  // the file shrank while we read it
        break;
      }
      done += got;
    }
  }
  CloseHandle(file);
  if (!ok) out->clear();
  return ok;
}

bool RemoveFile(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path.c_str()) != 0;
}

bool RemoveTree(const std::string& path) {
  const PathKind kind = GetPathKind(path);
  if (kind == PathKind::kMissing) return true;
  if (kind != PathKind::kFolder) return RemoveFile(path);
  std::vector<std::string> names;
  std::string error;
  bool ok = ListFolder(path, &names, &error);
  for (const std::string& name : names) ok = RemoveTree(JoinPath(path, name)) && ok;
  return RemoveDirectoryA(path.c_str()) != 0 && ok;
}

bool COutputFile::Open(const std::string& folder, const std::string& name, std::string* error) {
  Abandon();
  finalPath_ = JoinPath(folder, name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath_ = JoinPath(folder, ".varel-" + std::to_string(ProcessNumber()) + "-" +
                                     std::to_string(g_tempCounter++) + ".tmp");
    HANDLE h = CreateFileA(tempPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(h);
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  *error = finalPath_ + ": cannot create: " + ErrorText(GetLastError());
  tempPath_.clear();
  return false;
}

bool COutputFile::Write(const void* data, size_t n, std::string* error) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 24));
    DWORD wrote = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(handle_), p, want, &wrote, nullptr) || wrote == 0) {
      *error = finalPath_ + ": cannot write: " + ErrorText(GetLastError());
      Abandon();
      return false;
    }
    p += wrote;
    n -= wrote;
  }
  return true;
}

bool COutputFile::CloseHandleOnly(std::string* error) {
  if (handle_ == -1) return true;
  const bool ok = CloseHandle(reinterpret_cast<HANDLE>(handle_)) != 0;
  handle_ = -1;
  if (!ok) *error = finalPath_ + ": cannot write: " + ErrorText(GetLastError());
  return ok;
}

bool COutputFile::Commit(bool replace, std::string* error) {
  if (tempPath_.empty()) {
    *error = finalPath_ + ": not open";
    return false;
  }
  if (!CloseHandleOnly(error)) {
    Abandon();
    return false;
  }
  if (!MoveFileExA(tempPath_.c_str(), finalPath_.c_str(),
                   replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    *error = finalPath_ + ": cannot move into place: " + ErrorText(GetLastError());
    Abandon();
    return false;
  }
  tempPath_.clear();
  return true;
}

void COutputFile::Abandon() {
  std::string ignored;
  CloseHandleOnly(&ignored);
  if (!tempPath_.empty()) DeleteFileA(tempPath_.c_str());
  tempPath_.clear();
}

#else  // Linux

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
           (code == EEXIST ? std::string("a file is in the way") : std::strerror(code));
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

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_LARGEFILE);
  if (fd < 0) {
    *error = Failure(path);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    *error = Failure(path);
  } else if (static_cast<uint64_t>(st.st_size) >= 0x80000000ull) {
    *error = path + ": 2 GiB or more";
    ok = false;
  } else {
    try {
      out->resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
      *error = path + ": not enough memory to read it";
      ok = false;
    }
    size_t done = 0;
    while (ok && done < out->size()) {
      const ssize_t got = read(fd, out->data() + done, out->size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        *error = Failure(path);
        ok = false;
      } else if (got == 0) {
        out->resize(done);  // the file shrank while we read it
        break;
      } else {
        done += static_cast<size_t>(got);
      }
    }
  }
  close(fd);
  if (!ok) out->clear();
  return ok;
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

bool COutputFile::Open(const std::string& folder, const std::string& name, std::string* error) {
  Abandon();
  finalPath_ = JoinPath(folder, name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath_ =
        JoinPath(folder.empty() ? "." : folder, ".varel-" + std::to_string(ProcessNumber()) + "-" +
                                                    std::to_string(g_tempCounter++) + ".tmp");
    const int fd =
        open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_LARGEFILE, 0666);
    if (fd >= 0) {
      handle_ = fd;
      return true;
    }
    if (errno != EEXIST) break;
  }
  *error = finalPath_ + ": cannot create: " + std::strerror(errno);
  tempPath_.clear();
  return false;
}

bool COutputFile::Write(const void* data, size_t n, std::string* error) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const ssize_t wrote = write(static_cast<int>(handle_), p, n);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *error = finalPath_ + ": cannot write: " +
               (wrote == 0 ? std::string("nothing written") : std::strerror(errno));
      Abandon();
      return false;
    }
    p += wrote;
    n -= static_cast<size_t>(wrote);
  }
  return true;
}

bool COutputFile::CloseHandleOnly(std::string* error) {
  if (handle_ == -1) return true;
  const bool ok = close(static_cast<int>(handle_)) == 0;
  handle_ = -1;
  if (!ok) *error = finalPath_ + ": cannot write: " + std::strerror(errno);
  return ok;
}

bool COutputFile::Commit(bool replace, std::string* error) {
  if (tempPath_.empty()) {
    *error = finalPath_ + ": not open";
    return false;
  }
  if (!CloseHandleOnly(error)) {
    Abandon();
    return false;
  }
  bool ok;
  if (replace) {
    ok = rename(tempPath_.c_str(), finalPath_.c_str()) == 0;
  } else if (link(tempPath_.c_str(), finalPath_.c_str()) == 0) {
    // link() refuses an existing name, which rename() would silently replace.
    unlink(tempPath_.c_str());
    tempPath_.clear();
    return true;
  } else if (errno == EEXIST) {
    ok = false;
  } else {
    // A file system without hard links: the check and the rename are not one step.
    ok = false;
    if (GetPathKind(finalPath_) != PathKind::kMissing) {
      errno = EEXIST;
    } else {
      ok = rename(tempPath_.c_str(), finalPath_.c_str()) == 0;
    }
  }
  if (!ok) {
    *error = finalPath_ + ": cannot move into place: " + std::strerror(errno);
    Abandon();
    return false;
  }
  tempPath_.clear();
  return true;
}

void COutputFile::Abandon() {
  std::string ignored;
  CloseHandleOnly(&ignored);
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
  tempPath_.clear();
}

#endif

bool MakeFolders(const std::string& path, std::string* error) {
  if (path.empty() || GetPathKind(path) == PathKind::kFolder) return true;
  std::string parent;
  std::string name;
  SplitPath(path, &parent, &name);
  if (!parent.empty() && parent != path && !MakeFolders(parent, error)) return false;
  if (name.empty()) return true;  // a trailing separator or a bare root
  return MakeFolder(path, error);
}

bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t n, bool replace,
                         std::string* error) {
  std::string folder;
  std::string name;
  SplitPath(path, &folder, &name);
  COutputFile out;
  return out.Open(folder, name, error) && out.Write(data, n, error) && out.Commit(replace, error);
}
