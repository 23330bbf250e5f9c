// The path form of the Windows file-system layer (host_fs_win32.cpp), for its tests.
#pragma once

#include <string>

#include "tools/util/unicode_text.h"

// Paths of this many UTF-16 units or more take the \\?\ form. Files may have MAX_PATH - 1
// units without it; CreateDirectoryW stops 12 short of that (room for an 8.3 name), and
// the longer limit would leave such a folder uncreatable.
constexpr size_t kLongPath = MAX_PATH - 12;

// The path for the wide calls: shorter paths as they are; longer ones in the \\?\ form,
// which lifts the length limit but takes the path literally, so it is made absolute first,
// with '\' separators and no "." or ".." (\\server\share becomes \\?\UNC\server\share).
// Paths already in the \\?\ or \\.\ form are left as they are.
WideString WidePath(const std::string& path);
