// The plug-in object: one base class that fixes the order of the twelve virtual
// operations and their defaults, and one derived class that serves both formats.
#pragma once

#include <cstdint>

#include "host/host_records.h"
#include "memory/memory.h"
#include "plugin/format_reader.h"

class CPluginBase {
 public:
  CPluginBase();

  // The virtual table's order is part of the object's design, so all twelve stand here
  // together, the reserved ones as stubs that keep their arity.
  virtual ~CPluginBase();
  virtual int32_t GetPluginInfo(PluginInfo* out);
  virtual int32_t GetSupportedExt(int32_t kind, int32_t index, char* description,
                                  int32_t* descriptionLength, char* pattern,
                                  int32_t* patternLength);
  virtual int32_t IsSupported(const ArchiveSource* source, int32_t* type);
  virtual int32_t ReservedA(uint32_t, uint32_t);
  virtual int32_t GetArchiveInfo(const ArchiveSource* source, HGLOBAL* entries, int32_t* count);
  virtual int32_t GetFile(uint32_t unused, const uint8_t* stored, ArchiveEntry* entry,
                          HGLOBAL* contents);
  virtual int32_t ReservedB(uint32_t, uint32_t);
  virtual int32_t ReservedC(uint32_t, uint32_t, uint32_t, uint32_t);
  virtual int32_t ReservedD(uint32_t, uint32_t, uint32_t);
  virtual int32_t ReservedE(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
  virtual int32_t ReservedF(uint32_t);

  CPluginBase(const CPluginBase&) = delete;
  CPluginBase& operator=(const CPluginBase&) = delete;

 protected:
  PluginInfo info;
  const ExtensionRow* extTable1;
  const ExtensionRow* extTable2;
};

class CPluginArchivePSX : public CPluginBase {
 public:
  CPluginArchivePSX() = default;
  ~CPluginArchivePSX() override;

  int32_t IsSupported(const ArchiveSource* source, int32_t* type) override;
  int32_t GetArchiveInfo(const ArchiveSource* source, HGLOBAL* entries, int32_t* count) override;
  int32_t GetFile(uint32_t unused, const uint8_t* stored, ArchiveEntry* entry,
                  HGLOBAL* contents) override;

  // Tables created so far; for tests that look inside a plug-in object of their own.
  CBlockTableRegistry& registry() { return blockTables; }

 private:
  CBlockTableRegistry blockTables;
};

// The frame both formats share (plugin_frame.cpp).

// Lists the archive as `format` says: reads its table region with one positioning and one
// read, fills the records in one locked, zero-filled block and hands the block over
// unlocked. 0, or 1 with nothing stored and the count left at 0 when memory cannot be had.
int32_t ListFormat(const ArchiveFormat& format, const ArchiveSource* source,
                   CBlockTableRegistry* blockTables, HGLOBAL* entries, int32_t* count);
// Extracts one record as `format` says: allocates the block of BlockSize bytes, locks it,
// lets Decode fill it, detaches it, stores the handle and rewrites the record's size when
// the row does. 0, or 1 with nothing stored and the record untouched.
int32_t ExtractRecord(const ArchiveFormat& format, const uint8_t* stored, ArchiveEntry* entry,
                      HGLOBAL* contents);
// The raw copy, the row of every record no format decodes: the entry's first L stored bytes
// (L = low 32 bits of `size`) in a block of L bytes, the record untouched.
extern const ArchiveFormat kRawCopy;
