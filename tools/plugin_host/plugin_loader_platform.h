// What the shared part of the plug-in loader (plugin_loader.cpp) takes from each platform's
// calls (plugin_loader_win32.cpp, plugin_loader_posix.cpp). A module is an HMODULE on
// Windows and a dlopen handle on Linux.
#pragma once

#include <string>

// Loads the module at path; NULL when it cannot, with why saying so (to follow the path).
void* OpenModule(const std::string& path, std::string* why);
// The address of the module's export `name`, or NULL.
void* FindSymbol(void* module, const char* name);
void CloseModule(void* module);
