// The platform-neutral part of the plug-in loader: the five exports resolved by name.
#include "tools/plugin_host/plugin_loader.h"

#include <fstream>

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

std::string DefaultPluginPath() {
  const std::string folder = ExecutableDirectory();
  const std::string beside = folder + PluginFileName();
#ifdef VAREL_PRIVATE_PLUGIN_DIR
  // An installed package keeps varel in PREFIX/bin and the plug-in in a private folder,
  // PREFIX/VAREL_PRIVATE_PLUGIN_DIR. A plug-in beside varel (a build folder, a side-by-side
  // installation) comes first; the private one is taken only where there is none beside.
  if (!std::ifstream(beside).is_open() && folder.size() >= 2) {
    const size_t slash = folder.find_last_of('/', folder.size() - 2);
    if (slash != std::string::npos) {
      const std::string installed =
          folder.substr(0, slash + 1) + VAREL_PRIVATE_PLUGIN_DIR "/" + PluginFileName();
      if (std::ifstream(installed).is_open()) return installed;
    }
  }
#endif
  return beside;
}

std::vector<std::string> DefaultPluginPlaces() {
  std::vector<std::string> places = {std::string(PluginFileName()) + " beside varel"};
#ifdef VAREL_PRIVATE_PLUGIN_DIR
  places.push_back("PREFIX/" VAREL_PRIVATE_PLUGIN_DIR "/" + std::string(PluginFileName()));
#endif
  return places;
}
