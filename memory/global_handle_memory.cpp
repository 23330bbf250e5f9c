#include "memory/memory.h"

CGlobalHandleMemory::~CGlobalHandleMemory() { Release(); }

// A block that is not handed over is freed unlocked, whatever locks were outstanding.
void CGlobalHandleMemory::Release() {
  if (handle != nullptr) {
    while (lockCount > 0) {
      --lockCount;
      (void)GlobalUnlock(handle);  // the result says only whether locks remain
    }
    (void)GlobalFree(handle);
    handle = nullptr;
  }
  lockCount = 0;
}

HGLOBAL CGlobalHandleMemory::Alloc(uint64_t n) {
  Release();
  if (n > UINT32_MAX) return nullptr;
  handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<size_t>(n));
  return handle;
}

void* CGlobalHandleMemory::Lock() {
  ++lockCount;
  return GlobalLock(handle);
}

void CGlobalHandleMemory::Unlock() {
  (void)GlobalUnlock(handle);
  --lockCount;
}

HGLOBAL CGlobalHandleMemory::Detach() {
  HGLOBAL h = handle;
  while (lockCount > 0) {
    (void)GlobalUnlock(h);
    --lockCount;
  }
  handle = nullptr;
  lockCount = 0;
  return h;
}
