// Tests that need a given ANSI code page: on Linux the platform layer is switched to it; on
// Windows the test runs only where the system has it (the cp932 runs under Wine).
#pragma once

#include "platform/platform_testing.h"

class CCodePageScope {
 public:
  explicit CCodePageScope(unsigned codePage) {
#if defined(VAREL_HAVE_PLATFORM_SEAM)
    PlatformSetAnsiCodePage(codePage);
    active_ = true;
#else
    active_ = GetACP() == codePage;
#endif
  }
  ~CCodePageScope() {
#if defined(VAREL_HAVE_PLATFORM_SEAM)
    PlatformSetAnsiCodePage(0);
#endif
  }
  CCodePageScope(const CCodePageScope&) = delete;
  CCodePageScope& operator=(const CCodePageScope&) = delete;
  // False when the code page is not available here: the test skips.
  bool active() const { return active_; }

 private:
  bool active_;
};
