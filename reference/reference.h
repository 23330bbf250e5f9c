// The definitions the tests, the fuzz targets and the benchmarks hold the plug-in to. They
// are written plainly, one byte or one step at a time, and are never linked into the
// module: the plug-in's own paths must give what these give, byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "pkg/pkg.h"

// Why a decoding of an escape-byte LZ stream ended.
enum class PkgLzEnd {
  kStream,      // the stream's own bounds: endOffset or decodedLength reached (well-formed)
  kInputCut,    // the header, or a token before endOffset, is cut by the end of the stored bytes
  kDistance,    // a copy would reach before the first output byte
  kOutputFull,  // the output's capacity was reached, or a copy clipped there, before decodedLength
};

// The escape-byte LZ decoding one byte at a time, with the bounds of DecodePkgLz: the
// definition its fast and careful paths must match, the counts included. out has
// outCapacity zero bytes on entry. When `end` is not NULL it receives why decoding ended;
// only kStream marks a stream that stays inside every bound of the buffers.
PkgLzResult DecodePkgLzDefinition(const uint8_t* in, size_t inLength, uint8_t* out,
                                  size_t outCapacity, PkgLzEnd* end);
// The same with DecodePkgLz's signature, for tables of decoders.
PkgLzResult DecodePkgLzReference(const uint8_t* in, size_t inLength, uint8_t* out,
                                 size_t outCapacity);

// A strict check of one escape-byte LZ stream, fed its stored bytes in pieces of any size so
// that an entry of any length is checked in bounded memory. It stops at the first fault,
// where the plug-in's decoder goes on, clips or stops without saying so. Only the counts
// matter: a stream is whole when its header says the directory's plain size, its end is
// the end of its stored bytes, and its tokens, each inside that end, reach the plain size
// exactly there, no copy reaching before the first plain byte. Distances are at most 254,
// so no plain byte needs to be kept.
enum class PkgLzFault : uint8_t {
  kNone,
  kHeaderCut,       // fewer stored bytes than the 12-byte header
  kLengthMismatch,  // decodedLength is not the directory's plain size
  kEndMismatch,     // endOffset is not the number of stored bytes
  kTokenPastEnd,    // a token's second or third byte lies at or past endOffset
  kDistance,        // a copy reaches before the first plain byte
  kOverrun,         // the last token makes more plain bytes than decodedLength
  kShort,           // the tokens end before decodedLength plain bytes
  kTrailing,        // decodedLength plain bytes are made before the tokens end
};

class CPkgLzStrictCheck {
 public:
  // A stream of storedLength bytes standing for plainSize plain bytes.
  CPkgLzStrictCheck(uint64_t storedLength, uint64_t plainSize);
  // The next n stored bytes. Returns false once a fault is found (later bytes are ignored).
  bool Feed(const uint8_t* bytes, size_t n);
  // After the last byte: the first fault, or kNone for a whole stream.
  PkgLzFault Finish();

  PkgLzFault fault() const { return fault_; }
  // Where the fault lies: the stored position of the token (or of the stream's end), the
  // plain bytes made before it, and the value it concerns (the distance of a copy, the bytes
  // an overrun makes past decodedLength, the header's decodedLength or endOffset).
  uint64_t storedAt() const { return in_; }
  uint64_t plainAt() const { return out_; }
  int64_t value() const { return value_; }
  int64_t decodedLength() const { return decodedLength_; }
  int64_t endOffset() const { return endOffset_; }

 private:
  bool Header(const uint8_t* header);
  // One token in token[0, length); false on a fault.
  bool Token(const uint8_t* token, size_t length);
  bool Fail(PkgLzFault f, int64_t value);

  uint64_t storedLength_;
  uint64_t plainSize_;
  int64_t decodedLength_ = 0;
  int64_t endOffset_ = 0;
  uint64_t plainStop_ = 0;  // decodedLength, once the header is read
  uint8_t escape_ = 0;
  uint8_t held_[kPkgLzHeaderSize] = {};  // the header, then a token cut by a piece's end
  size_t heldLength_ = 0;
  bool headerRead_ = false;
  uint64_t in_ = 0;   // stored bytes taken (tokens started at in_)
  uint64_t out_ = 0;  // plain bytes made
  int64_t value_ = 0;
  PkgLzFault fault_ = PkgLzFault::kNone;
};

// The type-1 extraction as first written, with zlib alone inflating every block (the
// definition of every block's result): the block walk into a work buffer of size + 10
// bytes (DecodeEntryFromBuffer), then the first size bytes copied into a new block of
// exactly the size; `size` rewritten with its upper half cleared. 0, or 1 with nothing
// stored and the record untouched when memory cannot be had. The plug-in decodes straight
// into the host's block and must hand over exactly what this hands over.
int32_t PsarcGetFileThroughWorkBuffer(const uint8_t* stored, ArchiveEntry* entry,
                                      HGLOBAL* contents);

// The walk's fast decoder (libdeflate) and zlib give different answers on one class of zlib
// streams only: those zlib rejects for a code or a count the format reserves or forbids
// (literal/length codes 286 and 287, distance codes 30 and 31, more than 286 or 30 codes
// declared, a code-length run past the declared codes), which the fast decoder reads as
// valid ones. Its result is taken only with the Adler-32 of what it decoded, so only a
// stream made for the purpose reaches it.

// True when zlib's message names a rejection of that class.
bool ZlibMessageInTheClass(const char* message);
// zlib's message for the stream inflated into `due` bytes of room; NULL when zlib finds no
// damage (the stream ends, or needs more input or room).
const char* ZlibMessage(const uint8_t* in, size_t inLength, size_t due);

// A hand-made zlib stream (header 0x78 0xDA) of each kind of the class.
struct ReservedCodeStream {
  std::string what;
  std::vector<uint8_t> stream;
  std::vector<uint8_t> fastPlain;  // what the fast decoder makes of it, Adler-32 included
  const char* zlibMessage;         // zlib's rejection
};
std::vector<ReservedCodeStream> ReservedCodeStreams();

// The names a PSARC listing gives records 1 to n - 1, each before its cut to the name
// field. buffer holds the manifest as the listing decodes it: bufferLength bytes, of which
// the first `size` are its plain bytes (zeros follow, unless a hostile block overran them).
// flags is the header's; digests[i] is record i's 16-byte digest (digests[0], the manifest's
// own, is not used). With neither flag 0x04 nor 0x08 the names go by position: line j of
// the text up to its first zero byte names record j + 1, and once no line break is left
// every later record takes the rest. With either, the text is split at zero bytes (when it
// holds one, and has flag 0x08 or no line break; a final zero ends the last name) or at line
// breaks, and each record takes the first name, of the first kPsarcDigestNamesAtLeast (or
// twice the records), whose digest is its own in the most preferred form: as it stands,
// without its leading '/', upper-cased (flag 0x01), upper-cased without the '/'; a record
// that no name's digest matches takes the name at its position.
std::vector<std::string> PsarcNamesDefinition(const uint8_t* buffer, size_t bufferLength,
                                              size_t size, uint32_t flags,
                                              const std::vector<std::array<uint8_t, 16>>& digests);
// The 256 bytes of record `record`'s name field once the name is written over its
// generated name ("NamesBlock.bin" for record 0, "0x%08X.dat" for the others): at most 255
// bytes under the code page's lead bytes (from GetCPInfo), never a lead byte without its
// trail byte, then a terminator; the rest of the generated name after it.
std::string PsarcNameField(uint32_t record, const std::string& name, unsigned codePage);
