// Writes PSARC archives the way common packers lay them out: the manifest as entry 0 with
// "\n"-separated names, 64 KiB blocks compressed with zlib where that makes them smaller
// and stored otherwise, a block-size table of big-endian u16 values, 40-bit offsets and
// sizes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/writers/archive_input.h"

struct PsarcWriterOptions {
  int level = 9;  // zlib level of the blocks (levels 7 to 9 give blocks beginning 0x78 0xDA)
};

// Builds a whole archive from the entries, in their order, into out. False, with error
// saying why, for input the format cannot hold (an entry of 2 GiB or more, a name holding
// a line break).
bool WritePsarc(const std::vector<ArchiveInput>& entries, const PsarcWriterOptions& options,
                std::vector<uint8_t>* out, std::string* error);
