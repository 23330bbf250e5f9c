// The strict archive check: the input is an archive file's bytes, flush against an
// inaccessible page. It is opened and its entries checked (the first and the last
// kChecked / 2 of them) with the reader a host gives: every read must lie inside the file,
// every entry must come back under its own index, and every fault must say why.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "tools/check/archive_check.h"

namespace {

constexpr uint32_t kChecked = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CGuardedBytes file(data, size);
  const CheckReadFn read = [&file](uint64_t offset, void* buffer, size_t n) {
    FUZZ_CHECK(offset <= file.size() && n <= file.size() - offset);
    if (n != 0) std::memcpy(buffer, file.data() + offset, n);
    return true;
  };
  CArchiveCheck archive;
  if (!archive.Open(read, file.size())) {
    FUZZ_CHECK(archive.type() == 0);
    return 0;
  }
  for (const CheckFault& f : archive.faults()) FUZZ_CHECK(!f.message.empty());
  CEntryChecker checker(archive);
  const uint32_t count = archive.entryCount();
  for (uint32_t k = 0; k < count && k < kChecked; ++k) {
    const uint32_t i = k < kChecked / 2 || count <= kChecked ? k : count - (kChecked - k);
    const EntryCheck e = checker.Check(i);
    FUZZ_CHECK(e.index == i);
    for (const CheckFault& f : e.faults) FUZZ_CHECK(!f.message.empty());
  }
  // An index past the end is refused, not read.
  FUZZ_CHECK(!checker.Check(count).ok());
  return 0;
}
