// varel list: the entries of an archive as an aligned table, or as JSON.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/engine/selection.h"
#include "tools/plugin_host/entry_names.h"
#include "tools/util/progress.h"
#include "tools/varel/commands.h"
#include "tools/varel/damage_report.h"
#include "tools/varel/options.h"
#include "tools/varel/report.h"

namespace {

const char kIntro[] =
    "usage: varel list ARCHIVE [-v] [-h] [-1|--json] [--ignore-case|--case-sensitive]\n"
    "                  [PATTERN...]\n"
    "\n"
    "Lists the entries of ARCHIVE ('-': standard input), one a row: size, packed size,\n"
    "ratio, then the name; then the totals. PATTERNs select entries as in 'varel extract':\n"
    "shell-style globs (* ? [...]) on the whole entry name ('*' also matches '/', and '/'\n"
    "and '\\' match each other; quote them so the shell leaves them alone), a folder's name\n"
    "for all under it, or #INDEX. Names are UTF-8 as PSARC archives hold them; other names\n"
    "are read in the system's ANSI code page.\n"
    "\n";

const OptionTable kOptions = {
    {"-v", "--verbose", false,
     "  -v, --verbose         also the index, the offset of the stored bytes and the\n"
     "                        format's details (PSARC: first block; PKG: compressed or\n"
     "                        stored), before the name; and a last line when a PSARC\n"
     "                        archive's names were found by digest\n"},
    {"-h", "--human-readable", false,
     "  -h, --human-readable  sizes as 1.5 MiB (here -h is not help: use --help)\n"},
    {"-1", "--names", false, "  -1, --names           only the names, one a line\n"},
    {nullptr, "--json", false,
     "  --json                one JSON object for scripts, in UTF-8; a name that is not its\n"
     "                        archive's bytes as they stand also gives them, as nameBytes\n"
     "                        (hex)\n"},
    kIgnoreCaseOption,
    kCaseSensitiveOption,
};

std::string Usage() { return kIntro + OptionHelp(kOptions); }

struct ListStyle {
  bool verbose = false;
  bool human = false;
};

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

void PrintJson(const CHostArchive& archive, const std::vector<size_t>& selected) {
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
  Print(out);
}

void PrintNames(const CHostArchive& archive, const std::vector<size_t>& selected) {
  std::string out;
  for (size_t i : selected) out += PrintableName(archive.name(i).text) + "\n";
  Print(out);
}

// The table: numbers line up on their last digit and words on their first letter; the name
// comes last, so that no name, however long or wide its characters, moves another column.
void PrintTable(const CHostArchive& archive, const std::vector<size_t>& selected,
                const ListStyle& style) {
  enum Column { kIndex, kSize, kPacked, kRatio, kOffset, kDetails, kName, kColumns };
  const bool shown[kColumns] = {style.verbose, true,          true, true,
                                style.verbose, style.verbose, true};
  const bool left[kColumns] = {false, false, false, false, false, true, true};
  const auto bytes = [&style](uint64_t n) {
    return style.human ? FormatBytes(n) : std::to_string(n);
  };
  struct Row {
    std::string cells[kColumns];
  };
  std::vector<Row> rows;
  rows.push_back({{"index", "size", "packed", "ratio", "offset", "details", "name"}});
  uint64_t size = 0;
  uint64_t packed = 0;
  for (size_t i : selected) {
    const ArchiveEntry& e = archive.entries()[i];
    size += e.size;
    packed += e.packedSize;
    rows.push_back(
        {{std::to_string(i), bytes(e.size), bytes(e.packedSize), Ratio(e.packedSize, e.size),
          std::to_string(e.offset), Details(e), PrintableName(archive.name(i).text)}});
  }
  size_t width[kColumns] = {};
  for (const Row& r : rows) {
    for (int c = 0; c < kColumns; ++c) width[c] = std::max(width[c], r.cells[c].size());
  }
  std::string out;
  for (const Row& r : rows) {
    std::string line;
    for (int c = 0; c < kColumns; ++c) {
      if (!shown[c]) continue;
      const std::string& cell = r.cells[c];
      if (!line.empty()) line += "  ";
      if (c == kName) {
        line += cell;
      } else {
        const std::string pad(width[c] - cell.size(), ' ');
        line += left[c] ? cell + pad : pad + cell;
      }
    }
    out += line + "\n";
  }
  out += std::to_string(selected.size()) + (selected.size() == 1 ? " entry, " : " entries, ") +
         std::to_string(size) + " bytes (" + FormatBytes(size) + "), packed " +
         std::to_string(packed) + " bytes (" + FormatBytes(packed) + "), " + Ratio(packed, size) +
         "\n";
  Print(out);
}

}  // namespace

int RunList(const Options& options, const std::vector<std::string>& args) {
  // -h is human-readable sizes here, as in ls and du; --help is help.
  if (PrintedHelp(args, Usage(), false)) return kExitOk;
  ParsedArgs parsed;
  bool ignoreCase = false;
  if (!ParseArgs("list", args, kOptions, &parsed) ||
      !ParseIgnoreCase("list", parsed, &ignoreCase)) {
    return kExitUsage;
  }
  if (parsed.Has("--json") && parsed.Has("--names")) {
    Report("list", "--json and --names exclude each other");
    return kExitUsage;
  }
  if (parsed.positional.empty()) {
    Report("list", "name an archive\n" + Usage());
    return kExitUsage;
  }
  const std::string path = parsed.positional[0];
  const std::vector<std::string> patterns(parsed.positional.begin() + 1, parsed.positional.end());
  CPluginModule module;
  CHostArchive archive;
  if (!OpenArchive("list", options, path, &module, &archive)) return kExitFailed;
  std::vector<std::string> unmatched;
  const std::vector<size_t> selected = SelectEntries(archive, patterns, ignoreCase, &unmatched);
  // Rows of lost records would show only the zeros read in their place.
  const std::vector<size_t> shown = WithoutDamaged(archive, selected, true);
  ListStyle style;
  style.verbose = parsed.Has("--verbose");
  style.human = parsed.Has("--human-readable");
  if (parsed.Has("--json")) {
    PrintJson(archive, shown);
  } else if (parsed.Has("--names")) {
    PrintNames(archive, shown);
  } else {
    PrintTable(archive, shown, style);
    // How the names were found, when not by position: the last of the table's lines.
    const std::string naming = DescribeNaming(archive.type(), archive.header());
    if (style.verbose && !naming.empty()) Print(naming + "\n");
  }
  for (const std::string& p : unmatched) Report("list", path + ": no entry matches " + Quoted(p));
  const bool damaged = ReportDamage("list", archive, selected, "") != 0;
  ReportCutNames("list", &archive, selected);
  return unmatched.empty() && !damaged ? kExitOk : kExitFailed;
}
