#include "tools/varel/commands.h"

#include <cstdio>

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info", RunInfo},
      {"detect", RunDetect},
  };
  return commands;
}

bool LoadPlugin(const Options& options, CPluginModule* module) {
  const std::string path = options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  if (!module->Load(path)) {
    std::fprintf(stderr, "varel: %s\n", module->error().c_str());
    return false;
  }
  return true;
}

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}
