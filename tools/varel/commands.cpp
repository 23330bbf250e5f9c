#include "tools/varel/commands.h"

#include <cstring>

#include "tools/varel/report.h"
#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/name_pattern.h"

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

bool PrintedHelp(const std::vector<std::string>& args, const std::string& usage) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "--help" || a == "-h") {
      Print(usage);
      return true;
    }
  }
  return false;
}

bool ParseArgs(const char* command, const std::vector<std::string>& args,
               const std::vector<OptionSpec>& specs, ParsedArgs* out) {
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
    const size_t eq = a.compare(0, 2, "--") == 0 ? a.find('=') : std::string::npos;
    const std::string key = a.substr(0, eq);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs) {
      if (key == s.longName || (s.shortName != nullptr && key == s.shortName)) spec = &s;
    }
    if (spec == nullptr) {
      Report(command, "unknown option " + Quoted(key) + " (see 'varel " + command + " --help')");
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
    if (eq != std::string::npos) {
      out->values[spec->longName] = a.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      out->values[spec->longName] = args[++i];
    } else {
      Report(command, key + " needs a value");
      return false;
    }
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

std::vector<size_t> SelectEntries(const CHostArchive& archive,
                                  const std::vector<std::string>& patterns, bool ignoreCase,
                                  std::vector<std::string>* unmatched) {
  std::vector<CNamePattern> compiled;
  for (const std::string& p : patterns) compiled.emplace_back(p, ignoreCase);
  std::vector<size_t> selected;
  std::vector<bool> used(patterns.size(), false);
  for (size_t i = 0; i < archive.entries().size(); ++i) {
    bool take = patterns.empty();
    for (size_t p = 0; p < compiled.size(); ++p) {
      if (compiled[p].Matches(archive.name(i).text)) {
        take = true;
        used[p] = true;
      }
    }
    if (take) selected.push_back(i);
  }
  for (size_t p = 0; p < patterns.size(); ++p) {
    if (!used[p]) unmatched->push_back(patterns[p]);
  }
  return selected;
}
