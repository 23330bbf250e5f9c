// The escape-byte LZ encoder. For each position of a segment it finds the longest copy the
// format can express there, then chooses the tokens: by default the choice that gives the
// fewest coded bytes (see ChooseOptimal for why two options per position suffice).
#include "tools/writers/pkg_lz_encoder.h"

#include <algorithm>
#include <cstring>

#include "tools/writers/byte_writer.h"

namespace {

constexpr uint32_t kCopyTokenBytes = 3;
constexpr size_t kHashBits = 15;
// Chains link positions by their next four bytes: a copy of three bytes costs as much as
// its literals, so only copies of four or more can save anything (the previous position's
// distance still finds the shorter ones).
constexpr size_t kHashedBytes = 4;
// Chain candidates tried per position, beyond the previous position's distance; and the
// length past which no candidate is looked for (raising either gains under 0.1% on text).
constexpr size_t kChainDepth = 8;
constexpr size_t kGoodLength = 32;
constexpr uint32_t kNone = UINT32_MAX;
// Chains only need the positions of the last kPkgLzMaxDistance bytes: a ring of 256 holds
// them, so a link reached from a live position is never one overwritten since.
constexpr size_t kRing = 256;
static_assert(kRing > kPkgLzMaxDistance, "a live chain link is never overwritten");

// Two bytes, as the token holds them: counts up to 255, distances up to 254.
struct Match {
  uint8_t length = 0;
  uint8_t distance = 0;  // 0: a run of zeros
};

uint32_t Hash4(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  return (v * 2654435761u) >> (32 - kHashBits);
}

// Finds, position after position in ascending order, the longest copy available at each:
// a run of zeros (distance 0) or earlier bytes 1 to 254 back, overlapping allowed (the
// decoder copies one byte at a time in ascending order). Reads data[lo, end) only.
class CMatchFinder {
 public:
  CMatchFinder(const uint8_t* data, size_t lo, size_t end, bool everyDistance)
      : data_(data),
        lo_(lo),
        end_(end),
        everyDistance_(everyDistance),
        head_(size_t{1} << kHashBits, kNone),
        prev_(kRing, kNone),
        zeroEnd_(lo) {}

  // Every position from lo on is inserted once, in order, after its own Find.
  void Insert(size_t pos) {
    if (end_ - pos < kHashedBytes) return;
    const uint32_t h = Hash4(data_ + pos);
    prev_[pos % kRing] = head_[h];
    head_[h] = static_cast<uint32_t>(pos);
  }

  // The longest copy at pos; previous is the one found at pos - 1. Its distance is tried
  // first and gives at least one byte less than it gave there, so the lengths found never
  // drop by more than one from a position to the next.
  Match Find(size_t pos, const Match& previous) {
    const size_t limit = std::min(end_ - pos, kPkgLzMaxTokenOutput);
    Match best;
    best.length = static_cast<uint8_t>(std::min(limit, ZerosAt(pos)));
    if (previous.distance != 0 && previous.length > 1) {
      Try(pos, previous.distance, previous.length - 1, limit, &best);
    }
    if (everyDistance_) {
      const size_t reach = std::min(pos - lo_, kPkgLzMaxDistance);
      for (size_t d = 1; d <= reach && best.length < limit; ++d) Try(pos, d, 0, limit, &best);
      return best;
    }
    if (end_ - pos < kHashedBytes || best.length >= kGoodLength) return best;
    uint32_t candidate = head_[Hash4(data_ + pos)];
    for (size_t depth = 0; depth < kChainDepth && candidate != kNone && best.length < limit;
         ++depth) {
      const size_t distance = pos - candidate;
      if (distance > kPkgLzMaxDistance) break;
      Try(pos, distance, 0, limit, &best);
      candidate = prev_[candidate % kRing];
    }
    return best;
  }

 private:
  // The zero bytes from pos on; the end of the run is kept, so runs are scanned once.
  size_t ZerosAt(size_t pos) {
    if (zeroEnd_ <= pos) {
      if (data_[pos] != 0) return 0;
      zeroEnd_ = pos;
    }
    while (zeroEnd_ < end_ && data_[zeroEnd_] == 0) ++zeroEnd_;
    return zeroEnd_ - pos;
  }

  // Replaces best with the copy from distance back when that is longer; the first `known`
  // bytes are known to match.
  void Try(size_t pos, size_t distance, size_t known, size_t limit, Match* best) const {
    if (best->length >= limit) return;
    const uint8_t* here = data_ + pos;
    const uint8_t* there = here - distance;
    // Cannot be longer unless the byte just past the best length matches too.
    if (known < best->length && here[best->length] != there[best->length]) return;
    size_t n = known;
    while (n < limit && here[n] == there[n]) ++n;
    if (n > best->length) {
      best->length = static_cast<uint8_t>(n);
      best->distance = static_cast<uint8_t>(distance);
    }
  }

  const uint8_t* data_;
  size_t lo_;
  size_t end_;
  bool everyDistance_;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> prev_;
  size_t zeroEnd_;
};

class CTokenWriter {
 public:
  CTokenWriter(uint8_t escape, std::vector<uint8_t>* out) : escape_(escape), out_(out) {}
  void Literal(uint8_t b) {
    out_->push_back(b);
    if (b == escape_) out_->push_back(escape_);
  }
  void Copy(uint32_t distance, uint32_t count) {
    out_->push_back(escape_);
    out_->push_back(static_cast<uint8_t>(distance < escape_ ? distance : distance + 1));
    out_->push_back(static_cast<uint8_t>(count));
  }

 private:
  uint8_t escape_;
  std::vector<uint8_t>* out_;
};

uint32_t LiteralCost(uint8_t b, uint8_t escape) { return b == escape ? 2 : 1; }

// Whether the copy m is shorter than its bytes, plain[0, m.length), written as literals.
bool CopyPays(const uint8_t* plain, const Match& m, uint8_t escape) {
  uint32_t cost = 0;
  for (uint32_t j = 0; j < m.length && cost <= kCopyTokenBytes; ++j) {
    cost += LiteralCost(plain[j], escape);
  }
  return cost > kCopyTokenBytes;
}

// Greedy and lazy parsing: marks matches[i].length 0 where a literal is written.
void ChooseGreedy(const uint8_t* plain, size_t n, uint8_t escape, bool lazy,
                  std::vector<Match>* matches) {
  std::vector<Match>& m = *matches;
  for (size_t i = 0; i < n;) {
    const bool take =
        CopyPays(plain + i, m[i], escape) && !(lazy && i + 1 < n && m[i + 1].length > m[i].length);
    if (!take) {
      m[i++].length = 0;
      continue;
    }
    i += m[i].length;
  }
}

// The cheapest parse of the segment, found backwards: cost[i] is the fewest bytes that
// code plain[i, n). A copy of any length up to matches[i].length may start at i; and since
// the lengths found drop by at most one from a position to the next, the cheapest coding
// of plain[i, n) is never cheaper than that of plain[i + 1, n) (drop the first literal, or
// start the first copy one byte later), so cost never rises with i and the longest copy is
// always the best copy. Two options per position remain: a literal, or the longest copy.
// A copy reaches at most 255 positions ahead, so a ring of 256 costs is all that is kept.
void ChooseOptimal(const uint8_t* plain, size_t n, uint8_t escape, std::vector<Match>* matches) {
  static_assert(kPkgLzMaxTokenOutput < 256, "the ring holds every cost a copy can reach");
  std::vector<Match>& m = *matches;
  uint32_t cost[256];
  cost[n & 255] = 0;
  for (size_t i = n; i-- > 0;) {
    const uint32_t literal = LiteralCost(plain[i], escape) + cost[(i + 1) & 255];
    const uint32_t copy =
        m[i].length == 0 ? UINT32_MAX : kCopyTokenBytes + cost[(i + m[i].length) & 255];
    if (copy < literal) {
      cost[i & 255] = copy;
    } else {
      cost[i & 255] = literal;
      m[i].length = 0;
    }
  }
}

}  // namespace

void CountByteValues(const uint8_t* data, size_t length, uint64_t counts[256]) {
  // Four tables, so that runs of one value do not serialise on one counter.
  uint32_t partial[4][256] = {};
  size_t i = 0;
  while (i < length) {
    // Stop before a 32-bit counter could overflow.
    const size_t stop = std::min(length, i + (size_t{1} << 30));
    for (; i + 4 <= stop; i += 4) {
      ++partial[0][data[i]];
      ++partial[1][data[i + 1]];
      ++partial[2][data[i + 2]];
      ++partial[3][data[i + 3]];
    }
    for (; i < stop; ++i) ++partial[0][data[i]];
    for (size_t v = 0; v < 256; ++v) {
      counts[v] += uint64_t{partial[0][v]} + partial[1][v] + partial[2][v] + partial[3][v];
      partial[0][v] = partial[1][v] = partial[2][v] = partial[3][v] = 0;
    }
  }
}

uint8_t PkgLzEscapeOf(const uint64_t counts[256]) {
  size_t best = 0;
  for (size_t v = 1; v < 256; ++v) {
    if (counts[v] < counts[best]) best = v;
  }
  return static_cast<uint8_t>(best);
}

void EncodePkgLzSegment(const uint8_t* data, size_t start, size_t end, uint8_t escape,
                        const PkgLzSettings& settings, std::vector<uint8_t>* out) {
  const size_t lo = start - std::min(start, kPkgLzMaxDistance);
  const size_t n = end - start;
  CMatchFinder finder(data, lo, end, settings.everyDistance);
  for (size_t pos = lo; pos < start; ++pos) finder.Insert(pos);
  // Kept from segment to segment: every position below n is written before it is read.
  static thread_local std::vector<Match> matches;
  matches.resize(n);
  Match previous;
  for (size_t i = 0; i < n;) {
    const Match m = finder.Find(start + i, previous);
    matches[i] = m;
    finder.Insert(start + i++);
    previous = m;
    if (settings.everyDistance || m.length < kGoodLength) continue;
    // Inside a long copy no search is made: each position is given the same copy one byte
    // shorter, which keeps the lengths dropping by one at a time.
    for (uint8_t length = m.length - 1; length >= 1 && i < n; --length) {
      previous.length = length;
      matches[i] = previous;
      finder.Insert(start + i++);
    }
  }
  const uint8_t* plain = data + start;
  if (settings.parse == PkgLzParse::kOptimal) {
    ChooseOptimal(plain, n, escape, &matches);
  } else {
    ChooseGreedy(plain, n, escape, settings.parse == PkgLzParse::kLazy, &matches);
  }
  CTokenWriter tokens(escape, out);
  for (size_t i = 0; i < n;) {
    if (matches[i].length == 0) {
      tokens.Literal(plain[i++]);
    } else {
      tokens.Copy(matches[i].distance, matches[i].length);
      i += matches[i].length;
    }
  }
}

std::vector<uint8_t> EncodePkgLz(const uint8_t* data, size_t length,
                                 const PkgLzSettings& settings) {
  uint64_t counts[256] = {};
  if (length != 0) CountByteValues(data, length, counts);
  const uint8_t escape = PkgLzEscapeOf(counts);
  CByteWriter w;
  w.Le32(static_cast<uint32_t>(length));  // decodedLength
  w.Le32(0);                              // endOffset, patched below
  w.U8(escape);
  w.Zeros(3);  // never read
  w.bytes().reserve(kPkgLzHeaderSize + length + length / 64 + 64);
  const size_t segment = settings.segmentBytes == 0 ? length : settings.segmentBytes;
  for (size_t at = 0; at < length; at += segment) {
    EncodePkgLzSegment(data, at, at + std::min(segment, length - at), escape, settings, &w.bytes());
  }
  w.PatchLe32(4, static_cast<uint32_t>(w.size()));
  return w.bytes();
}
