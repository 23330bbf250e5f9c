// The strict check of an escape-byte LZ stream: the tokens walked piece by piece, counting
// the plain bytes they make, stopping at the first fault.
//
// Entry assumptions, and why no piece is read out of bounds: Feed reads bytes[0, n) only;
// a token cut by the end of a piece (at most its first two bytes) waits in held_ until the
// next piece completes it. The header is taken first in the same way, so pieces of any
// size, one byte included, give the same result.
#include <cstring>

#include "bytes/byte_order.h"
#include "reference/reference.h"

CPkgLzStrictCheck::CPkgLzStrictCheck(uint64_t storedLength, uint64_t plainSize)
    : storedLength_(storedLength), plainSize_(plainSize) {}

bool CPkgLzStrictCheck::Fail(PkgLzFault f, int64_t value) {
  fault_ = f;
  value_ = value;
  return false;
}

bool CPkgLzStrictCheck::Header(const uint8_t* header) {
  decodedLength_ = le32s(header + kPkgLzDecodedLengthAt);
  endOffset_ = le32s(header + kPkgLzEndOffsetAt);
  escape_ = header[kPkgLzEscapeAt];
  if (decodedLength_ < 0 || static_cast<uint64_t>(decodedLength_) != plainSize_) {
    return Fail(PkgLzFault::kLengthMismatch, decodedLength_);
  }
  if (endOffset_ < 0 || static_cast<uint64_t>(endOffset_) != storedLength_) {
    return Fail(PkgLzFault::kEndMismatch, endOffset_);
  }
  plainStop_ = static_cast<uint64_t>(decodedLength_);
  return true;
}

bool CPkgLzStrictCheck::Token(const uint8_t* token, size_t length) {
  if (length < 3) {
    // A literal, or an escaped escape byte: one plain byte.
    out_ += 1;
    in_ += length;
    return true;
  }
  const uint8_t d = token[1];
  const uint64_t distance = d > escape_ ? d - 1u : d;
  if (distance > out_) return Fail(PkgLzFault::kDistance, static_cast<int64_t>(distance));
  const uint64_t count = token[2];
  if (count > plainStop_ - out_) {
    return Fail(PkgLzFault::kOverrun, static_cast<int64_t>(count - (plainStop_ - out_)));
  }
  out_ += count;
  in_ += 3;
  return true;
}

bool CPkgLzStrictCheck::Feed(const uint8_t* bytes, size_t n) {
  if (fault_ != PkgLzFault::kNone) return false;
  size_t k = 0;
  if (!headerRead_) {
    const size_t take = n < kPkgLzHeaderSize - heldLength_ ? n : kPkgLzHeaderSize - heldLength_;
    std::memcpy(held_ + heldLength_, bytes, take);
    heldLength_ += take;
    k = take;
    if (heldLength_ < kPkgLzHeaderSize) return true;
    headerRead_ = true;
    heldLength_ = 0;
    in_ = kPkgLzHeaderSize;
    if (!Header(held_)) return false;
  }
  // The tokens are walked while plain bytes are due; a token that starts once they are all
  // made is a fault, as is one that the stream's end cuts (seen in Finish: endOffset is the
  // stored length, so its bytes never come).
  const auto needed = [this](const uint8_t* t, size_t have) -> size_t {
    if (t[0] != escape_) return 1;
    if (have < 2) return 2;
    return t[1] == escape_ ? 2 : 3;
  };
  while (heldLength_ != 0 && k < n) {
    held_[heldLength_++] = bytes[k++];
    const size_t need = needed(held_, heldLength_);
    if (need > heldLength_) continue;
    heldLength_ = 0;
    if (out_ >= plainStop_) {
      return Fail(PkgLzFault::kTrailing, endOffset_ - static_cast<int64_t>(in_));
    }
    if (!Token(held_, need)) return false;
  }
  while (k < n) {
    if (out_ >= plainStop_) {
      return Fail(PkgLzFault::kTrailing, endOffset_ - static_cast<int64_t>(in_));
    }
    const uint8_t* p = bytes + k;
    const size_t rest = n - k;
    if (p[0] != escape_) {
      // A run of literals: up to the next escape byte, and no further than the plain bytes
      // still due (the bytes after them are the fault found above).
      const void* e = std::memchr(p, escape_, rest);
      size_t run = e != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(e) - p) : rest;
      if (run > plainStop_ - out_) run = static_cast<size_t>(plainStop_ - out_);
      out_ += run;
      in_ += run;
      k += run;
      continue;
    }
    const size_t need = needed(p, rest);
    if (need > rest) {
      std::memcpy(held_, p, rest);
      heldLength_ = rest;
      break;
    }
    if (!Token(p, need)) return false;
    k += need;
  }
  return true;
}

PkgLzFault CPkgLzStrictCheck::Finish() {
  if (fault_ != PkgLzFault::kNone) return fault_;
  if (!headerRead_) {
    Fail(PkgLzFault::kHeaderCut, static_cast<int64_t>(heldLength_));
  } else if (heldLength_ != 0) {
    Fail(PkgLzFault::kTokenPastEnd, static_cast<int64_t>(heldLength_));
  } else if (out_ < plainStop_) {
    Fail(PkgLzFault::kShort, static_cast<int64_t>(out_));
  }
  return fault_;
}
