// varel list: the entries of an archive as an aligned table, or as JSON.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/varel/commands.h"
#include "tools/varel/report.h"
#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/progress.h"

namespace {

const char kUsage[] =
    "usage: varel list ARCHIVE [--json] [--ignore-case|--case-sensitive] [PATTERN...]\n"
    "\n"
    "Lists the entries of ARCHIVE: index, name, size, packed size, ratio, offset and the\n"
    "format's details (PSARC: first block; PKG: compressed or stored), then the totals.\n"
    "PATTERNs are shell-style globs (* ? [...]) on the whole entry name; '*' also matches\n"
    "'/', and '/' and '\\' match each other. Quote them so the shell leaves them alone.\n"
    "Names are UTF-8 as PSARC archives hold them; other names are read in the system's\n"
    "ANSI code page.\n"
    "\n"
    "  --json             one JSON object for scripts, in UTF-8; a name that is not its\n"
    "                     archive's bytes as they stand also gives them, as nameBytes (hex)\n";

std::string Ratio(uint64_t packed, uint64_t size) {
  if (size == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f%%",
                100.0 * static_cast<double>(packed) / static_cast<double>(size));
  return text;
}

std::string Details(const ArchiveEntry& e) {
  if (e.type == kTypePsarc) return "first block " + std::to_string(e.param);
  if (e.type == kTypePkg) {
    if (e.param == 1) return "compressed";
    return e.param == 0 ? "stored" : "stored (flag " + std::to_string(e.param) + ")";
  }
  return "type " + std::to_string(e.type);
}

std::string JsonDetails(const ArchiveEntry& e) {
  if (e.type == kTypePsarc) return ", \"firstBlock\": " + std::to_string(e.param);
  if (e.type == kTypePkg) {
    return std::string(", \"compressed\": ") + (e.param == 1 ? "true" : "false") +
           ", \"flag\": " + std::to_string(e.param);
  }
  return std::string();
}

// The JSON members of an entry's name: the text, and the archive's bytes when the text is
// not those bytes (a name read in the ANSI code page, or cut inside a character).
std::string JsonName(const EntryName& name) {
  std::string out = "\"name\": " + JsonString(name.text);
  if (name.text != name.bytes) out += ", \"nameBytes\": \"" + HexBytes(name.bytes) + "\"";
  return out;
}

bool PrintJson(const CHostArchive& archive, const std::vector<size_t>& selected) {
  uint64_t size = 0;
  uint64_t packed = 0;
  std::string out = "{\n  \"archive\": " + JsonString(archive.path()) + ",\n  \"format\": \"" +
                    archive.TypeName() + "\",\n  \"entries\": [";
  for (size_t k = 0; k < selected.size(); ++k) {
    const ArchiveEntry& e = archive.entries()[selected[k]];
    size += e.size;
    packed += e.packedSize;
    out += k == 0 ? "\n" : ",\n";
    out += "    {\"index\": " + std::to_string(selected[k]) + ", " +
           JsonName(archive.name(selected[k])) + ", \"size\": " + std::to_string(e.size) +
           ", \"packedSize\": " + std::to_string(e.packedSize) +
           ", \"offset\": " + std::to_string(e.offset) + JsonDetails(e) + "}";
  }
  out += selected.empty() ? "],\n" : "\n  ],\n";
  out += "  \"totals\": {\"entries\": " + std::to_string(selected.size()) +
         ", \"size\": " + std::to_string(size) + ", \"packedSize\": " + std::to_string(packed) +
         "}\n}\n";
  return Print(out);
}

bool PrintTable(const CHostArchive& archive, const std::vector<size_t>& selected) {
  struct Row {
    std::string cells[7];
  };
  std::vector<Row> rows;
  rows.push_back({{"index", "name", "size", "packed", "ratio", "offset", "details"}});
  uint64_t size = 0;
  uint64_t packed = 0;
  for (size_t i : selected) {
    const ArchiveEntry& e = archive.entries()[i];
    size += e.size;
    packed += e.packedSize;
    rows.push_back({{std::to_string(i), PrintableName(archive.name(i).text), std::to_string(e.size),
                     std::to_string(e.packedSize), Ratio(e.packedSize, e.size),
                     std::to_string(e.offset), Details(e)}});
  }
  size_t width[7] = {};
  for (const Row& r : rows) {
    for (int c = 0; c < 7; ++c) width[c] = std::max(width[c], r.cells[c].size());
  }
  std::string out;
  for (const Row& r : rows) {
    std::string line;
    for (int c = 0; c < 7; ++c) {
      const std::string& cell = r.cells[c];
      const std::string pad(width[c] - cell.size(), ' ');
      // Names and details read left to right; numbers line up on their last digit.
      const bool left = c == 1 || c == 6;
      if (c > 0) line += "  ";
      line += left ? cell + (c == 6 ? std::string() : pad) : pad + cell;
    }
    out += line + "\n";
  }
  out += std::to_string(selected.size()) + (selected.size() == 1 ? " entry, " : " entries, ") +
         std::to_string(size) + " bytes (" + FormatBytes(size) + "), packed " +
         std::to_string(packed) + " bytes (" + FormatBytes(packed) + "), " + Ratio(packed, size) +
         "\n";
  return Print(out);
}

}  // namespace

int RunList(const Options& options, const std::vector<std::string>& args) {
  if (PrintedHelp(args, std::string(kUsage) + kCaseUsage)) return kExitOk;
  ParsedArgs parsed;
  bool ignoreCase = false;
  if (!ParseArgs("list", args,
                 {{nullptr, "--json", false}, kIgnoreCaseOption, kCaseSensitiveOption}, &parsed) ||
      !ParseIgnoreCase("list", parsed, &ignoreCase)) {
    return kExitUsage;
  }
  if (parsed.positional.empty()) {
    Report("list", std::string("name an archive\n") + kUsage);
    return kExitUsage;
  }
  const std::string path = parsed.positional[0];
  const std::vector<std::string> patterns(parsed.positional.begin() + 1, parsed.positional.end());
  CPluginModule module;
  CHostArchive archive;
  if (!OpenArchive("list", options, path, &module, &archive)) return kExitFailed;
  std::vector<std::string> unmatched;
  const std::vector<size_t> selected = SelectEntries(archive, patterns, ignoreCase, &unmatched);
  const bool printed =
      parsed.Has("--json") ? PrintJson(archive, selected) : PrintTable(archive, selected);
  for (const std::string& p : unmatched) Report("list", path + ": no entry matches " + Quoted(p));
  if (!printed || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    Report("list", "cannot write the listing");
    return kExitFailed;
  }
  return unmatched.empty() ? kExitOk : kExitFailed;
}
