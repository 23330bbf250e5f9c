#include "tools/writers/psarc_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include <zlib.h>

#include "digest/md5.h"
#include "tools/util/ordered_pool.h"
#include "tools/writers/byte_writer.h"

namespace {

constexpr uint32_t kBlockValueBytes = 2;
constexpr uint64_t kMaxEntrySize = 0x80000000ull;  // the reader walks sizes below 2 GiB
constexpr size_t kMaxNameBytes = sizeof(ArchiveEntry::name) - 1;  // what a listing gives back
constexpr uint64_t kMax40 = 0xFFFFFFFFFFull;
// Blocks compressed per task. One block takes milliseconds at level 9, far more than
// handing it to a thread costs, and one-block pieces keep the bytes in flight small.
constexpr size_t kPieceBlocks = 1;
constexpr size_t kPieceBytes = kPieceBlocks * kPsarcBlockSize;

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
  Md5Digest(name.data(), name.size(), digest);
}

std::string PsarcUpperCased(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

namespace {

// The blocks of one entry; ambiguous is set when a short piece that a reader would inflate
// had to be stored as it stands (its compressed form does not fit a block).
std::vector<PsarcBlock> BlocksOf(const uint8_t* data, size_t length, int level, bool* ambiguous) {
  std::vector<PsarcBlock> blocks;
  for (size_t at = 0; at < length; at += kPsarcBlockSize) {
    const size_t piece = length - at < kPsarcBlockSize ? length - at : kPsarcBlockSize;
    PsarcBlock block;
    block.bytes = Compress(data + at, piece, level);
    if (block.bytes.empty() || block.bytes.size() >= piece) {
      block.bytes.assign(data + at, data + at + piece);
      // A short stored block that a reader would inflate is kept compressed instead, even
      // though that is not smaller, when it fits.
      if (piece < kPsarcBlockSize && ReadAsZlibStream(block.bytes)) {
        std::vector<uint8_t> packed = Compress(data + at, piece, 9);
        if (!packed.empty() && packed.size() < kPsarcBlockSize) {
          block.bytes.swap(packed);
        } else {
          *ambiguous = true;
        }
      }
    }
    block.value =
        block.bytes.size() == kPsarcBlockSize ? 0 : static_cast<uint32_t>(block.bytes.size());
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
  const uint64_t tablesEnd = kPsarcHeaderSize + kPsarcTocEntrySize * layout.entries.size() +
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

ArchiveLimits PsarcLimits() {
  return ArchiveLimits{"PSARC", kMaxEntrySize, kMaxNameBytes, "\n", kMax40 + 1};
}

namespace {

// Up to kPieceBlocks blocks of one entry, compressed on some thread.
class CPsarcPiece : public CPoolTask {
 public:
  void Run() override {
    blocks = BlocksOf(plain.data(), plain.size(), level, &ambiguous);
    std::vector<uint8_t>().swap(plain);
  }

  size_t entry = 0;  // in the order given, 0 being the name list
  bool first = false;
  bool last = false;
  bool shared = false;  // the entry's blocks are an earlier entry's: nothing to compress
  int level = 9;
  size_t plainBytes = 0;
  std::vector<uint8_t> plain;
  std::vector<PsarcBlock> blocks;
  bool ambiguous = false;
};

// One archive being written: the table of contents and block values in memory, the
// blocks in the sink from the end of the tables on. Entries are numbered in the order
// given, 0 being the name list; rows_ maps them to their rows of the table of contents.
class CPsarcStream {
 public:
  CPsarcStream(CEntrySource& source, const PsarcWriterOptions& options, CArchiveSink* sink,
               std::string* error)
      : source_(source), options_(options), sink_(sink), error_(error) {}

  bool Check();
  bool Write();

 private:
  uint64_t SizeOf(size_t entry) const {
    return entry == 0 ? names_.size() : source_.Size(entry - 1);
  }
  const std::string& NameOf(size_t entry) const {
    static const std::string kNames = "(names)";
    return entry == 0 ? kNames : source_.Name(entry - 1);
  }
  // The name as the manifest holds it.
  std::string WrittenName(size_t entry) const {
    return options_.leadingSlash ? "/" + NameOf(entry) : NameOf(entry);
  }
  void Digest(size_t entry, uint8_t digest[16]) const;
  bool FindShared();
  bool ReadPiece(size_t entry, uint64_t at, CPsarcPiece* piece);
  bool Consume(CPsarcPiece& piece);
  bool WriteTables();

  CEntrySource& source_;
  const PsarcWriterOptions& options_;
  CArchiveSink* sink_;
  std::string* error_;
  std::string names_;
  std::vector<size_t> rows_;    // entry -> row of the table of contents
  std::vector<size_t> shares_;  // entry -> the earlier entry whose blocks it shares, or itself
  PsarcLayout layout_;          // the header and tables; its data stays empty
  uint64_t tablesEnd_ = 0;
  uint64_t dataEnd_ = 0;  // where the next block goes
  PackProgress progress_;
};

void CPsarcStream::Digest(size_t entry, uint8_t digest[16]) const {
  std::string name = WrittenName(entry);
  if (options_.leadingSlash && options_.digestWithoutSlash) name.erase(0, 1);
  if (options_.upperCaseDigests) name = PsarcUpperCased(name);
  PsarcNameDigest(name, digest);
}

bool CPsarcStream::Check() {
  if (options_.level < 0 || options_.level > 9) {
    *error_ = "the zlib level must lie between 0 and 9";
    return false;
  }
  const ArchiveLimits limits = PsarcLimits();
  const size_t count = source_.Count();
  uint64_t blocks = 0;
  uint64_t plainBytes = 0;
  std::vector<std::string> written;
  for (size_t i = 0; i < count; ++i) {
    std::string why = EntryRefusal(limits, source_.Name(i), source_.Size(i));
    if (why.empty() && options_.leadingSlash && source_.Name(i).size() == limits.nameBytes) {
      why = "with its leading '/' its name is " + std::to_string(limits.nameBytes + 1) +
            " bytes; a PSARC name holds at most " + std::to_string(limits.nameBytes);
    }
    if (!why.empty()) {
      *error_ = "'" + source_.Name(i) + "': " + why;
      return false;
    }
    written.push_back(WrittenName(i + 1));
  }
  if (!FindShared()) return false;
  for (size_t i = 0; i < count; ++i) {
    if (shares_[i + 1] != i + 1) continue;  // its blocks are an earlier entry's
    blocks += (source_.Size(i) + kPsarcBlockSize - 1) / kPsarcBlockSize;
    plainBytes += source_.Size(i);
  }
  if (options_.zeroSeparated) std::sort(written.begin(), written.end());
  const char separator = options_.zeroSeparated ? '\0' : '\n';
  for (size_t i = 0; i < written.size(); ++i) {
    if (i != 0) names_ += separator;
    names_ += written[i];
  }
  if (options_.zeroSeparated && options_.zeroAfterLastName) names_ += '\0';
  if (names_.size() >= kMaxEntrySize) {
    *error_ = "the names take 2 GiB or more";
    return false;
  }
  blocks += (names_.size() + kPsarcBlockSize - 1) / kPsarcBlockSize;
  const uint64_t entries = uint64_t{count} + 1;
  tablesEnd_ = kPsarcHeaderSize + kPsarcTocEntrySize * entries + kBlockValueBytes * blocks;
  if (tablesEnd_ > UINT32_MAX) {
    *error_ = "too many entries and blocks for the table of contents";
    return false;
  }
  // No block is stored larger than its plain bytes, so this bounds the archive.
  if (tablesEnd_ + names_.size() + plainBytes > limits.archiveBytes) {
    *error_ = "the archive could pass the 1 TiB its offsets reach";
    return false;
  }
  return true;
}

// Marks every entry whose contents equal an earlier one's by size and MD5.
bool CPsarcStream::FindShared() {
  const size_t entries = source_.Count() + 1;
  shares_.resize(entries);
  for (size_t e = 0; e < entries; ++e) shares_[e] = e;
  if (!options_.shareIdentical) return true;
  // The first entry of each size and contents digest, looked up in log time: an archive of
  // many thousands of files is not held up by comparing each with every earlier one.
  typedef std::pair<uint64_t, std::array<uint8_t, 16>> Contents;
  std::map<Contents, size_t> first;
  std::vector<uint8_t> piece(kPieceBytes);
  for (size_t e = 1; e < entries; ++e) {
    Contents key;
    key.first = SizeOf(e);
    CMd5 md5;
    for (uint64_t at = 0; at < key.first; at += kPieceBytes) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPieceBytes, key.first - at));
      if (!source_.Read(e - 1, at, piece.data(), n, error_)) return false;
      md5.Update(piece.data(), n);
    }
    md5.Final(key.second.data());
    shares_[e] = first.emplace(key, e).first->second;
  }
  return true;
}

bool CPsarcStream::ReadPiece(size_t entry, uint64_t at, CPsarcPiece* piece) {
  const uint64_t size = SizeOf(entry);
  piece->entry = entry;
  piece->first = at == 0;
  piece->shared = shares_[entry] != entry;
  piece->last = piece->shared || size - at <= kPieceBytes;
  piece->level = options_.level;
  piece->plainBytes = static_cast<size_t>(piece->last ? size - at : kPieceBytes);
  if (piece->shared) return true;  // plainBytes counts the entry for the progress only
  piece->plain.resize(piece->plainBytes);
  if (entry == 0) {
    if (piece->plainBytes != 0)
      std::memcpy(piece->plain.data(), names_.data() + at, piece->plainBytes);
    return true;
  }
  return source_.Read(entry - 1, at, piece->plain.data(), piece->plainBytes, error_);
}

bool CPsarcStream::Consume(CPsarcPiece& piece) {
  if (piece.failed) {
    *error_ = "not enough memory to compress '" + NameOf(piece.entry) + "'";
    return false;
  }
  if (piece.ambiguous) {
    *error_ = "the last block of '" + NameOf(piece.entry) + "' cannot be stored unambiguously";
    return false;
  }
  PsarcLayoutEntry& row = layout_.entries[rows_[piece.entry]];
  if (piece.shared) {
    // The earlier entry came first, so its row is filled already.
    const PsarcLayoutEntry& original = layout_.entries[rows_[shares_[piece.entry]]];
    row.firstBlock = original.firstBlock;
    row.dataOffset = original.dataOffset;
  } else if (piece.first) {
    row.firstBlock = static_cast<uint32_t>(layout_.blockValues.size());
    row.dataOffset = dataEnd_ - tablesEnd_;
  }
  for (const PsarcBlock& b : piece.blocks) {
    if (!sink_->WriteAt(dataEnd_, b.bytes.data(), b.bytes.size(), error_)) return false;
    dataEnd_ += b.bytes.size();
    layout_.blockValues.push_back(b.value);
  }
  if (piece.entry != 0) {
    progress_.bytesDone += piece.plainBytes;
    if (piece.last) ++progress_.entriesDone;
    if (options_.onProgress) options_.onProgress(progress_);
  }
  return true;
}

bool CPsarcStream::WriteTables() {
  const std::vector<uint8_t> tables = WritePsarcLayout(layout_);
  return sink_->WriteAt(0, tables.data(), tables.size(), error_);
}

bool CPsarcStream::Write() {
  const size_t entries = source_.Count() + 1;
  layout_.flags = (options_.upperCaseDigests ? kPsarcFlagUpperCaseDigests : 0) |
                  (options_.leadingSlash ? kPsarcFlagLeadingSlash : 0) |
                  (options_.tocByDigest ? kPsarcFlagTocByDigest : 0) |
                  (options_.zeroSeparated ? kPsarcFlagZeroSeparated : 0);
  std::vector<PsarcLayoutEntry> toc(entries);
  for (size_t e = 1; e < entries; ++e) {
    toc[e].size = SizeOf(e);
    Digest(e, toc[e].digest);
  }
  toc[0].size = names_.size();
  rows_.resize(entries);
  for (size_t e = 0; e < entries; ++e) rows_[e] = e;
  if (options_.tocByDigest) {
    // Equal digests keep the order given.
    std::stable_sort(rows_.begin() + 1, rows_.end(), [&toc](size_t a, size_t b) {
      return std::memcmp(toc[a].digest, toc[b].digest, 16) < 0;
    });
    // rows_ now lists entries by row; turn it into each entry's row.
    std::vector<size_t> byRow = rows_;
    for (size_t row = 0; row < entries; ++row) rows_[byRow[row]] = row;
  }
  layout_.entries.resize(entries);
  for (size_t e = 0; e < entries; ++e) layout_.entries[rows_[e]] = toc[e];
  dataEnd_ = tablesEnd_;
  COrderedPool pipeline(options_.jobs, PoolWindow(options_.jobs),
                        [this](CPoolTask& t) { return Consume(static_cast<CPsarcPiece&>(t)); });
  // Every entry has a piece, an empty one for an empty entry, so that each is given its
  // place in the data in order; an entry that shares an earlier one's blocks has one piece
  // that takes its place among them.
  for (size_t e = 0; e < entries; ++e) {
    const uint64_t size = shares_[e] != e ? 0 : SizeOf(e);
    for (uint64_t at = 0; at == 0 || at < size; at += kPieceBytes) {
      std::unique_ptr<CPsarcPiece> piece(new CPsarcPiece);
      if (!ReadPiece(e, at, piece.get()) || !pipeline.Push(std::move(piece))) return false;
    }
  }
  return pipeline.Finish() && WriteTables();
}

}  // namespace

bool WritePsarc(CEntrySource& entries, const PsarcWriterOptions& options, CArchiveSink* sink,
                std::string* error) {
  return WriteStream<CPsarcStream>(entries, options, sink, error);
}

bool WritePsarc(const std::vector<ArchiveInput>& entries, const PsarcWriterOptions& options,
                std::vector<uint8_t>* out, std::string* error) {
  return WriteInMemory<PsarcWriterOptions>(WritePsarc, entries, options, out, error);
}
