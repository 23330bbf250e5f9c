#include "tools/varel/options.h"

#include <cstdlib>

#include "tools/plugin_host/entry_names.h"
#include "tools/util/ordered_pool.h"
#include "tools/varel/report.h"

std::string OptionHelp(const OptionTable& table) {
  std::string help;
  for (const OptionSpec& o : table) {
    if (o.help != nullptr) help += o.help;
  }
  return help;
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

const OptionSpec* FindOption(const OptionTable& specs, const std::string& key) {
  for (const OptionSpec& s : specs) {
    if (key == s.longName || (s.shortName != nullptr && key == s.shortName)) return &s;
  }
  return nullptr;
}

void ReportUnknown(const char* command, const std::string& option) {
  if (*command == 0) {
    Report("", "unknown option " + Quoted(option));
    return;
  }
  Report(command, "unknown option " + Quoted(option) + " (see 'varel " + command + " --help')");
}

}  // namespace

bool ParseArgs(const char* command, const std::vector<std::string>& args, const OptionTable& specs,
               ParsedArgs* out, bool untilPositional) {
  // The value of the option key in args[*i]: that word from `at` on, or with `at` npos the
  // next word.
  const auto takeValue = [&](const OptionSpec& spec, const std::string& key, size_t at, size_t* i) {
    if (at != std::string::npos) {
      out->values[spec.longName] = args[*i].substr(at);
    } else if (*i + 1 < args.size()) {
      out->values[spec.longName] = args[++*i];
    } else {
      Report(command,
             key + " needs " + (spec.valueMissing != nullptr ? spec.valueMissing : "a value"));
      return false;
    }
    return true;
  };
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      if (untilPositional) {
        out->positional.assign(args.begin() + static_cast<long>(i), args.end());
        return true;
      }
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

const OptionSpec kIgnoreCaseOption = {
    nullptr, "--ignore-case", false,
    "  --ignore-case      names match ignoring case (the default on Windows)\n"};
const OptionSpec kCaseSensitiveOption = {
    nullptr, "--case-sensitive", false,
    "  --case-sensitive   names match only with the same case (the default on Linux)\n"};

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

const OptionSpec kJobsOption = {"-j", "--jobs", true, nullptr};

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
