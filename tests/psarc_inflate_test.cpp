// How the walk inflates a block: the fast decoder's result is taken only where it equals
// zlib's, every other outcome is zlib's, and the one class where they differ is the one
// documented.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>

#include "psarc/psarc.h"
#include "reference/reference.h"
#include "tests/support/psarc_test_support.h"

namespace {

// One entry of `size` plain bytes made of the given blocks, walked over the host's bytes.
Bytes Walk(const std::vector<PsarcBlock>& blocks, uint32_t size, PsarcInflate inflate) {
  CStoredSizes values;
  const uint32_t count = static_cast<uint32_t>(blocks.size());
  uint32_t* v = values.Alloc(count, count);
  EXPECT_NE(v, nullptr);
  Bytes stored;
  for (size_t k = 0; k < blocks.size(); ++k) {
    v[k] = blocks[k].value;
    stored.insert(stored.end(), blocks[k].bytes.begin(), blocks[k].bytes.end());
  }
  ArchiveEntry entry = MakeRecord(kTypePsarc, 0, size, stored.size());
  Cbuffer out;
  DecodeEntryFromBuffer(&out, values, kPsarcBlockSize, &entry, stored.data(), inflate);
  EXPECT_NE(out.data, nullptr);
  if (out.data == nullptr) return Bytes();
  return Bytes(out.data, out.data + size);
}

TEST(PsarcInflate, ReservedCodesAreTheOneClassWhereTheFastDecoderDiffers) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  ASSERT_NE(d, nullptr);
  for (const ReservedCodeStream& s : ReservedCodeStreams()) {
    SCOPED_TRACE(s.what);
    const uint32_t due = static_cast<uint32_t>(s.fastPlain.size());
    // zlib rejects the stream, and names it as one of the class.
    const char* message = ZlibMessage(s.stream.data(), s.stream.size(), due);
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message, s.zlibMessage);
    EXPECT_TRUE(ZlibMessageInTheClass(message));
    // libdeflate reads the reserved code as a valid one, Adler-32 and all.
    Bytes fast(due);
    EXPECT_EQ(
        libdeflate_zlib_decompress(d, s.stream.data(), s.stream.size(), fast.data(), due, nullptr),
        LIBDEFLATE_SUCCESS);
    EXPECT_EQ(fast, s.fastPlain);
    // So the walks differ on it, as documented: zlib alone keeps what zlib wrote.
    Bytes zlibs(due);
    uLongf written = due;
    (void)uncompress(zlibs.data(), &written, s.stream.data(), static_cast<uLong>(s.stream.size()));
    std::fill(zlibs.begin() + written, zlibs.end(), 0);
    EXPECT_EQ(Walk({PlainBlock(s.stream)}, due, PsarcInflate::kFast), s.fastPlain);
    EXPECT_EQ(Walk({PlainBlock(s.stream)}, due, PsarcInflate::kZlibOnly), zlibs);
  }
  libdeflate_free_decompressor(d);
}

TEST(PsarcInflate, EveryOtherStreamGivesZlibsBytes) {
  // Real streams of every common level, then damaged: cut, a byte changed, a checksum
  // broken; each as a block that is due fewer, exactly as many and more bytes than it
  // codes, alone and before a plain block that shows where the output position ended.
  const Bytes plain = Concat({TextBytes(30000), NoiseBytes(2000, 31), TextBytes(8000)});
  const Bytes tail = BytesOf("tail");
  size_t compared = 0;
  for (int level : {1, 5, 6, 9}) {
    const Bytes z = ZlibBlock(plain, level).bytes;
    std::vector<Bytes> variants = {z};
    for (size_t cut : {z.size() - 1, z.size() - 4, z.size() / 2, size_t{3}}) {
      variants.push_back(Bytes(z.begin(), z.begin() + static_cast<long>(cut)));
    }
    // The stream then bytes after it, as long as its plain bytes in all: a block kept plain.
    Bytes padded = z;
    padded.resize(plain.size(), 0x5A);
    variants.push_back(padded);
    for (size_t at : {size_t{2}, size_t{3}, z.size() / 3, z.size() - 5, z.size() - 1}) {
      Bytes flipped = z;
      flipped[at] ^= 0x10;
      variants.push_back(flipped);
    }
    for (const Bytes& v : variants) {
      for (uint32_t due : {uint32_t{1000}, uint32_t{39999}, uint32_t{40000}, uint32_t{50000}}) {
        SCOPED_TRACE(testing::Message() << "level " << level << ", " << v.size()
                                        << " stored bytes, " << due << " due");
        const std::vector<PsarcBlock> alone = {PlainBlock(v)};
        EXPECT_EQ(Walk(alone, due, PsarcInflate::kFast), Walk(alone, due, PsarcInflate::kZlibOnly));
        const std::vector<PsarcBlock> before = {PlainBlock(v), PlainBlock(tail)};
        const uint32_t size = 65536 + static_cast<uint32_t>(tail.size());
        if (due == 40000) {
          EXPECT_EQ(Walk(before, size, PsarcInflate::kFast),
                    Walk(before, size, PsarcInflate::kZlibOnly));
        }
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 4u * 11u * 4u);
}

}  // namespace
