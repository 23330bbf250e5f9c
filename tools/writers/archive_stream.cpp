#include "tools/writers/archive_stream.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

bool CMemorySink::WriteAt(uint64_t offset, const uint8_t* data, size_t n, std::string* error) {
  if (offset > SIZE_MAX - n) {
    *error = "the archive does not fit in memory";
    return false;
  }
  const size_t end = static_cast<size_t>(offset) + n;
  try {
    if (bytes_.size() < end) bytes_.resize(end, 0);
  } catch (const std::bad_alloc&) {
    *error = "not enough memory for the archive";
    return false;
  } catch (const std::length_error&) {
    *error = "the archive does not fit in memory";
    return false;
  }
  if (n != 0) std::memcpy(bytes_.data() + offset, data, n);
  return true;
}

bool CMemoryEntries::Read(size_t index, uint64_t offset, uint8_t* out, size_t n,
                          std::string* error) {
  const std::vector<uint8_t>& data = entries_[index].data;
  if (offset > data.size() || n > data.size() - offset) {
    *error = entries_[index].name + ": read past its end";
    return false;
  }
  if (n != 0) std::memcpy(out, data.data() + offset, n);
  return true;
}

bool WriteInMemory(const StreamWriteFn& write, const std::vector<ArchiveInput>& entries,
                   std::vector<uint8_t>* out, std::string* error) {
  CMemoryEntries source(entries);
  CMemorySink sink;
  if (!write(source, &sink, error)) return false;
  out->swap(sink.bytes());
  return true;
}

bool WriteCaught(const std::function<bool()>& write, std::string* error) {
  try {
    return write();
  } catch (const std::bad_alloc&) {
    *error = "not enough memory to build the archive";
    return false;
  }
}

namespace {

std::string Printable(unsigned char c) {
  if (c == '\n') return "a line break";
  if (c == 0) return "a zero byte";
  char text[16];
  std::snprintf(text, sizeof(text), "the byte 0x%02X", c);
  return text;
}

// "2 GiB" for whole GiB, otherwise the bytes.
std::string Amount(uint64_t bytes) {
  const uint64_t gib = uint64_t{1} << 30;
  if (bytes % gib == 0) return std::to_string(bytes / gib) + " GiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

std::string EntryRefusal(const ArchiveLimits& limits, const std::string& name, uint64_t size) {
  if (size >= limits.entryBytes) {
    return "it is " + Amount(limits.entryBytes) + " or more; a " + limits.format +
           " entry must be smaller";
  }
  if (name.size() > limits.nameBytes) {
    return "its name is " + std::to_string(name.size()) + " bytes; a " + limits.format +
           " name holds at most " + std::to_string(limits.nameBytes);
  }
  const size_t stop = name.find_first_of(std::string(limits.nameStops) + '\0');
  if (stop != std::string::npos) {
    return "its name holds " + Printable(static_cast<unsigned char>(name[stop])) + ", which a " +
           limits.format + " name cannot hold";
  }
  return std::string();
}
