// The plug-in loader on Windows: LoadLibraryW and GetProcAddress, the program's folder from
// GetModuleFileNameW.
#include "platform/win32_api.h"
#include "tools/plugin_host/plugin_loader.h"
#include "tools/plugin_host/plugin_loader_platform.h"
#include "tools/util/unicode_text.h"

void* OpenModule(const std::string& path, std::string* why) {
  void* module = reinterpret_cast<void*>(LoadLibraryW(WideFromUtf8(path).c_str()));
  if (module == nullptr) *why = " (error " + std::to_string(GetLastError()) + ")";
  return module;
}

void* FindSymbol(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

const char* PluginFileName() { return "arc_varel.dll"; }

std::string ExecutableDirectory() {
  // Long enough for any path: GetModuleFileNameW cuts what does not fit.
  WideString buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
  const std::string path = Utf8FromWide(buffer.data(), n < buffer.size() ? n : 0);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
