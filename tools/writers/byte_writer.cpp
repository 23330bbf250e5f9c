#include "tools/writers/byte_writer.h"

void CByteWriter::BigEndian(uint64_t v, int width) {
  for (int i = width - 1; i >= 0; --i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void CByteWriter::Le32(uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void CByteWriter::Raw(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + n);
}

void CByteWriter::PatchLe32(size_t pos, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_[pos + i] = static_cast<uint8_t>(v >> (8 * i));
}

void CByteWriter::PatchBe32(size_t pos, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_[pos + i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
