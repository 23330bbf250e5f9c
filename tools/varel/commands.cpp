#include "tools/varel/commands.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tools/plugin_host/entry_names.h"
#include "tools/plugin_host/name_pattern.h"
#include "tools/util/ordered_pool.h"
#include "tools/varel/report.h"
#include "tools/writers/archive_stream.h"

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info", RunInfo},       {"detect", RunDetect}, {"list", RunList},
      {"extract", RunExtract}, {"cat", RunCat},       {"pack", RunPack},
  };
  return commands;
}

bool LoadPlugin(const Options& options, CPluginModule* module) {
  const std::string path = options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  if (!module->Load(path)) {
    Report("", module->error());
    return false;
  }
  return true;
}

bool OpenArchive(const char* command, const Options& options, const std::string& path,
                 CPluginModule* module, CHostArchive* archive) {
  if (!LoadPlugin(options, module)) return false;
  std::string error;
  if (!archive->Open(module->exports(), path, &error)) {
    Report(command, error);
    return false;
  }
  return true;
}

bool PrintedHelp(const std::vector<std::string>& args, const std::string& usage, bool shortHelp) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "--help" || (shortHelp && a == "-h")) {
      Print(usage);
      return true;
    }
  }
  return false;
}

namespace {

const OptionSpec* FindOption(const std::vector<OptionSpec>& specs, const std::string& key) {
  for (const OptionSpec& s : specs) {
    if (key == s.longName || (s.shortName != nullptr && key == s.shortName)) return &s;
  }
  return nullptr;
}

void ReportUnknown(const char* command, const std::string& option) {
  Report(command, "unknown option " + Quoted(option) + " (see 'varel " + command + " --help')");
}

}  // namespace

bool ParseArgs(const char* command, const std::vector<std::string>& args,
               const std::vector<OptionSpec>& specs, ParsedArgs* out) {
  // The value of the option key in args[*i]: that word from `at` on, or with `at` npos the
  // next word.
  const auto takeValue = [&](const OptionSpec& spec, const std::string& key, size_t at, size_t* i) {
    if (at != std::string::npos) {
      out->values[spec.longName] = args[*i].substr(at);
    } else if (*i + 1 < args.size()) {
      out->values[spec.longName] = args[++*i];
    } else {
      Report(command, key + " needs a value");
      return false;
    }
    return true;
  };
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      out->positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a[1] != '-') {
      // Short options, bundled as getopt takes them: "-qv" is "-q -v"; the first that takes
      // a value takes the rest of the word ("-oDIR", "-qoDIR") or else the next word.
      for (size_t k = 1; k < a.size(); ++k) {
        const std::string key = std::string("-") + a[k];
        const OptionSpec* spec = FindOption(specs, key);
        if (spec == nullptr) {
          ReportUnknown(command, key);
          return false;
        }
        if (!spec->takesValue) {
          out->flags.insert(spec->longName);
          continue;
        }
        if (!takeValue(*spec, key, k + 1 < a.size() ? k + 1 : std::string::npos, &i)) {
          return false;
        }
        break;
      }
      continue;
    }
    const size_t eq = a.find('=');
    const std::string key = a.substr(0, eq);
    const OptionSpec* spec = FindOption(specs, key);
    if (spec == nullptr) {
      ReportUnknown(command, key);
      return false;
    }
    if (!spec->takesValue) {
      if (eq != std::string::npos) {
        Report(command, std::string(spec->longName) + " takes no value");
        return false;
      }
      out->flags.insert(spec->longName);
      continue;
    }
    if (!takeValue(*spec, key, eq == std::string::npos ? eq : eq + 1, &i)) return false;
  }
  return true;
}

const OptionSpec kIgnoreCaseOption = {nullptr, "--ignore-case", false};
const OptionSpec kCaseSensitiveOption = {nullptr, "--case-sensitive", false};
const char kCaseUsage[] =
    "  --ignore-case      names match ignoring case (the default on Windows)\n"
    "  --case-sensitive   names match only with the same case (the default on Linux)\n";

bool ParseIgnoreCase(const char* command, const ParsedArgs& parsed, bool* ignoreCase) {
  const bool ignore = parsed.Has(kIgnoreCaseOption.longName);
  const bool sensitive = parsed.Has(kCaseSensitiveOption.longName);
  if (ignore && sensitive) {
    Report(command, "--ignore-case and --case-sensitive exclude each other");
    return false;
  }
  *ignoreCase = ignore || (!sensitive && HostNameRules() == NameRules::kWindows);
  return true;
}

const OptionSpec kJobsOption = {"-j", "--jobs", true};

bool ParseJobs(const char* command, const ParsedArgs& parsed, unsigned* jobs) {
  const auto given = parsed.values.find(kJobsOption.longName);
  if (given == parsed.values.end()) {
    *jobs = DefaultJobs();
    return true;
  }
  const std::string& text = given->second;
  char* end = nullptr;
  const unsigned long n = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || n < 1 || n > kMaxJobs) {
    Report(command, Format("--jobs takes a number from 1 to %u", kMaxJobs));
    return false;
  }
  *jobs = static_cast<unsigned>(n);
  return true;
}

bool ParseEntryIndex(const std::string& text, size_t* index) {
  if (text.size() < 2 || text.size() > 11 || text[0] != '#' ||
      text.find_first_not_of("0123456789", 1) != std::string::npos) {
    return false;
  }
  // An index is a 32-bit count on every build (no archive holds more entries), so that
  // "#4294967296" is a name under a 64-bit varel as it is under a 32-bit one.
  const unsigned long long n = std::stoull(text.substr(1));
  if (n > UINT32_MAX) return false;
  *index = static_cast<size_t>(n);
  return true;
}

namespace {

// A pattern, and whether it selects an entry: by the whole name, or by a folder the entry
// lies in (the name up to one of its separators). A pattern that ends with a separator
// names only folders.
struct Selector {
  Selector(const std::string& pattern, bool ignoreCase)
      : folderOnly(!pattern.empty() && (pattern.back() == '/' || pattern.back() == '\\')),
        compiled(pattern.substr(0, pattern.find_last_not_of("/\\") + 1), ignoreCase) {}
  bool Selects(const std::string& name) const {
    if (!folderOnly && compiled.Matches(name)) return true;
    for (size_t i = 1; i < name.size(); ++i) {
      if ((name[i] == '/' || name[i] == '\\') && compiled.Matches(name.substr(0, i))) return true;
    }
    return false;
  }
  bool folderOnly;
  CNamePattern compiled;
};

}  // namespace

std::vector<size_t> SelectEntries(const CHostArchive& archive,
                                  const std::vector<std::string>& patterns, bool ignoreCase,
                                  std::vector<std::string>* unmatched) {
  std::vector<Selector> selectors;
  for (const std::string& p : patterns) selectors.emplace_back(p, ignoreCase);
  const size_t count = archive.entries().size();
  std::vector<bool> chosen(count, patterns.empty());
  std::vector<bool> used(patterns.size(), false);
  for (size_t i = 0; i < count; ++i) {
    for (size_t p = 0; p < selectors.size(); ++p) {
      if (selectors[p].Selects(archive.name(i).text)) chosen[i] = used[p] = true;
    }
  }
  for (size_t p = 0; p < patterns.size(); ++p) {
    // "#12" is an index unless it matched an entry's name.
    size_t index = 0;
    if (!used[p] && ParseEntryIndex(patterns[p], &index) && index < count) {
      chosen[index] = used[p] = true;
    }
    if (!used[p]) unmatched->push_back(patterns[p]);
  }
  std::vector<size_t> selected;
  for (size_t i = 0; i < count; ++i) {
    if (chosen[i]) selected.push_back(i);
  }
  return selected;
}
