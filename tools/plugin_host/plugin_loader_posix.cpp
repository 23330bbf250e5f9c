// The plug-in loader on Linux: dlopen and dlsym, the program's folder from /proc.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "tools/plugin_host/plugin_loader.h"
#include "tools/plugin_host/plugin_loader_platform.h"

void* OpenModule(const std::string& path, std::string* why) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* text = dlerror();
    *why = text != nullptr ? std::string(": ") + text : std::string();
  }
  return module;
}

void* FindSymbol(void* module, const char* name) { return dlsym(module, name); }

void CloseModule(void* module) { dlclose(module); }

const char* PluginFileName() { return "arc_varel.so"; }

std::string ExecutableDirectory() {
  std::string path;
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n > 0) path.assign(buffer, static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
