// What the archive writers read and write through. They never open files themselves: varel
// hands them its files, the tests and benchmarks memory. An archive is written as it is
// built: the header and tables are reserved at the start, the stored bytes written behind
// them piece by piece, and the tables filled in last, so memory never grows with the bytes
// packed (only with the number of entries: names, table rows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/writers/archive_input.h"

// The archive being written.
class CArchiveSink {
 public:
  virtual ~CArchiveSink() = default;
  // Writes data[0, n) at offset (past the end so far: the gap reads as zeros). False, with
  // error saying why, when it cannot.
  virtual bool WriteAt(uint64_t offset, const uint8_t* data, size_t n, std::string* error) = 0;
};

// The entries to pack, in archive order: each one's name and size are known before packing
// begins; its bytes are read in pieces, some more than once, always from the packing thread.
class CEntrySource {
 public:
  virtual ~CEntrySource() = default;
  virtual size_t Count() const = 0;
  virtual const std::string& Name(size_t index) const = 0;
  virtual uint64_t Size(size_t index) const = 0;
  // Reads bytes [offset, offset + n) of an entry, which lie within its size, into out.
  // False, with error saying why, when they cannot all be read (a file that shrank too).
  virtual bool Read(size_t index, uint64_t offset, uint8_t* out, size_t n, std::string* error) = 0;
};

class CMemorySink : public CArchiveSink {
 public:
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t n, std::string* error) override;
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

class CMemoryEntries : public CEntrySource {
 public:
  explicit CMemoryEntries(const std::vector<ArchiveInput>& entries) : entries_(entries) {}
  size_t Count() const override { return entries_.size(); }
  const std::string& Name(size_t index) const override { return entries_[index].name; }
  uint64_t Size(size_t index) const override { return entries_[index].data.size(); }
  bool Read(size_t index, uint64_t offset, uint8_t* out, size_t n, std::string* error) override;

 private:
  const std::vector<ArchiveInput>& entries_;
};

// Runs write, a streaming writer, from entries in memory into out: the in-memory entry
// points of the writers. Memory that runs out inside write makes it fail with a message.
typedef std::function<bool(CEntrySource& source, CArchiveSink* sink, std::string* error)>
    StreamWriteFn;
bool WriteInMemory(const StreamWriteFn& write, const std::vector<ArchiveInput>& entries,
                   std::vector<uint8_t>* out, std::string* error);
// Calls write, turning memory that runs out into a failure that says so.
bool WriteCaught(const std::function<bool()>& write, std::string* error);

// The two entry points of a writer. Stream(entries, options, sink, error) is one archive
// being written: Check() refuses what the format cannot hold, Write() writes it.
template <typename Stream, typename Options>
bool WriteStream(CEntrySource& entries, const Options& options, CArchiveSink* sink,
                 std::string* error) {
  Stream stream(entries, options, sink, error);
  return WriteCaught([&stream] { return stream.Check() && stream.Write(); }, error);
}
// The in-memory entry point over the streaming one, write.
template <typename Options>
bool WriteInMemory(bool (*write)(CEntrySource&, const Options&, CArchiveSink*, std::string*),
                   const std::vector<ArchiveInput>& entries, const Options& options,
                   std::vector<uint8_t>* out, std::string* error) {
  const StreamWriteFn bound = [write, &options](CEntrySource& s, CArchiveSink* k, std::string* e) {
    return write(s, options, k, e);
  };
  return WriteInMemory(bound, entries, out, error);
}

// What a format holds, so that a packer can refuse entries before compressing any.
struct ArchiveLimits {
  const char* format;     // "PSARC", "PKG"
  uint64_t entryBytes;    // every entry is smaller
  size_t nameBytes;       // the longest name
  const char* nameStops;  // bytes no name may hold (a zero byte is always among them)
  uint64_t archiveBytes;  // the largest archive its offsets reach
};

// Why an entry of that name and size cannot be packed under limits ("its name is 70
// bytes; a PKG name holds at most 63"), or empty when it can.
std::string EntryRefusal(const ArchiveLimits& limits, const std::string& name, uint64_t size);

// Progress of a pack, reported from the packing thread after each piece written.
struct PackProgress {
  size_t entriesDone = 0;
  uint64_t bytesDone = 0;  // of the entries' plain bytes
};
typedef std::function<void(const PackProgress&)> PackProgressFn;
