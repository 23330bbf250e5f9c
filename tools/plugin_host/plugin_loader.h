// Loads the plug-in module at run time and finds its five exports, as any host does:
// LoadLibrary and GetProcAddress on Windows, dlopen and dlsym on Linux.
#pragma once

#include <string>
#include <vector>

#include "host/host_records.h"

struct PluginExports {
  TZK_GetPluginInfoFn GetPluginInfo = nullptr;
  TZK_GetSupportedExtFn GetSupportedExt = nullptr;
  TZK_IsSupportedFn IsSupported = nullptr;
  TZK_GetArchiveInfoFn GetArchiveInfo = nullptr;
  TZK_GetFileFn GetFile = nullptr;
};

class CPluginModule {
 public:
  CPluginModule() = default;
  ~CPluginModule() { Unload(); }
  CPluginModule(const CPluginModule&) = delete;
  CPluginModule& operator=(const CPluginModule&) = delete;

  // Loads the module at path and resolves every export. On failure returns false and
  // error() says what went wrong; nothing stays loaded.
  bool Load(const std::string& path);
  void Unload();
  bool loaded() const { return module_ != nullptr; }
  const PluginExports& exports() const { return exports_; }
  const std::string& error() const { return error_; }

 private:
  void* module_ = nullptr;
  PluginExports exports_;
  std::string error_;
};

// The module's file name on this platform ("arc_varel.dll" or "arc_varel.so").
const char* PluginFileName();
// The folder of the running program, with a trailing separator.
std::string ExecutableDirectory();
// The plug-in beside the running program; where there is none and the build names a private
// folder (VAREL_PRIVATE_PLUGIN_DIR, on Linux), the one in that folder of the program's prefix.
std::string DefaultPluginPath();
// Where DefaultPluginPath looks, in order, for the usage text: "arc_varel.so beside varel",
// then, on a build that names a private folder, "PREFIX/lib/varel/arc_varel.so".
std::vector<std::string> DefaultPluginPlaces();
