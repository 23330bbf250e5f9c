// The walk's fast decoder against zlib alone, one block at a time. Input: bytes 0 and 1
// give the plain bytes due (little-endian, plus one: 1 to 65536); byte 2 holds flags (bit 0:
// the block is as long as its plain bytes, so the due count is the stream's length; bit 1:
// a plain block "TAIL" follows, which shows where the output position ended); the rest is
// the block's stored bytes, its table value their count.
//
// Both walks must give the same bytes, but for the one documented class of streams, which
// zlib itself names when it rejects them.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "psarc/psarc.h"
#include "reference/reference.h"

namespace {

const uint8_t kTail[] = {'T', 'A', 'I', 'L'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size - 3 >= kPsarcBlockSize) return 0;
  const size_t streamLength = size - 3;
  const bool asLongAsPlain = (data[2] & 1) != 0;
  const bool tail = (data[2] & 2) != 0;
  uint32_t due = asLongAsPlain ? static_cast<uint32_t>(streamLength)
                               : 1u + (data[0] | (static_cast<uint32_t>(data[1]) << 8));
  if (tail) due = kPsarcBlockSize;

  CStoredSizes values;
  uint32_t* v = values.Alloc(tail ? 2 : 1, tail ? 2 : 1);
  FUZZ_CHECK(v != nullptr);
  v[0] = static_cast<uint32_t>(streamLength);
  if (tail) v[1] = sizeof(kTail);
  CGuardedBytes stored(streamLength + (tail ? sizeof(kTail) : 0));
  std::memcpy(stored.data(), data + 3, streamLength);
  if (tail) std::memcpy(stored.data() + streamLength, kTail, sizeof(kTail));

  ArchiveEntry entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.type = kTypePsarc;
  entry.size = due + (tail ? sizeof(kTail) : 0);
  entry.packedSize = stored.size();
  Cbuffer fast;
  Cbuffer zlibOnly;
  DecodeEntryFromBuffer(&fast, values, kPsarcBlockSize, &entry, stored.data(), PsarcInflate::kFast);
  DecodeEntryFromBuffer(&zlibOnly, values, kPsarcBlockSize, &entry, stored.data(),
                        PsarcInflate::kZlibOnly);
  FUZZ_CHECK(fast.data != nullptr && zlibOnly.data != nullptr);
  FUZZ_CHECK(fast.length == zlibOnly.length);
  if (std::memcmp(fast.data, zlibOnly.data, fast.length) != 0) {
    const char* message = ZlibMessage(data + 3, streamLength, due);
    if (!ZlibMessageInTheClass(message)) {
      std::fprintf(stderr, "the walks differ; zlib says: %s\n",
                   message != nullptr ? message : "(no damage)");
    }
    FUZZ_CHECK(ZlibMessageInTheClass(message));
  }
  return 0;
}
