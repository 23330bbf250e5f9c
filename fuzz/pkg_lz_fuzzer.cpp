// The escape-byte LZ extraction alone. Input: bytes 0 to 3 give the entry's plain size L
// (the low 18 bits of the first three bytes: up to 256 KiB, as much as a few KiB of tokens
// can produce; when bit 7 of byte 3 is set, L is instead 0xFFFFFF00 plus byte 0, sizes
// whose block of L + 256 bytes cannot exist); the rest is the stored bytes, the 12-byte
// header and the tokens, handed in flush against an inaccessible page with packedSize
// equal to their length.
//
// Whatever the stream, the decoder must give what the byte-at-a-time definition gives: the
// same bytes, counts and stop, both into an output of exactly the plain size and into the
// host's block of L + 256 bytes. Where the header's decodedLength is at most L, the
// definition must never meet the block's end: the margin holds the last token's overrun.
#include <cstring>
#include <vector>

#include "bytes/byte_order.h"
#include "fuzz/fuzz_support.h"
#include "pkg/pkg.h"
#include "plugin/plugin.h"
#include "reference/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t plain = (data[0] | (data[1] << 8) | (data[2] << 16)) & 0x3FFFFu;
  if (data[3] & 0x80) plain = 0xFFFFFF00u + data[0];
  CGuardedBytes stored(data + 4, size - 4);

  ArchiveEntry entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.type = kTypePkg;
  entry.param = 1;
  entry.packedSize = stored.size();
  entry.size = 0xFFFFFFFF00000000ull | plain;  // a sign-extended directory value keeps its top
  std::memcpy(entry.tag, "PKG", 4);

  // The pure decoder, with an output of exactly the plain size and no margin: clipped
  // there, it writes nothing past it even when the tokens overrun, and matches the
  // definition on the same buffers.
  if (plain <= (1u << 18)) {
    CGuardedBytes out(plain);
    const PkgLzResult r = DecodePkgLz(stored.data(), stored.size(), out.data(), out.size());
    FUZZ_CHECK(r.produced <= out.size());
    // Kept from input to input: fresh zero pages for every buffer cost more than decoding.
    static std::vector<uint8_t> defined;
    defined.assign(plain, 0);
    const PkgLzResult d =
        DecodePkgLzReference(stored.data(), stored.size(), defined.data(), defined.size());
    FUZZ_CHECK(r.produced == d.produced && r.consumed == d.consumed);
    FUZZ_CHECK(plain == 0 || std::memcmp(out.data(), defined.data(), plain) == 0);
  }

  CPluginArchivePSX plugin;
  HGLOBAL contents = FuzzGetFile(plugin, stored.data(), &entry);
  if (contents == nullptr) {
    // Only a block that cannot exist may be refused here.
    FUZZ_CHECK(uint64_t{plain} + 256 >= 0x7FFFFFFFu);
    return 0;
  }
  FUZZ_CHECK(uint64_t{GlobalSize(contents)} == uint64_t{plain} + 256);
  FUZZ_CHECK(entry.size == plain);

  static std::vector<uint8_t> expected;
  expected.assign(size_t{plain} + 256, 0);
  PkgLzEnd end = PkgLzEnd::kStream;
  (void)DecodePkgLzDefinition(stored.data(), stored.size(), expected.data(), expected.size(), &end);
  if (stored.size() >= kPkgLzHeaderSize) {
    const int32_t decodedLength = le32s(stored.data() + kPkgLzDecodedLengthAt);
    FUZZ_CHECK(decodedLength < 0 || static_cast<uint32_t>(decodedLength) > plain ||
               end != PkgLzEnd::kOutputFull);
  }
  const auto* block = static_cast<const uint8_t*>(GlobalLock(contents));
  FUZZ_CHECK(block != nullptr);
  FUZZ_CHECK(std::memcmp(block, expected.data(), expected.size()) == 0);
  GlobalUnlock(contents);
  GlobalFree(contents);
  return 0;
}
