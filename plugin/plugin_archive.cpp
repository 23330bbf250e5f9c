// Detection, the listing frame and the extraction dispatch shared by both formats.
#include <cstring>

#include "pkg/pkg.h"
#include "plugin/format_reader.h"
#include "plugin/plugin.h"
#include "psarc/psarc.h"

namespace {

// The formats in detection order. Every test runs; the PSARC test needs its magic in the
// first four header bytes and the PKG test needs zero there, so at most one holds.
const ArchiveFormat kArchiveFormats[] = {
    {kTypePsarc, PsarcTest, PsarcRegion, PsarcFill},
    {kTypePkg, PkgTest, PkgRegion, PkgFill},
};

const ArchiveFormat* FindFormat(int32_t type) {
  for (const ArchiveFormat& f : kArchiveFormats) {
    if (f.type == type) return &f;
  }
  return nullptr;
}

constexpr uint64_t kEntryRecordSize = sizeof(ArchiveEntry);

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

  const ListingRegion region = format->Region(source->header);
  Cbuffer table;
  if (table.Alloc64(region.length) == nullptr) return kResultNoMemory;
  // Neither the positioning nor the read is examined: bytes not delivered stay zero.
  (void)SetFilePointer(source->file, static_cast<LONG>(region.start), nullptr, FILE_BEGIN);
  DWORD read = 0;
  (void)ReadFile(source->file, table.data, table.length, &read, nullptr);

  CGlobalHandleMemory records;
  if (region.count > INT32_MAX || records.Alloc(region.count * kEntryRecordSize) == nullptr) {
    return kResultNoMemory;
  }
  auto* array = static_cast<ArchiveEntry*>(records.Lock());
  if (array == nullptr && region.count != 0) return kResultNoMemory;

  ListingContext context;
  context.source = source;
  context.region = table.data;
  context.regionLength = table.length;
  context.delivered = read < table.length ? read : table.length;
  context.records = array;
  context.count = static_cast<uint32_t>(region.count);
  context.blockTables = &blockTables;
  const int32_t filled = format->Fill(context);
  if (filled != kResultOk) return filled;

  *entries = records.Detach();
  *count = static_cast<int32_t>(region.count);
  return kResultOk;
}

int32_t CPluginArchivePSX::GetFile(uint32_t unused, const uint8_t* stored, ArchiveEntry* entry,
                                   HGLOBAL* contents) {
  if (entry->type == kTypePsarc) return PsarcGetFile(stored, entry, contents);
  if (entry->type == kTypePkg && entry->param == kPkgCompressedLz) {
    return PkgGetFile(stored, entry, contents);
  }
  return CPluginBase::GetFile(unused, stored, entry, contents);
}
