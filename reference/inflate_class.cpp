// The one class of zlib streams on which the walk's fast decoder and zlib differ, how zlib
// names it, and a hand-made stream of each kind.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "reference/reference.h"

namespace {

// The messages zlib gives for the streams of the class. Each marks a code or a count that
// the format reserves or forbids and that the fast decoder reads as a valid one.
const char* const kClassMessages[] = {
    "invalid literal/length code",          // literal/length codes 286 and 287
    "invalid distance code",                // distance codes 30 and 31
    "too many length or distance symbols",  // more than 286 or 30 codes declared
    "invalid bit length repeat",            // a code-length run past the declared codes
};

// Deflate's bit order: fields from the lowest bit up, Huffman codes from their first bit.
class CBitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1u);
  }
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1u);
  }
  void AlignToByte() {
    while (used_ != 0) Bit(0);
  }
  void Byte(uint8_t b) { bytes_.push_back(b); }
  std::vector<uint8_t> Finish() {
    AlignToByte();
    return bytes_;
  }

 private:
  void Bit(uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<uint8_t>(bytes_.back() | (bit << used_));
    used_ = (used_ + 1) % 8;
  }

  std::vector<uint8_t> bytes_;
  int used_ = 0;
};

// The fixed code of literal/length symbol sym (280 to 287 included, 286 and 287 reserved).
void FixedLiteralLength(CBitWriter* w, uint32_t sym) {
  if (sym < 144) {
    w->Code(0x30 + sym, 8);
  } else if (sym < 256) {
    w->Code(0x190 + sym - 144, 9);
  } else if (sym < 280) {
    w->Code(sym - 256, 7);
  } else {
    w->Code(0xC0 + sym - 280, 8);
  }
}

// A zlib stream: the 0x78 0xDA header, the deflate data, the Adler-32 of `plain`.
std::vector<uint8_t> Wrap(const std::vector<uint8_t>& deflate, const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> out(2 + deflate.size());
  out[0] = 0x78;
  out[1] = 0xDA;
  std::copy(deflate.begin(), deflate.end(), out.begin() + 2);
  const uLong adler =
      adler32(adler32(0, nullptr, 0), plain.data(), static_cast<uInt>(plain.size()));
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
  return out;
}

// A fixed block: the literal 'a', then a reserved length code (read by the fast decoder as
// a copy of 258 bytes from 1 back), then the end of the block.
ReservedCodeStream ReservedLengthCode(uint32_t sym) {
  CBitWriter w;
  w.Bits(1, 1);  // the last block
  w.Bits(1, 2);  // fixed codes
  FixedLiteralLength(&w, 'a');
  FixedLiteralLength(&w, sym);
  w.Bits(0, 5);  // distance code 0: 1 back
  FixedLiteralLength(&w, 256);
  const std::vector<uint8_t> plain(259, 'a');
  return {"literal/length code " + std::to_string(sym), Wrap(w.Finish(), plain), plain,
          kClassMessages[0]};
}

// A stored block of `back` bytes, then a fixed block whose copy of 3 bytes takes a reserved
// distance code, read by the fast decoder as the code below it (24577 back, 13 extra bits).
ReservedCodeStream ReservedDistanceCode(uint32_t code) {
  const uint32_t back = 24577;
  std::vector<uint8_t> plain(back);
  for (uint32_t i = 0; i < back; ++i) plain[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  CBitWriter w;
  w.Bits(0, 1);  // not the last block
  w.Bits(0, 2);  // stored
  w.AlignToByte();
  w.Bits(back, 16);
  w.Bits(~back & 0xFFFFu, 16);
  for (uint8_t b : plain) w.Byte(b);
  w.Bits(1, 1);
  w.Bits(1, 2);
  FixedLiteralLength(&w, 257);  // length 3
  w.Code(code, 5);
  w.Bits(0, 13);
  FixedLiteralLength(&w, 256);
  for (int i = 0; i < 3; ++i) plain.push_back(plain[i]);
  return {"distance code " + std::to_string(code), Wrap(w.Finish(), plain), plain,
          kClassMessages[1]};
}

// Code-length symbols: 1 (a length of 1) and 18 (a run of 11 to 138 zeros), both with
// 1-bit codes: 1 is '0', 18 is '1'.
void Length1(CBitWriter* w) { w->Code(0, 1); }
void Zeros(CBitWriter* w, uint32_t n) {
  while (n != 0) {
    const uint32_t run = n > 138 ? 138 : n;
    w->Code(1, 1);
    w->Bits(run - 11, 7);
    n -= run;
  }
}

// A dynamic block declaring `litlen` and `distance` codes whose literal/length code gives
// 'a' and the end of the block one bit each, then "aaa". `tail` zeros close the lengths; a
// tail longer than the declared codes runs past them.
ReservedCodeStream DynamicBlock(const std::string& what, uint32_t litlen, uint32_t distance,
                                uint32_t tail, const char* message) {
  CBitWriter w;
  w.Bits(1, 1);
  w.Bits(2, 2);  // dynamic codes
  w.Bits(litlen - 257, 5);
  w.Bits(distance - 1, 5);
  w.Bits(18 - 4, 4);  // code-length lengths up to symbol 1, the 18th in their order
  const uint8_t order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
  for (uint8_t sym : order) w.Bits(sym == 18 || sym == 1 ? 1 : 0, 3);
  Zeros(&w, 'a');
  Length1(&w);
  Zeros(&w, 255 - 'a');
  Length1(&w);  // symbol 256, the end of the block
  Zeros(&w, tail);
  for (int i = 0; i < 3; ++i) w.Code(0, 1);  // 'a'
  w.Code(1, 1);                              // the end of the block
  const std::vector<uint8_t> plain(3, 'a');
  return {what, Wrap(w.Finish(), plain), plain, message};
}

}  // namespace

bool ZlibMessageInTheClass(const char* message) {
  if (message == nullptr) return false;
  for (const char* m : kClassMessages) {
    if (std::strcmp(m, message) == 0) return true;
  }
  return false;
}

const char* ZlibMessage(const uint8_t* in, size_t inLength, size_t due) {
  std::vector<uint8_t> out(due == 0 ? 1 : due);
  z_stream strm;
  std::memset(&strm, 0, sizeof(strm));
  if (inflateInit(&strm) != Z_OK) return nullptr;
  strm.next_in = const_cast<Bytef*>(in);
  strm.avail_in = static_cast<uInt>(inLength);
  strm.next_out = out.data();
  strm.avail_out = static_cast<uInt>(due);
  const int rc = inflate(&strm, Z_FINISH);
  // zlib's messages are static strings, so the pointer outlives the stream.
  const char* message = rc == Z_DATA_ERROR ? strm.msg : nullptr;
  inflateEnd(&strm);
  return message;
}

std::vector<ReservedCodeStream> ReservedCodeStreams() {
  return {
      ReservedLengthCode(286),
      ReservedLengthCode(287),
      ReservedDistanceCode(30),
      ReservedDistanceCode(31),
      DynamicBlock("287 literal/length codes", 287, 1, 287 - 257 + 1, kClassMessages[2]),
      DynamicBlock("31 distance codes", 286, 31, 286 - 257 + 31, kClassMessages[2]),
      DynamicBlock("a code-length run past the codes", 286, 1, 138, kClassMessages[3]),
  };
}
