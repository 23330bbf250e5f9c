// Test seam of the Linux platform library: counters of live blocks and a switch that makes
// one future allocation fail. Hosts and the plug-in never call these; tests do, to show
// that every failure path returns cleanly and that nothing leaks.
#pragma once

#include "platform/win32_api.h"

#if !defined(_WIN32)

#define VAREL_HAVE_PLATFORM_SEAM 1

// Makes the n-th allocation from now on (global block or heap block, counted together,
// 1 = the next one) fail; 0 disarms. The switch disarms itself when it fires.
PLATFORM_API void PlatformFailAllocation(uint32_t n);
// Allocations attempted since the process started, failed ones included.
PLATFORM_API uint32_t PlatformAllocationCount(void);
// Blocks obtained and not yet freed.
PLATFORM_API int32_t PlatformLiveGlobalBlocks(void);
PLATFORM_API int32_t PlatformLiveHeapBlocks(void);
// Selects the code page GetACP reports, as if the locale said so (0: back to the locale).
PLATFORM_API void PlatformSetAnsiCodePage(UINT codePage);

#endif
