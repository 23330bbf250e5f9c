// What varel pack packs: the files the PATHs name, found and checked before anything is
// compressed, then handed to the writers and read one at a time in pieces; and the
// temporary output file that becomes the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/engine/observer.h"
#include "tools/os/files.h"
#include "tools/writers/archive_stream.h"

// Notes about no single entry carry this index.
constexpr size_t kNoEntry = SIZE_MAX;

// A file found under a PATH, and its entry name (UTF-8).
struct Input {
  std::string name;  // inside the archive
  std::string path;  // on disk
};

// The files that paths name (folders with everything under them, relative to base unless
// empty or absolute), with their entry names, leaving out the file out (the archive being
// replaced; empty for none). Notes what is left out and why; false, after noting why,
// when a path cannot be packed or nothing is found.
bool CollectInputs(const std::vector<std::string>& paths, const std::string& base,
                   const std::string& out, std::vector<Input>* inputs, CEngineObserver* observer);

struct PackInput {
  std::string name;   // inside the archive
  std::string path;   // on disk
  uint64_t size = 0;  // when it was checked: what is packed
};

// Refuses, before anything is compressed, what the format (PKG when pkg, else PSARC)
// cannot hold and what cannot be opened, noting why for each input (kProblem, with its
// position in inputs); gives each entry its stored name and the size that is packed.
// False when anything was refused.
bool CheckInputs(bool pkg, const std::vector<Input>& inputs, std::vector<PackInput>* entries,
                 CEngineObserver* observer);

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
