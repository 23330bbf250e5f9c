// What the shared part of the file-system layer (host_fs.cpp) takes from each platform's
// calls (host_fs_win32.cpp, host_fs_posix.cpp). Handles are a HANDLE on Windows and a file
// descriptor on Linux; why says what went wrong, without the path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class CreateResult { kCreated, kExists, kFailed };

// Creates a new file at path for writing; kExists when something is there already.
CreateResult CreateNewFile(const std::string& path, intptr_t* handle, std::string* why);
// Writes all n bytes.
bool WriteToHandle(intptr_t handle, const uint8_t* data, size_t n, std::string* why);
bool CloseFileHandle(intptr_t handle, std::string* why);
// Renames from to to, replacing an existing file there only when replace.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* why);
// Distinguishes this process's temporary files from another's.
unsigned ProcessNumber();
