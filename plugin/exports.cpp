// The module's five exports and its one plug-in object.
//
// The object has static storage: the runtime constructs it while the module loads, before
// the entry routine runs, and destroys it at unload, releasing every block table. Each
// export is a thin forward wrapped in a backstop, so that no exception reaches the host.
#include "plugin/plugin.h"

#if defined(_WIN32)
#define TZK_EXPORT
#else
#define TZK_EXPORT __attribute__((visibility("default")))
#endif

// Hosts built by other compilers may call with a 4-byte-aligned stack.
#define TZK_API extern "C" TZK_EXPORT __attribute__((force_align_arg_pointer)) int32_t TZK_CALL

namespace {
CPluginArchivePSX thePlugin;
}

TZK_API TZK_GetPluginInfo(PluginInfo* info) {
  try {
    return thePlugin.GetPluginInfo(info);
  } catch (...) {
    return kResultNoMemory;
  }
}

TZK_API TZK_GetSupportedExt(int32_t kind, int32_t index, char* description,
                            int32_t* descriptionLength, char* pattern, int32_t* patternLength) {
  try {
    return thePlugin.GetSupportedExt(kind, index, description, descriptionLength, pattern,
                                     patternLength);
  } catch (...) {
    return kResultNoMemory;
  }
}

TZK_API TZK_IsSupported(const ArchiveSource* source, int32_t kind, int32_t* type) {
  try {
    if (type == nullptr) return kResultBadArgument;
    *type = kTypeNone;
    if (kind != 1) return kResultOk;
    if (source == nullptr || source->header == nullptr) return kResultBadArgument;
    return thePlugin.IsSupported(source, type);
  } catch (...) {
    return kResultNoMemory;
  }
}

TZK_API TZK_GetArchiveInfo(const ArchiveSource* source, HGLOBAL* entries, int32_t* count) {
  try {
    if (count == nullptr || entries == nullptr) return kResultBadArgument;
    if (source == nullptr || source->header == nullptr) {
      *count = 0;
      return kResultBadArgument;
    }
    return thePlugin.GetArchiveInfo(source, entries, count);
  } catch (...) {
    return kResultNoMemory;
  }
}

TZK_API TZK_GetFile(uint32_t unused, const uint8_t* stored, ArchiveEntry* entry,
                    HGLOBAL* contents) {
  try {
    if (entry == nullptr || contents == nullptr) return kResultBadArgument;
    return thePlugin.GetFile(unused, stored, entry, contents);
  } catch (...) {
    return kResultNoMemory;
  }
}

#if defined(_WIN32)
// The entry routine accepts every notification.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
