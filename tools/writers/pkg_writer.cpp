#include "tools/writers/pkg_writer.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "tools/util/ordered_pool.h"
#include "tools/writers/byte_writer.h"
#include "tools/writers/pkg_lz_encoder.h"

namespace {

constexpr uint64_t kLimit = 0x7FFFFFFF;  // sizes and offsets are i32 in the directory
constexpr uint32_t kStored = 0;          // any word but kPkgCompressedLz
constexpr size_t kSegment = kPkgLzDefaultSegmentBytes;
// Segments coded per task: a segment takes about a millisecond, and several per task keep
// handing work to threads a small part of it.
constexpr size_t kPieceSegments = 2;
constexpr size_t kPieceBytes = kPieceSegments * kSegment;
constexpr size_t kChunkBytes = size_t{1} << 20;  // read at a time to count or to store

// Up to kPieceSegments segments of an entry: coded on some thread, or (stored entries)
// its plain bytes.
class CPkgPiece : public CPoolTask {
 public:
  void Run() override {
    if (!coded) return;
    tokens.reserve(plainBytes + plainBytes / 64 + 64);
    for (size_t at = start; at < input.size(); at += kSegment) {
      EncodePkgLzSegment(input.data(), at, std::min(at + kSegment, input.size()), escape,
                         PkgLzSettings(), &tokens);
    }
    std::vector<uint8_t>().swap(input);
  }
  const std::vector<uint8_t>& Bytes() const { return coded ? tokens : input; }

  size_t entry = 0;
  bool first = false;
  bool last = false;
  bool coded = false;
  uint8_t escape = 0;
  size_t plainBytes = 0;
  size_t start = 0;            // where the plain bytes begin in input, after those copied from
  std::vector<uint8_t> input;  // up to 254 bytes before the segment, then the segment
  std::vector<uint8_t> tokens;
};

struct DirectoryRow {
  uint64_t size = 0;
  uint64_t offset = 0;
  uint64_t written = 0;   // stored bytes so far, the LZ header included
  uint64_t consumed = 0;  // plain bytes of the pieces taken back so far
  uint32_t compressed = kStored;
  uint8_t escape = 0;
  bool givenUp = false;  // coding did not make it smaller: stored instead
};

// One container being written: the directory in memory, the stored bytes in the sink from
// the end of the directory on.
class CPkgStream {
 public:
  CPkgStream(CEntrySource& source, const PkgWriterOptions& options, CArchiveSink* sink,
             std::string* error)
      : source_(source), options_(options), sink_(sink), error_(error) {}

  bool Check();
  bool Write();

 private:
  bool ChooseEscape(size_t entry);
  bool ReadPiece(size_t entry, uint64_t at, CPkgPiece* piece);
  bool Consume(CPkgPiece& piece);
  bool WritePiece(const CPkgPiece& piece, DirectoryRow* row);
  bool Store(size_t entry, DirectoryRow* row);
  bool Fits(const DirectoryRow& row, uint64_t more);
  bool WriteDirectory();

  CEntrySource& source_;
  const PkgWriterOptions& options_;
  CArchiveSink* sink_;
  std::string* error_;
  std::vector<DirectoryRow> rows_;
  std::vector<uint8_t> chunk_;
  uint64_t dataEnd_ = 0;  // where the next entry's stored bytes go
  PackProgress progress_;
};

bool CPkgStream::Check() {
  if (source_.Count() == 0) {
    *error_ = "a PKG container needs at least one entry";
    return false;
  }
  dataEnd_ = kPkgHeaderSize + static_cast<uint64_t>(source_.Count()) * kPkgDirEntrySize;
  if (dataEnd_ > kLimit) {
    *error_ = "too many entries for a PKG directory";
    return false;
  }
  const ArchiveLimits limits = PkgLimits();
  for (size_t k = 0; k < source_.Count(); ++k) {
    const std::string why = EntryRefusal(limits, source_.Name(k), source_.Size(k));
    if (!why.empty()) {
      *error_ = "'" + source_.Name(k) + "': " + why;
      return false;
    }
  }
  return true;
}

// The escape byte of an entry: its least frequent byte value, from a first read of it all.
bool CPkgStream::ChooseEscape(size_t entry) {
  uint64_t counts[256] = {};
  const uint64_t size = source_.Size(entry);
  for (uint64_t at = 0; at < size; at += chunk_.size()) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk_.size(), size - at));
    if (!source_.Read(entry, at, chunk_.data(), n, error_)) return false;
    CountByteValues(chunk_.data(), n, counts);
  }
  rows_[entry].escape = PkgLzEscapeOf(counts);
  return true;
}

bool CPkgStream::ReadPiece(size_t entry, uint64_t at, CPkgPiece* piece) {
  const DirectoryRow& row = rows_[entry];
  piece->entry = entry;
  piece->first = at == 0;
  piece->last = row.size - at <= kPieceBytes;
  piece->coded = row.compressed == kPkgCompressedLz;
  piece->escape = row.escape;
  piece->plainBytes = static_cast<size_t>(std::min<uint64_t>(kPieceBytes, row.size - at));
  piece->start = piece->coded ? static_cast<size_t>(std::min<uint64_t>(at, kPkgLzMaxDistance)) : 0;
  piece->input.resize(piece->start + piece->plainBytes);
  return piece->input.empty() ||
         source_.Read(entry, at - piece->start, piece->input.data(), piece->input.size(), error_);
}

bool CPkgStream::Fits(const DirectoryRow& row, uint64_t more) {
  if (row.offset + row.written + more <= kLimit) return true;
  *error_ = "the container would pass 2 GiB, the most its offsets reach";
  return false;
}

// Writes the plain bytes of a given-up entry over what was written of its coding, which is
// shorter than they are.
bool CPkgStream::Store(size_t entry, DirectoryRow* row) {
  row->givenUp = true;
  row->compressed = kStored;
  row->written = 0;
  if (!Fits(*row, row->size)) return false;
  for (uint64_t at = 0; at < row->size; at += chunk_.size()) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk_.size(), row->size - at));
    if (!source_.Read(entry, at, chunk_.data(), n, error_) ||
        !sink_->WriteAt(row->offset + at, chunk_.data(), n, error_)) {
      return false;
    }
  }
  row->written = row->size;
  return true;
}

bool CPkgStream::WritePiece(const CPkgPiece& piece, DirectoryRow* row) {
  const std::vector<uint8_t>& bytes = piece.Bytes();
  // Coded bytes as many as the plain ones or more: the entry is stored instead.
  if (piece.coded && options_.compression == PkgCompression::kAuto &&
      row->written + bytes.size() >= row->size) {
    return Store(piece.entry, row);
  }
  if (!Fits(*row, bytes.size()) ||
      !sink_->WriteAt(row->offset + row->written, bytes.data(), bytes.size(), error_)) {
    return false;
  }
  row->written += bytes.size();
  if (!piece.last || !piece.coded) return true;
  CByteWriter header;
  header.Le32(static_cast<uint32_t>(row->size));     // decodedLength
  header.Le32(static_cast<uint32_t>(row->written));  // endOffset: where the tokens end
  header.U8(row->escape);
  header.Zeros(3);  // never read
  return sink_->WriteAt(row->offset, header.bytes().data(), header.size(), error_);
}

bool CPkgStream::Consume(CPkgPiece& piece) {
  if (piece.failed) {
    *error_ = "not enough memory to code '" + source_.Name(piece.entry) + "'";
    return false;
  }
  DirectoryRow& row = rows_[piece.entry];
  if (piece.first) {
    row.offset = dataEnd_;
    row.written = piece.coded ? kPkgLzHeaderSize : 0;
  }
  // The pieces of an entry given up that were already handed out are dropped.
  if (row.givenUp) return true;
  if (!WritePiece(piece, &row)) return false;
  row.consumed += piece.plainBytes;
  progress_.bytesDone += piece.plainBytes;
  if (piece.last || row.givenUp) {
    progress_.bytesDone += row.size - row.consumed;
    dataEnd_ = row.offset + row.written;
    ++progress_.entriesDone;
  }
  if (options_.onProgress) options_.onProgress(progress_);
  return true;
}

bool CPkgStream::WriteDirectory() {
  CByteWriter w;
  w.Le32(0);                                       // reserved, always 0
  w.Le32(static_cast<uint32_t>(source_.Count()));  // entryCount
  for (size_t k = 0; k < rows_.size(); ++k) {
    const std::string& name = source_.Name(k);
    const DirectoryRow& row = rows_[k];
    w.Text(name);
    w.Zeros(kPkgDirNameBytes - name.size());     // name, zero-padded
    w.Le32(static_cast<uint32_t>(row.size));     // size: the plain bytes
    w.Le32(static_cast<uint32_t>(row.written));  // packedSize: the stored bytes
    w.Le32(static_cast<uint32_t>(row.offset));   // offset from the container's start
    w.Le32(row.compressed);                      // compressed
  }
  return sink_->WriteAt(0, w.bytes().data(), w.size(), error_);
}

bool CPkgStream::Write() {
  rows_.resize(source_.Count());
  chunk_.resize(kChunkBytes);
  COrderedPool pipeline(options_.jobs, PoolWindow(options_.jobs),
                        [this](CPoolTask& t) { return Consume(static_cast<CPkgPiece&>(t)); });
  for (size_t k = 0; k < rows_.size(); ++k) {
    DirectoryRow& row = rows_[k];
    row.size = source_.Size(k);
    row.compressed = options_.compression == PkgCompression::kNever ? kStored : kPkgCompressedLz;
    if (row.compressed == kPkgCompressedLz && !ChooseEscape(k)) return false;
    // Every entry has a piece, an empty one for an empty entry, so that each is given its
    // place in the data in order. Once an entry is stored instead, its coding stops.
    for (uint64_t at = 0; (at == 0 || at < row.size) && !row.givenUp; at += kPieceBytes) {
      std::unique_ptr<CPkgPiece> piece(new CPkgPiece);
      if (!ReadPiece(k, at, piece.get()) || !pipeline.Push(std::move(piece))) return false;
    }
  }
  return pipeline.Finish() && WriteDirectory();
}

}  // namespace

ArchiveLimits PkgLimits() { return ArchiveLimits{"PKG", kLimit + 1, kPkgMaxNameBytes, "", kLimit}; }

bool WritePkg(CEntrySource& entries, const PkgWriterOptions& options, CArchiveSink* sink,
              std::string* error) {
  return WriteStream<CPkgStream>(entries, options, sink, error);
}

bool WritePkg(const std::vector<ArchiveInput>& entries, const PkgWriterOptions& options,
              std::vector<uint8_t>* out, std::string* error) {
  return WriteInMemory<PkgWriterOptions>(WritePkg, entries, options, out, error);
}
