#include "tools/plugin_host/host_file.h"

#include <algorithm>

#include "tools/os/console.h"

CHostFile::~CHostFile() { Close(); }

void CHostFile::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  reader_.Close();
  source_ = ArchiveSource();
  copy_.Abandon();
}

bool CHostFile::CopyStream(const std::string& path, std::string* error) {
  if (path == "-" && IsTerminal(stdin)) {
    *error = "-: standard input is a terminal; pipe an archive in, or name a file";
    return false;
  }
  std::string why;
  if (!copy_.Open(TemporaryFolder(), "varel-copy", &why)) {
    *error = path + ": no temporary file to copy it into: " + why;
    return false;
  }
  return CopyStreamInto(path, &copy_, error) && copy_.FinishWriting(error);
}

const std::string& CHostFile::readPath() const {
  return copy_.temporaryPath().empty() ? path_ : copy_.temporaryPath();
}

bool CHostFile::Open(const std::string& path, std::string* error) {
  Close();
  path_ = path;
  // A name that stands for something other than a file (a FIFO, /dev/stdin on a pipe).
  const bool stream = path == "-" || GetPathKind(path) == PathKind::kOther;
  if (stream && !CopyStream(path, error)) return false;
  const std::string& opened = stream ? copy_.temporaryPath() : path;
  if (!OpenFileForReading(opened, &handle_, &size_, error) || !reader_.Open(opened, error)) {
    Close();
    return false;
  }
  header_.assign(kHostHeaderBytes, 0);
  std::vector<uint8_t> head;
  if (!ReadAt(0, kHostHeaderBytes, &head)) {
    *error = path + ": cannot read";
    Close();
    return false;
  }
  std::copy(head.begin(), head.end(), header_.begin());
  source_.file = handle_;
  source_.header = header_.data();
  return true;
}

bool CHostFile::ReadAt(uint64_t offset, uint64_t n, std::vector<uint8_t>* out) const {
  out->clear();
  if (offset >= size_) return true;
  n = std::min<uint64_t>(n, size_ - offset);
  if (n > 0x7FFFFFFFu) return false;
  out->resize(static_cast<size_t>(n));
  size_t got = 0;
  std::string ignored;  // callers say what they were reading
  if (!reader_.ReadAt(offset, out->data(), out->size(), &got, &ignored)) {
    out->clear();
    return false;
  }
  out->resize(got);
  return true;
}
