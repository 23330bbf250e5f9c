// The escape-byte LZ encoder, one segment at a time.
//
// Tokens: a byte b other than the escape E stands for itself; E E for one E; E d n copies n
// bytes (0 to 255) from D bytes back, D = d below E and d - 1 above it, so the distances 0
// to 254 are all reachable whatever E is. The decoder's block starts zeroed and no token
// writes past its own end, so a distance-0 copy yields n zero bytes anywhere.
//
// A token refers only to the 254 plain bytes before it and to nothing else of the stream:
// the tokens of an entry cut into segments at fixed plain positions, each segment coded on
// its own (reading the 254 bytes before it) and the pieces joined in order, are one valid
// stream. The writer codes every entry that way, in segments of
// kPkgLzDefaultSegmentBytes whatever the number of threads, so the coded bytes never depend
// on how the work was shared out; a copy that would cross a segment's end is cut there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pkg/pkg.h"
#include "tools/writers/pkg_writer.h"

// Adds the number of times each byte value occurs in data[0, length) to counts.
void CountByteValues(const uint8_t* data, size_t length, uint64_t counts[256]);

// The least frequent byte value, the lowest one on ties: it needs escaping least often.
uint8_t PkgLzEscapeOf(const uint64_t counts[256]);

// Appends the tokens for data[start, end) to out. Copies reach back at most to
// data[start - 254] (to data[0] when start is smaller), which must be readable.
void EncodePkgLzSegment(const uint8_t* data, size_t start, size_t end, uint8_t escape,
                        const PkgLzSettings& settings, std::vector<uint8_t>* out);
