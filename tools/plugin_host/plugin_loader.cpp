// The platform-neutral part of the plug-in loader: the five exports resolved by name.
#include "tools/plugin_host/plugin_loader.h"

#include "tools/plugin_host/plugin_loader_platform.h"

namespace {

template <typename Fn>
bool Resolve(void* module, const char* name, Fn* out, std::string* error) {
  void* p = FindSymbol(module, name);
  if (p == nullptr) {
    *error = std::string("the plug-in has no export named ") + name;
    return false;
  }
  *out = reinterpret_cast<Fn>(p);
  return true;
}

}  // namespace

bool CPluginModule::Load(const std::string& path) {
  Unload();
  error_.clear();
  std::string why;
  module_ = OpenModule(path, &why);
  if (module_ == nullptr) {
    error_ = "cannot load " + path + why;
    return false;
  }
  if (!Resolve(module_, "TZK_GetPluginInfo", &exports_.GetPluginInfo, &error_) ||
      !Resolve(module_, "TZK_GetSupportedExt", &exports_.GetSupportedExt, &error_) ||
      !Resolve(module_, "TZK_IsSupported", &exports_.IsSupported, &error_) ||
      !Resolve(module_, "TZK_GetArchiveInfo", &exports_.GetArchiveInfo, &error_) ||
      !Resolve(module_, "TZK_GetFile", &exports_.GetFile, &error_)) {
    error_ = path + ": " + error_;
    Unload();
    return false;
  }
  return true;
}

void CPluginModule::Unload() {
  if (module_ != nullptr) CloseModule(module_);
  module_ = nullptr;
  exports_ = PluginExports();
}

std::string DefaultPluginPath() { return ExecutableDirectory() + PluginFileName(); }
