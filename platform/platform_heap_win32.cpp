// The plug-in's heap on Windows: the C runtime's zero-filled blocks.
#include <cstdlib>

#include "platform/win32_api.h"

void* PlatformHeapAlloc(size_t bytes) { return std::calloc(bytes == 0 ? 1 : bytes, 1); }

void PlatformHeapFree(void* block) { std::free(block); }
