// varel: a command-line host for the arc_varel plug-in. It drives the plug-in only through
// its five exports, exactly as a host application does.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/varel/commands.h"

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: varel [--plugin PATH] COMMAND [ARGS...]\n"
               "\n"
               "commands:\n"
               "  info                 the plug-in's name, author, version and file types\n"
               "  detect FILE...       the archive type of each file\n"
               "\n"
               "Run 'varel COMMAND --help' for a command's options.\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  size_t i = 0;
  while (i < args.size() && args[i].size() > 1 && args[i][0] == '-') {
    if (args[i] == "--plugin") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "varel: --plugin needs a path\n");
        return kExitUsage;
      }
      options.pluginPath = args[i + 1];
      i += 2;
    } else if (args[i] == "--help" || args[i] == "-h") {
      PrintUsage(stdout);
      return kExitOk;
    } else {
      std::fprintf(stderr, "varel: unknown option '%s'\n", args[i].c_str());
      PrintUsage(stderr);
      return kExitUsage;
    }
  }
  if (i >= args.size()) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string command = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
  for (const Command& c : Commands()) {
    if (command == c.name) return c.run(options, rest);
  }
  std::fprintf(stderr, "varel: unknown command '%s'\n", command.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
