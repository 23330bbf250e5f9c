// Appends integers in a given byte order to a byte vector; the archive writers lay out
// their headers and tables field by field with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CByteWriter {
 public:
  std::vector<uint8_t>& bytes() { return bytes_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

  void U8(uint8_t v) { bytes_.push_back(v); }
  void Be16(uint32_t v) { BigEndian(v, 2); }
  void Be32(uint32_t v) { BigEndian(v, 4); }
  void Be40(uint64_t v) { BigEndian(v, 5); }
  void Le32(uint32_t v);
  void Raw(const void* data, size_t n);
  void Text(const std::string& s) { Raw(s.data(), s.size()); }
  void Zeros(size_t n) { bytes_.resize(bytes_.size() + n, 0); }
  // Overwrites 4 bytes at pos, little-endian or big-endian.
  void PatchLe32(size_t pos, uint32_t v);
  void PatchBe32(size_t pos, uint32_t v);

 private:
  void BigEndian(uint64_t v, int width);
  std::vector<uint8_t> bytes_;
};
