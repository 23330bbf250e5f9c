// The commands of varel and what they share.
#pragma once

#include <string>
#include <vector>

#include "tools/host/plugin_loader.h"

// Exit codes scripts can rely on.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
  std::string pluginPath;  // empty: the plug-in beside varel
};

struct Command {
  const char* name;
  int (*run)(const Options& options, const std::vector<std::string>& args);
};

const std::vector<Command>& Commands();

// Loads the plug-in the options name; prints why and returns false when it cannot.
bool LoadPlugin(const Options& options, CPluginModule* module);

// True when args hold --help or -h (after which the command prints its usage).
bool WantsHelp(const std::vector<std::string>& args);

int RunInfo(const Options& options, const std::vector<std::string>& args);
int RunDetect(const Options& options, const std::vector<std::string>& args);
