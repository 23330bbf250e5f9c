// PKG reader: recognition, the directory and the escape-byte LZ extraction.
#pragma once

#include <cstdint>

#include "host/host_records.h"
#include "memory/memory.h"
#include "plugin/format_reader.h"

// The compression word of an entry coded with the escape-byte LZ scheme.
constexpr uint32_t kPkgCompressedLz = 1;

bool PkgTest(const uint8_t* header);
ListingRegion PkgRegion(const uint8_t* header);
int32_t PkgFill(const ListingContext& context);
// Extraction of an entry whose param is kPkgCompressedLz.
int32_t PkgGetFile(const uint8_t* stored, ArchiveEntry* entry, HGLOBAL* contents);
