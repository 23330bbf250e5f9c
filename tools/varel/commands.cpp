#include "tools/varel/commands.h"

#include "tools/varel/report.h"

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info", RunInfo}, {"detect", RunDetect}, {"list", RunList}, {"extract", RunExtract},
      {"cat", RunCat},   {"test", RunTest},     {"pack", RunPack},
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
