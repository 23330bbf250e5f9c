// PKG reader: recognition, the directory and the escape-byte LZ extraction.
//
// A PKG container is little-endian: an 8-byte header {u32 0, i32 entryCount}, entryCount
// directory entries of 80 bytes, then the entries' stored bytes. An entry whose compression
// word is 1 holds a 12-byte LZ header {i32 decodedLength, i32 endOffset, u8 escape, 3 spare}
// followed by escape-byte LZ tokens; any other entry holds its contents as they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_records.h"
#include "memory/memory.h"
#include "plugin/format_reader.h"

// The compression word of an entry coded with the escape-byte LZ scheme.
constexpr uint32_t kPkgCompressedLz = 1;

// Container header.
constexpr size_t kPkgHeaderSize = 8;
constexpr size_t kPkgHeaderReservedAt = 0;
constexpr size_t kPkgHeaderEntryCountAt = 4;
// The first directory entry's offset field, as it stands in the host's header bytes.
constexpr size_t kPkgHeaderFirstOffsetAt = 80;

// Directory entry.
constexpr size_t kPkgDirEntrySize = 80;
constexpr size_t kPkgDirNameAt = 0;
constexpr size_t kPkgDirNameBytes = 64;
constexpr size_t kPkgDirSizeAt = 64;
constexpr size_t kPkgDirPackedSizeAt = 68;
constexpr size_t kPkgDirOffsetAt = 72;
constexpr size_t kPkgDirCompressedAt = 76;

// LZ header of a compressed entry; the tokens follow it.
constexpr size_t kPkgLzHeaderSize = 12;
constexpr size_t kPkgLzDecodedLengthAt = 0;
constexpr size_t kPkgLzEndOffsetAt = 4;
constexpr size_t kPkgLzEscapeAt = 8;

// Bytes past the plain size in the block of a decoded entry. The last token may run past
// decodedLength; one token writes at most kPkgLzMaxTokenOutput bytes, so the margin holds
// the overrun of any token that starts inside the plain size.
constexpr size_t kPkgLzMargin = 256;
constexpr size_t kPkgLzMaxTokenOutput = 255;
// Largest distance a copy token can name (the distance byte encodes 0 to 254).
constexpr size_t kPkgLzMaxDistance = 254;

bool PkgTest(const uint8_t* header);
ListingRegion PkgRegion(const uint8_t* header);
int32_t PkgFill(const ListingContext& context);
// The extraction, for the frame. Only an entry whose param is kPkgCompressedLz is decoded;
// every other entry takes the raw copy.
bool PkgTakes(const ArchiveEntry& entry);
// A block of L + kPkgLzMargin bytes (L = low 32 bits of `size`); refused when that does not
// fit in 32 bits.
bool PkgBlockSize(const ArchiveEntry& entry, uint32_t* size);
// DecodePkgLz of the packedSize stored bytes into the block; never fails.
int32_t PkgDecode(const uint8_t* stored, const ArchiveEntry& entry, uint8_t* out,
                  uint32_t capacity);

// What one decoding did.
struct PkgLzResult {
  size_t produced;  // output position reached: bytes written, the last token's overrun included
  size_t consumed;  // input position reached, counted from the first header byte
};

// Decodes one compressed entry: `in` holds inLength stored bytes (the LZ header, then the
// tokens), `out` has outCapacity bytes that must all be zero on entry (a distance-0 copy
// reads bytes not yet written, and the bytes that no token writes are the entry's zeros).
//
// Tokens run while the input position is below endOffset and the output position below
// decodedLength, tested before each token; a token that starts inside both is carried out
// whole. Where the stream breaks a bound of the buffers, decoding stops, keeping what it
// produced:
//   - header bytes past inLength read as zero; a token not wholly inside inLength is not
//     carried out (stop);
//   - a copy whose distance reaches before out[0] is not carried out (stop);
//   - a token never starts at outCapacity, and a copy that would run past it is clipped
//     there (clip, then stop).
// No byte outside in[0, inLength) is read and none outside out[0, outCapacity) is written.
PkgLzResult DecodePkgLz(const uint8_t* in, size_t inLength, uint8_t* out, size_t outCapacity);
