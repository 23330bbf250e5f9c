// An archive as a host sees it through the plug-in's exports: opened with its header
// bytes, recognised and listed by the plug-in, and one entry at a time extracted from the
// stored bytes the host reads for it. Nothing here knows either archive format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/host_file.h"
#include "tools/varel_host/plugin_loader.h"

class CHostArchive {
 public:
  // Opens path, asks the plug-in what it is and lists it. The plug-in must stay loaded
  // for as long as the entries are used: PSARC records point into its memory.
  bool Open(const PluginExports& plugin, const std::string& path, std::string* error);

  int32_t type() const { return type_; }
  const char* TypeName() const;
  const std::vector<ArchiveEntry>& entries() const { return entries_; }
  // Entry i's name, read by DecodeEntryName when the archive was listed.
  const EntryName& name(size_t i) const { return names_[i]; }
  const std::string& path() const { return file_.path(); }
  uint64_t fileSize() const { return file_.size(); }

  // Extracts entry i: reads its packedSize stored bytes at its offset, hands them to
  // TZK_GetFile with a copy of its record, and takes the first `size` bytes of the block
  // (the record's size after the call: a decoded entry's block can be larger). The block
  // is freed in every case. False with error saying why.
  bool Extract(size_t i, std::vector<uint8_t>* contents, std::string* error);
  // The same, handing the contents to sink straight from the locked block, without a
  // copy; a false from sink (which then sets error) fails the extraction.
  typedef std::function<bool(const uint8_t* data, size_t n, std::string* error)> Sink;
  bool Extract(size_t i, const Sink& sink, std::string* error);

 private:
  PluginExports plugin_;
  CHostFile file_;
  int32_t type_ = kTypeNone;
  std::vector<ArchiveEntry> entries_;
  std::vector<EntryName> names_;
};
