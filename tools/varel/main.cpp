// varel: a command-line host for the arc_varel plug-in. It drives the plug-in only through
// its five exports, exactly as a host application does. The program's entry point, which
// differs by platform, is in main_win32.cpp and main_posix.cpp.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "tools/os/console.h"
#include "tools/plugin_host/plugin_loader.h"
#include "tools/varel/commands.h"
#include "tools/varel/options.h"
#include "tools/varel/report.h"

namespace {

// Where the plug-in is looked for, as the --plugin line ends: "arc_varel.so beside varel)",
// and the installed package's folder on a line of its own.
std::string PluginPlaces() {
  std::string text;
  for (const std::string& place : DefaultPluginPlaces()) {
    text += text.empty() ? place : ",\n                  else " + place;
  }
  return text + ")";
}

void PrintUsage(FILE* out) {
  const std::string usage = Format(
      "usage: varel [--plugin PATH] COMMAND [ARGS...]\n"
      "\n"
      "commands:\n"
      "  info                          the plug-in's name, author, version and file types\n"
      "  detect FILE...                the archive type of each file\n"
      "  list ARCHIVE [PATTERN...]     the entries: sizes, ratio, name (or names, or JSON)\n"
      "  extract ARCHIVE [-o DIR]      the entries, into files under DIR\n"
      "  cat ARCHIVE NAME|#INDEX       one entry, to stdout\n"
      "  test ARCHIVE [PATTERN...]     reads every entry and reports what is damaged\n"
      "  pack psarc|pkg OUT PATH...    a new archive from files and folders\n"
      "\n"
      "ARCHIVE '-' is standard input; OUT '-' is standard output. Short options bundle\n"
      "(-qv) and take their values attached or apart (-oDIR, -o DIR).\n"
      "\n"
      "  --plugin PATH   the plug-in to load (default: %s\n"
      "  --version       varel's version and the plug-in it loads\n"
      "  -h, --help      this text\n"
      "\n"
      "Run 'varel COMMAND --help' for a command's options. Exit codes: 0 success,\n"
      "1 an operation failed, 2 a usage error.\n",
      PluginPlaces().c_str());
  // On stdout through Print, so that a failed write fails the run.
  if (out == stdout) {
    Print(usage);
  } else {
    WriteText(out, usage);
  }
}

// Runs the command args name; *command is set to it once it is known.
int Run(const std::vector<std::string>& args, std::string* command) {
  // varel's own options, before the command; the command's words are its own.
  static const OptionTable kOwnOptions = {
      {nullptr, "--plugin", true, nullptr, "a path"},
      {nullptr, "--version", false, nullptr},
      {"-h", "--help", false, nullptr},
  };
  ParsedArgs parsed;
  if (!ParseArgs("", args, kOwnOptions, &parsed, true)) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (parsed.Has("--help")) {
    PrintUsage(stdout);
    return kExitOk;
  }
  Options options;
  if (parsed.values.count("--plugin") != 0) options.pluginPath = parsed.values["--plugin"];
  const bool version = parsed.Has("--version");
  const std::vector<std::string>& words = parsed.positional;
  if (version) return RunVersion(options);
  if (words.empty()) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string name = words[0];
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  if (name == "help") {
    if (rest.empty()) {
      PrintUsage(stdout);
      return kExitOk;
    }
    return Run({rest[0], "--help"}, command);
  }
  for (const Command& c : Commands()) {
    if (name != c.name) continue;
    *command = name;
    return c.run(options, rest);
  }
  Report("", "unknown command " + Quoted(name));
  PrintUsage(stderr);
  return kExitUsage;
}

}  // namespace

int Main(const std::vector<std::string>& args) {
  try {
    std::string command;
    const int status = Run(args, &command);
    // Whatever the command, output that did not reach stdout fails the run.
    return FinishOutput(command) || status != kExitOk ? status : kExitFailed;
  } catch (const std::bad_alloc&) {
    Report("", "not enough memory");
  } catch (const std::exception& e) {
    Report("", e.what());
  } catch (...) {
    Report("", "unexpected failure");
  }
  return kExitFailed;
}
