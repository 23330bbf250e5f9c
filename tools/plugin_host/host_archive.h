// An archive as a host sees it through the plug-in's exports: opened with its header
// bytes, recognised and listed by the plug-in, its records held against the file
// (archive_damage.h), and entries extracted from the stored bytes the host reads for them.
// Nothing here knows either archive format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "tools/plugin_host/archive_damage.h"
#include "tools/plugin_host/entry_names.h"
#include "tools/plugin_host/host_file.h"
#include "tools/plugin_host/plugin_loader.h"

// One entry on its way out, in three steps, so that the plug-in's work can run on a thread
// of its own: Read (the stored bytes, through the archive's reader: any thread, several at
// once), Decode (TZK_GetFile on the piece's own copies of the
// record and the stored bytes: any thread, several at once), Deliver (the contents to a
// sink). A step after a failed one fails with the same error. While it decodes a piece
// holds packedSize + size bytes (and the plug-in's margin); before, the stored bytes only;
// after, the contents only.
class CEntryPiece {
 public:
  CEntryPiece() = default;
  ~CEntryPiece();
  CEntryPiece(const CEntryPiece&) = delete;
  CEntryPiece& operator=(const CEntryPiece&) = delete;

  // True once CHostArchive::Read has filled it (successfully or not).
  bool read() const { return read_; }
  // What the piece holds at most, for the budget of a pipeline.
  static uint64_t Cost(const ArchiveEntry& entry) { return entry.packedSize + entry.size; }

  // The stored bytes read for the entry, and its record's offset, while the piece holds
  // them (after a successful Read, before Decode): n is 0 otherwise.
  const uint8_t* stored(size_t* n, uint64_t* offset) const {
    *n = error_.empty() ? static_cast<size_t>(record_.packedSize) : 0;
    if (*n > stored_.size()) *n = 0;
    *offset = record_.offset;
    return stored_.data();
  }

  // The plug-in's call; its stored bytes are released after it.
  void Decode();
  typedef std::function<bool(const uint8_t* data, size_t n, std::string* error)> Sink;
  // Hands the contents to sink straight from the locked block; a false from sink (which
  // then sets error) fails it. The block is freed in every case.
  bool Deliver(const Sink& sink, std::string* error);

 private:
  friend class CHostArchive;
  bool Fail(const std::string& why);

  PluginExports plugin_;
  bool read_ = false;
  ArchiveEntry record_ = {};
  std::vector<uint8_t> stored_;
  HGLOBAL contents_ = nullptr;
  std::string where_;  // "ARCHIVE: entry N (NAME)", for errors
  std::string error_;  // set once a step has failed
};

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
  // The file's first bytes, as handed to the plug-in (kHostHeaderBytes, zero past the end).
  const uint8_t* header() const { return file_.source()->header; }
  // Reads the file at any offset, from any thread (the reader entries are read through).
  const CFileReader& reader() const { return file_.reader(); }
  // Entry i held against the file (FindDamage). A damaged entry is never extracted.
  EntryDamage damage(size_t i) const { return damage_[i]; }

  // Extracts entry i: reads its packedSize stored bytes at its offset, hands them to
  // TZK_GetFile with a copy of its record, and takes the first `size` bytes of the block
  // (the record's size after the call: a decoded entry's block can be larger). The block
  // is freed in every case. False with error saying why.
  bool Extract(size_t i, std::vector<uint8_t>* contents, std::string* error);
  // The same, handing the contents to sink straight from the locked block, without a
  // copy; a false from sink (which then sets error) fails the extraction.
  typedef CEntryPiece::Sink Sink;
  bool Extract(size_t i, const Sink& sink, std::string* error);
  // The first step of an extraction: checks entry i and reads its stored bytes into piece
  // (a failure is kept in the piece, for Deliver to report). Any thread may call it, several
  // at once: every read carries its own offset.
  void Read(size_t i, CEntryPiece* piece) const;

 private:
  PluginExports plugin_;
  CHostFile file_;
  int32_t type_ = kTypeNone;
  std::vector<ArchiveEntry> entries_;
  std::vector<EntryName> names_;
  std::vector<EntryDamage> damage_;
};
