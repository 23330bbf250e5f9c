#include "pkg/pkg.h"
#include "plugin/plugin.h"

// Placeholder until the PKG reader lands: nothing is recognised.
bool PkgTest(const uint8_t*) { return false; }

ListingRegion PkgRegion(const uint8_t*) { return ListingRegion{8, 0, 0}; }

int32_t PkgFill(const ListingContext&) { return kResultOk; }

int32_t PkgGetFile(const uint8_t* stored, ArchiveEntry* entry, HGLOBAL* contents) {
  return CopyStoredEntry(stored, entry, contents);
}
