#include "tools/varel_host/plugin_loader.h"

#if defined(_WIN32)
#include "platform/win32_api.h"
#include "tools/varel_host/unicode_text.h"
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace {

void* FindSymbol(void* module, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
  return dlsym(module, name);
#endif
}

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
#if defined(_WIN32)
  module_ = reinterpret_cast<void*>(LoadLibraryW(WideFromUtf8(path).c_str()));
  if (module_ == nullptr) {
    error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
#else
  module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) {
    const char* why = dlerror();
    error_ = "cannot load " + path + (why != nullptr ? std::string(": ") + why : std::string());
    return false;
  }
#endif
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
  if (module_ != nullptr) {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(module_));
#else
    dlclose(module_);
#endif
  }
  module_ = nullptr;
  exports_ = PluginExports();
}

const char* PluginFileName() {
#if defined(_WIN32)
  return "arc_varel.dll";
#else
  return "arc_varel.so";
#endif
}

std::string ExecutableDirectory() {
  std::string path;
#if defined(_WIN32)
  // Long enough for any path: GetModuleFileNameW cuts what does not fit.
  WideString buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
  path = Utf8FromWide(buffer.data(), n < buffer.size() ? n : 0);
  size_t slash = path.find_last_of("\\/");
#else
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n > 0) path.assign(buffer, static_cast<size_t>(n));
  size_t slash = path.find_last_of('/');
#endif
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string DefaultPluginPath() { return ExecutableDirectory() + PluginFileName(); }
