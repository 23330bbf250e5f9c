// Entry names as a host meets them: untrusted bytes in the record's name field. Reading
// them as text, turning them into paths that stay inside an output folder, and showing them
// on a terminal or in JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_records.h"

// An entry's name: the bytes the archive holds, and the UTF-8 text varel lists, matches,
// prints and writes for them.
struct EntryName {
  std::string bytes;
  std::string text;
};

// The one rule by which name bytes become text, for every command and both platforms: a
// PSARC name that is valid UTF-8 is UTF-8 (a name the field cut inside its last character
// loses that character); any other name, and every PKG name, is in the system's ANSI code
// page.
EntryName DecodeEntryName(const ArchiveEntry& entry);
// The same rule on bytes alone; utf8Allowed for PSARC names.
std::string DecodeNameBytes(const std::string& bytes, bool utf8Allowed);
// The record's name field up to its first zero.
std::string NameBytes(const ArchiveEntry& entry);

// Which file system's rules a name must satisfy: Windows also forbids <>:"|?*, trailing
// dots and spaces and device names such as CON or LPT1, and takes names that differ only
// in case for one.
enum class NameRules { kPosix, kWindows };
NameRules HostNameRules();

// The path an entry is written to, relative to the output folder: components that are
// never empty, ".", "..", a drive or a root, and hold no separator or control character.
struct SafeName {
  std::vector<std::string> components;
  std::vector<std::string> changes;  // what was changed and why; empty when nothing was
  // The separator ('/' or '\\') removed from the front of the name, or 0. Not among the
  // changes: an archive whose names all begin with '/' is said to once, not per entry.
  char leadingSeparator = 0;
  std::string Joined(char separator) const;
};

// Makes a name (UTF-8 text) safe. An empty result (an empty name, or one of only
// separators, "." and "..") becomes "unnamed-INDEX".
SafeName MakeSafeName(const std::string& name, size_t index, NameRules rules);

// The key under which a file system with these rules sees a relative path: two paths with
// one key are one file.
std::string FileKey(const std::string& path, NameRules rules);

// A name for the n-th (n >= 2) of several entries that share a file name: "a~2.txt" for
// "a.txt", "README~2" for "README", ".profile~2" for ".profile".
std::string NumberedName(const std::string& component, unsigned n);

// The text for a terminal: control characters written as \xNN (C0 and DEL) or \uNNNN (C1),
// and bytes that are not UTF-8 as \xNN.
std::string PrintableName(const std::string& text);
// 'name' in quotes with control characters escaped (PrintableName), for messages.
std::string Quoted(const std::string& name);
// A JSON string literal (with its quotes) of UTF-8 text; a byte that is not UTF-8 becomes
// U+FFFD.
std::string JsonString(const std::string& text);
// Bytes as lower-case hex digits, two per byte.
std::string HexBytes(const std::string& bytes);
