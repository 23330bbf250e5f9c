#include "tools/writers/psarc_writer.h"

#include <cmath>
#include <cstring>

#include <zlib.h>

#include "tools/writers/byte_writer.h"

namespace {

constexpr uint32_t kHeaderBytes = 32;
constexpr uint32_t kTocEntryBytes = 30;
constexpr uint64_t kMaxEntrySize = 0x80000000ull;  // the reader walks sizes below 2 GiB
constexpr uint64_t kMax40 = 0xFFFFFFFFFFull;

uint32_t Rotl(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }

// One 64-byte round of MD5 over state.
void Md5Chunk(uint32_t state[4], const uint8_t* chunk) {
  static const unsigned kShift[4][4] = {
      {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  static uint32_t table[64];
  static bool ready = false;
  if (!ready) {
    for (int i = 0; i < 64; ++i) {
      table[i] = static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
    }
    ready = true;
  }
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = static_cast<uint32_t>(chunk[4 * i]) | (static_cast<uint32_t>(chunk[4 * i + 1]) << 8) |
           (static_cast<uint32_t>(chunk[4 * i + 2]) << 16) |
           (static_cast<uint32_t>(chunk[4 * i + 3]) << 24);
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    f += a + table[i] + m[g];
    a = d;
    d = c;
    c = b;
    b += Rotl(f, kShift[i / 16][i % 4]);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

// Whether a reader would take a short block stored as it stands for a zlib stream: it does
// only when zlib ends the stream exactly at the block's end with exactly as many plain
// bytes as the block holds. Any other stored block is copied as it stands.
bool ReadAsZlibStream(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 2 || bytes[0] != 0x78) return false;
  std::vector<uint8_t> plain(bytes.size());
  uLongf written = static_cast<uLongf>(plain.size());
  uLong used = static_cast<uLong>(bytes.size());
  return uncompress2(plain.data(), &written, bytes.data(), &used) == Z_OK && used == bytes.size() &&
         written == bytes.size();
}

std::vector<uint8_t> Compress(const uint8_t* data, size_t length, int level) {
  uLongf n = compressBound(static_cast<uLong>(length));
  std::vector<uint8_t> out(n);
  if (compress2(out.data(), &n, data, static_cast<uLong>(length), level) != Z_OK) return {};
  out.resize(n);
  return out;
}

}  // namespace

void PsarcNameDigest(const std::string& name, uint8_t digest[16]) {
  uint32_t state[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  std::vector<uint8_t> message(name.begin(), name.end());
  const uint64_t bits = static_cast<uint64_t>(message.size()) * 8;
  message.push_back(0x80);
  while (message.size() % 64 != 56) message.push_back(0);
  for (int i = 0; i < 8; ++i) message.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  for (size_t at = 0; at < message.size(); at += 64) Md5Chunk(state, message.data() + at);
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(state[i / 4] >> (8 * (i % 4)));
}

namespace {

// The blocks of one entry; ambiguous is set when a short piece that a reader would inflate
// had to be stored as it stands (its compressed form does not fit a block).
std::vector<PsarcBlock> BlocksOf(const uint8_t* data, size_t length, int level, bool* ambiguous) {
  std::vector<PsarcBlock> blocks;
  for (size_t at = 0; at < length; at += kPsarcWriterBlockSize) {
    const size_t piece = length - at < kPsarcWriterBlockSize ? length - at : kPsarcWriterBlockSize;
    PsarcBlock block;
    block.bytes = Compress(data + at, piece, level);
    if (block.bytes.empty() || block.bytes.size() >= piece) {
      block.bytes.assign(data + at, data + at + piece);
      // A short stored block that a reader would inflate is kept compressed instead, even
      // though that is not smaller, when it fits.
      if (piece < kPsarcWriterBlockSize && ReadAsZlibStream(block.bytes)) {
        std::vector<uint8_t> packed = Compress(data + at, piece, 9);
        if (!packed.empty() && packed.size() < kPsarcWriterBlockSize) {
          block.bytes.swap(packed);
        } else {
          *ambiguous = true;
        }
      }
    }
    block.value =
        block.bytes.size() == kPsarcWriterBlockSize ? 0 : static_cast<uint32_t>(block.bytes.size());
    blocks.push_back(std::move(block));
  }
  return blocks;
}

}  // namespace

std::vector<PsarcBlock> PsarcBlocksOf(const uint8_t* data, size_t length, int level) {
  bool ambiguous = false;
  return BlocksOf(data, length, level, &ambiguous);
}

size_t AppendPsarcEntry(PsarcLayout* layout, uint64_t size, const std::vector<PsarcBlock>& blocks) {
  PsarcLayoutEntry entry;
  entry.firstBlock = static_cast<uint32_t>(layout->blockValues.size());
  entry.size = size;
  entry.dataOffset = layout->data.size();
  for (const PsarcBlock& b : blocks) {
    layout->blockValues.push_back(b.value);
    layout->data.insert(layout->data.end(), b.bytes.begin(), b.bytes.end());
  }
  layout->entries.push_back(entry);
  return layout->entries.size() - 1;
}

std::vector<uint8_t> WritePsarcLayout(const PsarcLayout& layout) {
  const uint64_t tablesEnd = kHeaderBytes + kTocEntryBytes * layout.entries.size() +
                             static_cast<uint64_t>(layout.valueWidth) * layout.blockValues.size();
  CByteWriter w;
  w.Raw(layout.magic, 4);
  w.Be32(layout.version);
  w.Raw(layout.compression, 4);
  w.Be32(layout.tocLength ? *layout.tocLength : static_cast<uint32_t>(tablesEnd));
  w.Be32(layout.tocEntrySize);
  w.Be32(layout.tocEntryCount ? *layout.tocEntryCount
                              : static_cast<uint32_t>(layout.entries.size()));
  w.Be32(layout.blockSize);
  w.Be32(layout.flags);
  for (const PsarcLayoutEntry& e : layout.entries) {
    w.Raw(e.digest, sizeof(e.digest));
    w.Be32(e.firstBlock);
    w.Be40(e.size & kMax40);
    w.Be40((e.offset ? *e.offset : tablesEnd + e.dataOffset) & kMax40);
  }
  for (uint32_t v : layout.blockValues) {
    for (int i = static_cast<int>(layout.valueWidth) - 1; i >= 0; --i) {
      w.U8(static_cast<uint8_t>(i < 4 ? v >> (8 * i) : 0));
    }
  }
  w.Raw(layout.data.data(), layout.data.size());
  return w.bytes();
}

bool WritePsarc(const std::vector<ArchiveInput>& entries, const PsarcWriterOptions& options,
                std::vector<uint8_t>* out, std::string* error) {
  if (options.level < 0 || options.level > 9) {
    *error = "the zlib level must lie between 0 and 9";
    return false;
  }
  std::string manifest;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ArchiveInput& e = entries[i];
    if (e.name.find_first_of(std::string("\n\0", 2)) != std::string::npos) {
      *error = "the name of entry " + std::to_string(i) + " holds a line break or a zero byte";
      return false;
    }
    if (e.data.size() >= kMaxEntrySize) {
      *error = "entry '" + e.name + "' is 2 GiB or more";
      return false;
    }
    if (i != 0) manifest += '\n';
    manifest += e.name;
  }
  if (manifest.size() >= kMaxEntrySize) {
    *error = "the names take 2 GiB or more";
    return false;
  }

  PsarcLayout layout;
  auto append = [&](const uint8_t* data, size_t length, const std::string& name) {
    bool ambiguous = false;
    AppendPsarcEntry(&layout, length, BlocksOf(data, length, options.level, &ambiguous));
    if (ambiguous) *error = "the last block of '" + name + "' cannot be stored unambiguously";
    return !ambiguous;
  };
  if (!append(reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size(), "(names)")) {
    return false;
  }
  for (const ArchiveInput& e : entries) {
    const size_t index = layout.entries.size();
    if (!append(e.data.data(), e.data.size(), e.name)) return false;
    PsarcNameDigest(e.name, layout.entries[index].digest);
  }
  *out = WritePsarcLayout(layout);
  return true;
}
