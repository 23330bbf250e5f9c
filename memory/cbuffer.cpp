#include "memory/memory.h"

Cbuffer::~Cbuffer() { Release(); }

void Cbuffer::Release() {
  PlatformHeapFree(data);
  data = nullptr;
  length = 0;
}

uint8_t* Cbuffer::Alloc(uint32_t n) {
  Release();
  // The heap hands out zero-filled blocks.
  data = static_cast<uint8_t*>(PlatformHeapAlloc(n));
  if (data == nullptr) return nullptr;
  length = n;
  return data;
}

uint8_t* Cbuffer::Alloc64(uint64_t n) {
  if (n > UINT32_MAX) {
    Release();
    return nullptr;
  }
  return Alloc(static_cast<uint32_t>(n));
}
