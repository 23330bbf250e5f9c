// The platform-neutral part of the file-system layer: paths, nested folders, whole-file
// reads, and the output file's temporary-name protocol.
#include "tools/os/files.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "tools/os/files_platform.h"
#include "tools/os/interrupt_cleanup.h"

namespace {

// Distinguishes the temporary files of one process.
std::atomic<unsigned> g_tempCounter{0};

constexpr uint64_t kMaxWholeFile = 0x80000000ull;

}  // namespace

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsPathSeparator(path[i])) last = i;
  }
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
  bool endsWithSeparator = IsPathSeparator(folder.back());
  // "C:" names the current folder of drive C; "C:name" is relative to it.
  if (PathSeparator() == '\\' && folder.size() == 2 && folder[1] == ':') endsWithSeparator = true;
  return endsWithSeparator ? folder + name : folder + PathSeparator() + name;
}

bool MakeFolders(const std::string& path, std::string* error) {
  if (path.empty() || GetPathKind(path) == PathKind::kFolder) return true;
  std::string parent;
  std::string name;
  SplitPath(path, &parent, &name);
  if (!parent.empty() && parent != path && !MakeFolders(parent, error)) return false;
  if (name.empty()) return true;  // a trailing separator or a bare root
  return MakeFolder(path, error);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  CFileReader file;
  if (!file.Open(path, error)) return false;
  if (file.size() >= kMaxWholeFile) {
    *error = path + ": 2 GiB or more";
    return false;
  }
  try {
    out->resize(static_cast<size_t>(file.size()));
  } catch (const std::bad_alloc&) {
    *error = path + ": not enough memory to read it";
    return false;
  }
  size_t got = 0;
  if (!file.ReadAt(0, out->data(), out->size(), &got, error)) {
    out->clear();
    return false;
  }
  out->resize(got);  // the file shrank while we read it
  return true;
}

bool COutputFile::Open(const std::string& folder, const std::string& name, std::string* error) {
  Abandon();
  finalPath_ = JoinPath(folder, name);
  std::string why;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath_ =
        JoinPath(folder.empty() ? "." : folder, ".varel-" + std::to_string(ProcessNumber()) + "-" +
                                                    std::to_string(g_tempCounter++) + ".tmp");
    // Watched before it exists (interrupt_cleanup.h says why); a file an interrupt could
    // not remove is not made.
    watch_ = WatchTemporaryFile(tempPath_);
    if (watch_ < 0) {
      *error = finalPath_ + (InterruptUnderWay()
                                 ? ": cannot create: interrupted"
                                 : ": cannot create: its temporary file cannot be watched");
      tempPath_.clear();
      return false;
    }
    const CreateResult r = CreateNewFile(tempPath_, &handle_, &why);
    MakingDone();
    if (r == CreateResult::kCreated) return true;
    UnwatchTemporaryFile(watch_);
    watch_ = -1;
    if (r == CreateResult::kFailed) break;
  }
  *error = finalPath_ + ": cannot create: " + why;
  tempPath_.clear();
  handle_ = -1;
  return false;
}

bool COutputFile::Write(const void* data, size_t n, std::string* error) {
  std::string why;
  if (!WriteToHandle(handle_, static_cast<const uint8_t*>(data), n, &why)) {
    *error = finalPath_ + ": cannot write: " + why;
    Abandon();
    return false;
  }
  return true;
}

bool COutputFile::WriteAt(uint64_t offset, const void* data, size_t n, std::string* error) {
  std::string why;
  if (!SeekHandle(handle_, offset, &why)) {
    *error = finalPath_ + ": cannot write: " + why;
    Abandon();
    return false;
  }
  return Write(data, n, error);
}

bool COutputFile::CloseHandleOnly(std::string* error) {
  if (handle_ == -1) return true;
  std::string why;
  const bool ok = CloseFileHandle(handle_, &why);
  handle_ = -1;
  if (!ok) *error = finalPath_ + ": cannot write: " + why;
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
  std::string why;
  if (!MoveIntoPlace(tempPath_, finalPath_, replace, &why)) {
    *error = finalPath_ + ": cannot move into place: " + why;
    Abandon();
    return false;
  }
  UnwatchTemporaryFile(watch_);
  watch_ = -1;
  tempPath_.clear();
  return true;
}

bool COutputFile::FinishWriting(std::string* error) {
  if (CloseHandleOnly(error)) return true;
  Abandon();
  return false;
}

void COutputFile::Abandon() {
  std::string ignored;
  CloseHandleOnly(&ignored);
  if (!tempPath_.empty()) RemoveFile(tempPath_);
  UnwatchTemporaryFile(watch_);
  watch_ = -1;
  tempPath_.clear();
}

bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t n, bool replace,
                         std::string* error) {
  std::string folder;
  std::string name;
  SplitPath(path, &folder, &name);
  COutputFile out;
  return out.Open(folder, name, error) && out.Write(data, n, error) && out.Commit(replace, error);
}
