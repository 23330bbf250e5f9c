// The commands of varel and what they share.
#pragma once

#include <string>
#include <vector>

#include "tools/plugin_host/host_archive.h"
#include "tools/plugin_host/plugin_loader.h"

// Exit codes scripts can rely on.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Runs varel on its arguments (UTF-8): the exit code, with no exception leaving.
int Main(const std::vector<std::string>& args);

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

// Loads the plug-in and opens and lists the archive; prints why and returns false when
// either fails.
bool OpenArchive(const char* command, const Options& options, const std::string& path,
                 CPluginModule* module, CHostArchive* archive);

// varel --version: varel's version, and the plug-in it loads with that plug-in's own.
int RunVersion(const Options& options);
int RunInfo(const Options& options, const std::vector<std::string>& args);
int RunDetect(const Options& options, const std::vector<std::string>& args);
int RunList(const Options& options, const std::vector<std::string>& args);
int RunExtract(const Options& options, const std::vector<std::string>& args);
int RunCat(const Options& options, const std::vector<std::string>& args);
int RunTest(const Options& options, const std::vector<std::string>& args);
int RunPack(const Options& options, const std::vector<std::string>& args);
