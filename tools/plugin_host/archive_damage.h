// What a host can tell of an archive's damage from its header bytes, its records and the
// size of its file, before any entry is extracted. The plug-in lists what the header
// declares: a record that lies past the end of the file (or of the table the header
// declares) reads as zeros and lists as an empty entry at offset 0, and an entry's stored
// bytes are never held against the file. varel holds every record against the file here,
// and names the PSARC headers the plug-in does not take. This is the one place in varel
// that knows where each format keeps its table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_records.h"

class CHostArchive;

enum class EntryDamage : uint8_t {
  kWhole,
  kRecordPastTable,  // PSARC: the header counts more entries than its table has room for
  kRecordPastEnd,    // the entry's table record is cut by the end of the file
  kStoredCut,        // its stored bytes begin inside the file and run past its end
  kStoredPastEnd,    // its stored bytes begin at or past the end of the file
};

// True when the record itself is lost: its name, sizes and offset are the zeros the plug-in
// read in their place, not the archive's.
inline bool RecordLost(EntryDamage d) {
  return d == EntryDamage::kRecordPastTable || d == EntryDamage::kRecordPastEnd;
}

// Why, as a phrase that follows "entry 7: " as well as "entries 7-299: ", such as "stored
// bytes past the end of the file (the file ends at 500 bytes)".
std::string DamageReason(EntryDamage d, uint64_t fileSize);

// The damage of each record of a listing (type as the plug-in detected it; header as the
// host read it, at least kHostHeaderBytes; fileSize the archive's size). An entry with no
// stored bytes is whole wherever its offset points: it has nothing to lose.
std::vector<EntryDamage> FindDamage(int32_t type, const uint8_t* header, uint64_t fileSize,
                                    const std::vector<ArchiveEntry>& entries);

// For a file the plug-in does not recognise: what it is when it begins like a PSARC, such
// as "psarc, lzma compression: not supported" or "psarc, block size 131072: not supported"
// (the plug-in takes zlib, 65536-byte blocks and 30-byte table entries), or "a psarc header
// cut at 20 bytes". Empty for anything else.
std::string DescribeUnrecognised(const uint8_t* header, uint64_t fileSize);

// For list -v, from the header's flags: how a PSARC listing found its entries' names when
// not by position, such as "names found by digest, ignoring case (header flags 0x0d)";
// empty for names by position (neither flag 0x04 nor 0x08) and for PKG.
std::string DescribeNaming(int32_t type, const uint8_t* header);

// The PSARC entries among `selected` whose names the listing cut to the 255 bytes its
// name field holds, found by reading the name list (entry 0) through the plug-in and
// comparing each name that fills the field with its line there; in the later layout (names
// found by digest) with the longer name it begins, unless the list also holds it whole.
// Empty for PKG, and when the name list cannot be read (its own damage is reported as any
// entry's).
std::vector<size_t> CutNames(CHostArchive* archive, const std::vector<size_t>& selected);
