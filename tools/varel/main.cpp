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
#include "tools/varel/commands.h"
#include "tools/varel/report.h"

namespace {

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
      "  pack psarc|pkg OUT PATH...    a new archive from files and folders\n"
      "\n"
      "ARCHIVE '-' is standard input; OUT '-' is standard output. Short options bundle\n"
      "(-qv) and take their values attached or apart (-oDIR, -o DIR).\n"
      "\n"
      "  --plugin PATH   the plug-in to load (default: %s beside varel)\n"
      "  --version       varel's version and the plug-in it loads\n"
      "  -h, --help      this text\n"
      "\n"
      "Run 'varel COMMAND --help' for a command's options. Exit codes: 0 success,\n"
      "1 an operation failed, 2 a usage error.\n",
      PluginFileName());
  // On stdout through Print, so that a failed write fails the run.
  if (out == stdout) {
    Print(usage);
  } else {
    WriteText(out, usage);
  }
}

// Runs the command args name; *command is set to it once it is known.
int Run(const std::vector<std::string>& args, std::string* command) {
  Options options;
  bool version = false;
  size_t i = 0;
  while (i < args.size() && args[i].size() > 1 && args[i][0] == '-') {
    if (args[i] == "--plugin") {
      if (i + 1 >= args.size()) {
        Report("", "--plugin needs a path");
        return kExitUsage;
      }
      options.pluginPath = args[i + 1];
      i += 2;
    } else if (args[i].compare(0, 9, "--plugin=") == 0) {
      options.pluginPath = args[i].substr(9);
      ++i;
    } else if (args[i] == "--help" || args[i] == "-h") {
      PrintUsage(stdout);
      return kExitOk;
    } else if (args[i] == "--version") {
      version = true;
      ++i;
    } else {
      Report("", "unknown option " + Quoted(args[i]));
      PrintUsage(stderr);
      return kExitUsage;
    }
  }
  if (version) return RunVersion(options);
  if (i >= args.size()) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string name = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
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
