// The file-system layer on Windows: the wide Win32 calls, with UTF-8 paths turned into
// UTF-16, long ones into the \\?\ form.
#include <algorithm>
#include <cstring>

#include "tools/os/files.h"
#include "tools/os/files_platform.h"
#include "tools/os/files_win32.h"
#include "tools/util/unicode_text.h"

namespace {

constexpr DWORD kWriteChunk = 1u << 24;

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
    case ERROR_FILENAME_EXCED_RANGE: return "the name is too long";
    default: return "error " + std::to_string(code);
  }
}

std::string Failure(const std::string& path) { return path + ": " + ErrorText(GetLastError()); }

bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h =
      CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return ok;
}

}  // namespace

WideString WidePath(const std::string& path) {
  const WideString w = WideFromUtf8(path);
  if (w.size() < kLongPath || w.compare(0, 4, L"\\\\?\\") == 0 ||
      w.compare(0, 4, L"\\\\.\\") == 0) {
    return w;
  }
  DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return w;
  WideString full(n, L'\0');
  n = GetFullPathNameW(w.c_str(), n, &full[0], nullptr);
  if (n == 0 || n >= full.size()) return w;
  full.resize(n);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }
char PathSeparator() { return '\\'; }

bool IsAbsolutePath(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return true;
  return !path.empty() && IsPathSeparator(path[0]);
}

PathKind GetPathKind(const std::string& path) {
  const DWORD a = GetFileAttributesW(WidePath(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  if (a & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
  return PathKind::kFile;
}

bool IsSymbolicLink(const std::string&) { return false; }

bool IsSameFile(const std::string& a, const std::string& b) {
  // Files of different sizes are different files. Asking a file's identity opens it, which
  // costs a Wine server call or a virus scanner's look each time; the attributes do not.
  WIN32_FILE_ATTRIBUTE_DATA da;
  WIN32_FILE_ATTRIBUTE_DATA db;
  if (!GetFileAttributesExW(WidePath(a).c_str(), GetFileExInfoStandard, &da) ||
      !GetFileAttributesExW(WidePath(b).c_str(), GetFileExInfoStandard, &db) ||
      ((da.dwFileAttributes | db.dwFileAttributes) &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ||
      da.nFileSizeHigh != db.nFileSizeHigh || da.nFileSizeLow != db.nFileSizeLow) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION ia;
  BY_HANDLE_FILE_INFORMATION ib;
  return FileIdentity(a, &ia) && FileIdentity(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool GetFileSize(const std::string& path, uint64_t* size, std::string* error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
    *error = Failure(path);
    return false;
  }
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (CreateDirectoryW(WidePath(path).c_str(), nullptr)) return true;
  const DWORD code = GetLastError();
  if (GetPathKind(path) == PathKind::kFolder) return true;
  *error = path + ": cannot create the folder: " +
           (code == ERROR_ALREADY_EXISTS ? std::string("a file is in the way") : ErrorText(code));
  return false;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* error) {
  names->clear();
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(WidePath(JoinPath(path, "*")).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    *error = Failure(path);
    return false;
  }
  do {
    const std::string name = Utf8FromWide(data.cFileName, wcslen(data.cFileName));
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names->begin(), names->end());
  return true;
}

bool OpenFileForReading(const std::string& path, HANDLE* handle, uint64_t* size,
                        std::string* error) {
  if (GetPathKind(path) == PathKind::kFolder) {
    *error = path + ": is a folder";
    return false;
  }
  // Shared for deletion, so that a temporary copy being read (standard input's, the
  // archive pack sends to stdout) can still be removed by an interrupt; it goes once closed.
  *handle = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (*handle == INVALID_HANDLE_VALUE) {
    *error = Failure(path);
    return false;
  }
  LARGE_INTEGER li;
  if (!GetFileSizeEx(*handle, &li)) {
    *error = path + ": cannot read its size";
    CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
    return false;
  }
  *size = static_cast<uint64_t>(li.QuadPart);
  return true;
}

bool CFileReader::Open(const std::string& path, std::string* error) {
  Close();
  path_ = path;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (!OpenFileForReading(path, &file, &size_, error)) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool CFileReader::ReadAt(uint64_t offset, uint8_t* out, size_t n, size_t* got,
                         std::string* error) const {
  *got = 0;
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  while (*got < n) {
    const uint64_t at = offset + *got;
    // The offset goes with the call: on a handle opened for synchronous reads the system
    // reads there and nowhere else, whatever other threads do with the same handle.
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n - *got, DWORD{1} << 30));
    DWORD part = 0;
    if (!ReadFile(file, out + *got, want, &part, &where)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;  // at or past the end
      *error = path_ + ": cannot read";
      return false;
    }
    if (part == 0) break;
    *got += part;
  }
  return true;
}

void CFileReader::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  size_ = 0;
}

bool CopyStreamInto(const std::string& path, COutputFile* out, std::string* error) {
  const bool standardInput = path == "-";
  const HANDLE in = standardInput ? GetStdHandle(STD_INPUT_HANDLE)
                                  : CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) {
    *error = standardInput ? std::string("standard input: cannot read") : Failure(path);
    return false;
  }
  std::vector<uint8_t> buffer(1u << 20);
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      // The writing end of a pipe closed: the end of the stream.
      const DWORD code = GetLastError();
      if (code == ERROR_BROKEN_PIPE) break;
      *error = (standardInput ? std::string("standard input") : path) +
               ": cannot read: " + ErrorText(code);
      ok = false;
      break;
    }
    if (got == 0 || !out->Write(buffer.data(), got, error)) {
      ok = got == 0;
      break;
    }
  }
  if (!standardInput) CloseHandle(in);
  return ok;
}

std::string TemporaryFolder() {
  WCHAR folder[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  return n == 0 || n > MAX_PATH ? std::string(".") : Utf8FromWide(folder, n);
}

bool RemoveFile(const std::string& path) {
  const WideString w = WidePath(path);
  SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(w.c_str()) != 0;
}

bool RemoveTree(const std::string& path) {
  const PathKind kind = GetPathKind(path);
  if (kind == PathKind::kMissing) return true;
  if (kind != PathKind::kFolder) return RemoveFile(path);
  std::vector<std::string> names;
  std::string error;
  bool ok = ListFolder(path, &names, &error);
  for (const std::string& name : names) ok = RemoveTree(JoinPath(path, name)) && ok;
  return RemoveDirectoryW(WidePath(path).c_str()) != 0 && ok;
}

CreateResult CreateNewFile(const std::string& path, intptr_t* handle, std::string* why) {
  // Shared for deletion only, so that an interrupt can remove it while it is open.
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    *handle = reinterpret_cast<intptr_t>(h);
    return CreateResult::kCreated;
  }
  const DWORD code = GetLastError();
  *why = ErrorText(code);
  return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? CreateResult::kExists
                                                                   : CreateResult::kFailed;
}

bool SeekHandle(intptr_t handle, uint64_t offset, std::string* why) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (SetFilePointerEx(reinterpret_cast<HANDLE>(handle), to, nullptr, FILE_BEGIN)) return true;
  *why = ErrorText(GetLastError());
  return false;
}

bool PrepareRemovalPath(const std::string& path, void* out, size_t room) {
  const WideString wide = WidePath(path);
  if ((wide.size() + 1) * sizeof(wchar_t) > room) return false;
  std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  return true;
}

void RemovePreparedPath(const void* prepared) {
  DeleteFileW(static_cast<const wchar_t*>(prepared));
}

void PauseOneMillisecond() { Sleep(1); }

bool WriteToHandle(intptr_t handle, const uint8_t* data, size_t n, std::string* why) {
  while (n > 0) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n, kWriteChunk));
    DWORD wrote = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(handle), data, want, &wrote, nullptr) || wrote == 0) {
      *why = ErrorText(GetLastError());
      return false;
    }
    data += wrote;
    n -= wrote;
  }
  return true;
}

bool CloseFileHandle(intptr_t handle, std::string* why) {
  if (CloseHandle(reinterpret_cast<HANDLE>(handle))) return true;
  *why = ErrorText(GetLastError());
  return false;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* why) {
  if (MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                  replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    return true;
  }
  *why = ErrorText(GetLastError());
  return false;
}

unsigned ProcessNumber() { return static_cast<unsigned>(GetCurrentProcessId()); }
