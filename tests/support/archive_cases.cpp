#include "tests/support/archive_cases.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "bytes/byte_order.h"
#include "psarc/psarc.h"
#include "tests/support/psarc_test_support.h"
#include "tools/writers/byte_writer.h"

std::vector<ArchiveInput> MixedInputs() {
  return {
      {"a.txt", TextBytes(2 * 65536 + 5000)},
      {"b.bin", NoiseBytes(1000, 3)},
      {"Dir/Mixed.TXT", TextBytes(5000)},
      {"dir/d.txt", TextBytes(300)},
      {"empty", {}},
      {"exact", NoiseBytes(65536, 5)},
      {"dir/e.bin", NoiseBytes(70000, 6)},
  };
}

Bytes PackPsarcWith(const std::vector<ArchiveInput>& inputs, const PsarcWriterOptions& options) {
  Bytes out;
  std::string error;
  EXPECT_TRUE(WritePsarc(inputs, options, &out, &error)) << error;
  return out;
}

std::vector<PsarcLayoutCase> LaterPsarcLayouts() {
  std::vector<PsarcLayoutCase> cases;
  PsarcWriterOptions o;
  o.tocByDigest = true;
  cases.push_back({"psarc, table in digest order", o});
  o = PsarcWriterOptions();
  o.zeroSeparated = true;
  cases.push_back({"psarc, zero-separated names", o});
  o.tocByDigest = true;
  o.zeroAfterLastName = true;
  cases.push_back({"psarc, both, a zero after the last name", o});
  o = PsarcWriterOptions();
  o.tocByDigest = true;
  o.upperCaseDigests = true;
  o.leadingSlash = true;
  cases.push_back({"psarc, upper-cased digests, leading slash", o});
  o.upperCaseDigests = false;
  o.digestWithoutSlash = true;
  o.zeroSeparated = true;
  cases.push_back({"psarc, digests without the slash", o});
  return cases;
}

size_t Row(size_t i) { return kPsarcHeaderSize + kPsarcTocEntrySize * i; }
size_t ValueAt(const Bytes& a, size_t k) {
  return Row(be32(&a[kPsarcHeaderTocEntryCountAt])) + 2 * k;
}
uint32_t Param(const Bytes& a, size_t i) { return be32(&a[Row(i) + kPsarcTocFirstBlockAt]); }
uint64_t Offset(const Bytes& a, size_t i) { return be40(&a[Row(i) + kPsarcTocOffsetAt]); }
uint32_t Value(const Bytes& a, size_t k) { return be16(&a[ValueAt(a, k)]); }
void PutBe(Bytes* a, size_t at, uint64_t v, size_t width) {
  for (size_t k = 0; k < width; ++k) {
    (*a)[at + k] = static_cast<uint8_t>(v >> (8 * (width - 1 - k)));
  }
}
void SetValue(Bytes* a, size_t k, uint32_t v) { PutBe(a, ValueAt(*a, k), v, 2); }

size_t PkgRowAt(size_t i) { return kPkgHeaderSize + kPkgDirEntrySize * i; }
uint32_t PkgField(const Bytes& a, size_t i, size_t field) { return le32(&a[PkgRowAt(i) + field]); }
void SetPkgField(Bytes* a, size_t i, size_t field, uint32_t v) {
  for (size_t k = 0; k < 4; ++k) {
    (*a)[PkgRowAt(i) + field + k] = static_cast<uint8_t>(v >> (8 * k));
  }
}

Bytes PkgOf(const std::vector<PkgRow>& rows) {
  CByteWriter w;
  w.Le32(0);                                   // reserved
  w.Le32(static_cast<uint32_t>(rows.size()));  // entryCount
  uint32_t at = static_cast<uint32_t>(kPkgHeaderSize + kPkgDirEntrySize * rows.size());
  for (const PkgRow& r : rows) {
    Bytes name(kPkgDirNameBytes, 0);
    std::copy(r.name.begin(), r.name.end(), name.begin());
    w.Raw(name.data(), name.size());
    w.Le32(static_cast<uint32_t>(r.size));           // plain size
    w.Le32(static_cast<uint32_t>(r.stored.size()));  // stored size
    w.Le32(at);                                      // offset
    w.Le32(r.compressed);
    at += static_cast<uint32_t>(r.stored.size());
  }
  for (const PkgRow& r : rows) w.Raw(r.stored.data(), r.stored.size());
  return w.bytes();
}

Bytes LzStream(uint8_t escape, int32_t decodedLength, int32_t endOffset, const Bytes& tokens) {
  CByteWriter w;
  w.Le32(static_cast<uint32_t>(decodedLength));
  w.Le32(static_cast<uint32_t>(endOffset));
  w.U8(escape);
  w.Zeros(3);
  w.Raw(tokens.data(), tokens.size());
  return w.bytes();
}
