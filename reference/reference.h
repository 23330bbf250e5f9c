// The definitions the tests, the fuzz targets and the benchmarks hold the plug-in to. They
// are written plainly, one byte or one step at a time, and are never linked into the
// module: the plug-in's own paths must give what these give, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The type-1 extraction as first written: the block walk into a work buffer of size + 10
// bytes (DecodeEntryFromBuffer), then the first size bytes copied into a new block of
// exactly the size; `size` rewritten with its upper half cleared. 0, or 1 with nothing
// stored and the record untouched when memory cannot be had. The plug-in decodes straight
// into the host's block and must hand over exactly what this hands over.
int32_t PsarcGetFileThroughWorkBuffer(const uint8_t* stored, ArchiveEntry* entry,
                                      HGLOBAL* contents);
