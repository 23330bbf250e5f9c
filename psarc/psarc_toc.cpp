#include "plugin/plugin.h"
#include "psarc/psarc.h"

// Placeholder until the PSARC reader lands: nothing is recognised.
bool PsarcTest(const uint8_t*) { return false; }

ListingRegion PsarcRegion(const uint8_t*) { return ListingRegion{32, 0, 0}; }

int32_t PsarcFill(const ListingContext&) { return kResultOk; }

int32_t PsarcGetFile(const uint8_t* stored, ArchiveEntry* entry, HGLOBAL* contents) {
  return CopyStoredEntry(stored, entry, contents);
}
