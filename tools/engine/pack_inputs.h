// What varel pack hands the writers: the files to pack, read one at a time in pieces, and
// the temporary output file that becomes the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/os/files.h"
#include "tools/writers/archive_stream.h"

struct PackInput {
  std::string name;   // inside the archive
  std::string path;   // on disk
  uint64_t size = 0;  // when it was checked: what is packed
};

class CPackInputFiles : public CEntrySource {
 public:
  explicit CPackInputFiles(const std::vector<PackInput>& inputs) : inputs_(inputs) {}
  size_t Count() const override { return inputs_.size(); }
  const std::string& Name(size_t index) const override { return inputs_[index].name; }
  uint64_t Size(size_t index) const override { return inputs_[index].size; }
  // A file that has become shorter than its checked size fails the read.
  bool Read(size_t index, uint64_t offset, uint8_t* out, size_t n, std::string* error) override;

 private:
  const std::vector<PackInput>& inputs_;
  CFileReader file_;
  size_t open_ = SIZE_MAX;  // the index of the open file
};

class COutputFileSink : public CArchiveSink {
 public:
  explicit COutputFileSink(COutputFile* file) : file_(file) {}
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t n, std::string* error) override {
    if (offset + n > end_) end_ = offset + n;
    return file_->WriteAt(offset, data, n, error);
  }
  uint64_t end() const { return end_; }  // the size of the archive written

 private:
  COutputFile* file_;
  uint64_t end_ = 0;
};
