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
// Moves the handle's position to offset, where the next write goes.
bool SeekHandle(intptr_t handle, uint64_t offset, std::string* why);
// Writes all n bytes.
bool WriteToHandle(intptr_t handle, const uint8_t* data, size_t n, std::string* why);
bool CloseFileHandle(intptr_t handle, std::string* why);
// Renames from to to, replacing an existing file there only when replace.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace, std::string* why);
// Distinguishes this process's temporary files from another's.
unsigned ProcessNumber();
// Removes the file at path without allocating or locking, for an interrupt handler:
// prepare turns the path into the platform's own form (into out, of room bytes) first; false
// when it does not fit. On Windows the file may still be open (it is created shared for
// deletion) and goes once its handle is closed.
bool PrepareRemovalPath(const std::string& path, void* out, size_t room);
void RemovePreparedPath(const void* prepared);
// Sleeps about a millisecond, for an interrupt handler that waits (async-signal-safe).
void PauseOneMillisecond();
// Installs the handlers that call RemoveWatchedFiles (interrupt_cleanup.h) when the run is
// interrupted.
void InstallInterruptHandlers();
