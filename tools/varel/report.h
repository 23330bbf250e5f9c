// What varel says, and where: messages on stderr that begin "varel COMMAND: ", results on
// stdout. All of it is UTF-8 text, written through WriteText (the wide console call on a
// Windows console).
#pragma once

#include <string>

#if defined(__MINGW32__)
#define VAREL_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#else
#define VAREL_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

// printf into a string.
std::string Format(const char* format, ...) VAREL_PRINTF_FORMAT(1, 2);
// "varel COMMAND: message" and a line break on stderr ("varel: message" without a command).
void Report(const std::string& command, const std::string& message);
// Text on stdout; false when it could not be written.
bool Print(const std::string& text);
// 'name' in quotes with control characters escaped (PrintableName), for messages.
std::string Quoted(const std::string& name);
