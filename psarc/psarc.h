// PSARC reader: recognition, the table of contents and the block walk.
#pragma once

#include <cstdint>

#include "host/host_records.h"
#include "memory/memory.h"
#include "plugin/format_reader.h"

// True for a header with "PSAR", "zlib", 30-byte table entries and 65536-byte blocks.
bool PsarcTest(const uint8_t* header);
// Table region: tocLength bytes from file offset 32; tocEntryCount records.
ListingRegion PsarcRegion(const uint8_t* header);
// Fills the records, creates and registers the archive's BlockTable, names the entries
// from the manifest.
int32_t PsarcFill(const ListingContext& context);
// The type-1 extraction.
int32_t PsarcGetFile(const uint8_t* stored, ArchiveEntry* entry, HGLOBAL* contents);
