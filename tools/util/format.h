// printf into a string, for messages.
#pragma once

#include <string>

#if defined(__MINGW32__)
#define VAREL_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#else
#define VAREL_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

std::string Format(const char* format, ...) VAREL_PRINTF_FORMAT(1, 2);
