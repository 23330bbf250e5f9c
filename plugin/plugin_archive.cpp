// The format table, and the object's detection, listing and extraction over it.
#include "pkg/pkg.h"
#include "plugin/plugin.h"
#include "psarc/psarc.h"

namespace {

// The formats in detection order. Every test runs; the PSARC test needs its magic in the
// first four header bytes and the PKG test needs zero there, so at most one holds.
const ArchiveFormat kArchiveFormats[] = {
    {kTypePsarc, PsarcTest, PsarcRegion, PsarcFill, nullptr, PsarcBlockSize, PsarcDecode, true},
    {kTypePkg, PkgTest, PkgRegion, PkgFill, PkgTakes, PkgBlockSize, PkgDecode, true},
};

const ArchiveFormat* FindFormat(int32_t type) {
  for (const ArchiveFormat& f : kArchiveFormats) {
    if (f.type == type) return &f;
  }
  return nullptr;
}

// The row that extracts a record: its format's, unless that format leaves the record to
// the raw copy (as PKG does with stored entries) or no format has its type.
const ArchiveFormat& ExtractionFor(const ArchiveEntry& entry) {
  const ArchiveFormat* format = FindFormat(entry.type);
  if (format == nullptr || (format->Takes != nullptr && !format->Takes(entry))) return kRawCopy;
  return *format;
}

}  // namespace

CPluginArchivePSX::~CPluginArchivePSX() { blockTables.Release(); }

int32_t CPluginArchivePSX::IsSupported(const ArchiveSource* source, int32_t* type) {
  for (const ArchiveFormat& f : kArchiveFormats) {
    if (f.Test(source->header)) *type = f.type;
  }
  return kResultOk;
}

int32_t CPluginArchivePSX::GetArchiveInfo(const ArchiveSource* source, HGLOBAL* entries,
                                          int32_t* count) {
  *count = 0;
  int32_t type = kTypeNone;
  const int32_t detected = IsSupported(source, &type);
  if (detected != kResultOk) return detected;
  const ArchiveFormat* format = FindFormat(type);
  if (format == nullptr) return kResultOk;  // not recognised: nothing listed
  return ListFormat(*format, source, &blockTables, entries, count);
}

int32_t CPluginArchivePSX::GetFile(uint32_t, const uint8_t* stored, ArchiveEntry* entry,
                                   HGLOBAL* contents) {
  return ExtractRecord(ExtractionFor(*entry), stored, entry, contents);
}
