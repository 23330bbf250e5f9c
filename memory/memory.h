// Owning holders for the memory the plug-in fills, and the registry of PSARC block tables.
//
// Every buffer of an operation lives in a holder whose destructor releases it, so every
// way out of an operation, the early failure returns included, leaves nothing behind. A
// global block leaves for the host only through CGlobalHandleMemory::Detach, fully unlocked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "platform/win32_api.h"

// Owning holder of one zero-filled heap block.
class Cbuffer {
 public:
  Cbuffer() : data(nullptr), length(0) {}
  virtual ~Cbuffer();
  Cbuffer(const Cbuffer&) = delete;
  Cbuffer& operator=(const Cbuffer&) = delete;

  // Releases any block held, then obtains n zero bytes. Returns the block, or NULL when the
  // heap is short (the holder is then empty, length 0). A block of 0 bytes is not NULL.
  uint8_t* Alloc(uint32_t n);
  // Alloc with a 64-bit count: NULL, holder empty, when it does not fit in 32 bits.
  uint8_t* Alloc64(uint64_t n);
  // Releases the block, if any; the holder is empty afterwards.
  void Release();

  uint8_t* data;
  uint32_t length;
};

// Owning holder of one movable, zero-initialised global block with counted locks.
class CGlobalHandleMemory {
 public:
  CGlobalHandleMemory() : handle(nullptr), lockCount(0) {}
  virtual ~CGlobalHandleMemory();
  CGlobalHandleMemory(const CGlobalHandleMemory&) = delete;
  CGlobalHandleMemory& operator=(const CGlobalHandleMemory&) = delete;

  // Releases any block held, then obtains n bytes with GMEM_MOVEABLE | GMEM_ZEROINIT.
  // Returns the handle, or NULL (holder empty) when GlobalAlloc fails or n does not fit in
  // 32 bits.
  HGLOBAL Alloc(uint64_t n);
  // Takes one counted lock. A 0-byte block gives NULL, which must not be written through.
  void* Lock();
  void Unlock();
  // Hands the block over: releases every counted lock and forgets the block.
  HGLOBAL Detach();

  HGLOBAL handle;
  int32_t lockCount;

 private:
  void Release();
};

// The block size and the stored size of every block of one PSARC archive. Created by a
// PSARC listing, kept in the registry until the module unloads.
struct BlockTable {
  uint32_t blockSize;
  Cbuffer storedSizes;  // u32 values in host order; count = length / 4

  uint32_t count() const { return storedSizes.length / 4; }
  const uint32_t* values() const { return reinterpret_cast<const uint32_t*>(storedSizes.data); }
};

// Standard allocator over the plug-in's heap; throws std::bad_alloc, which the one place
// that grows a container catches.
template <typename T>
struct PluginHeapAllocator {
  typedef T value_type;
  PluginHeapAllocator() = default;
  template <typename U>
  PluginHeapAllocator(const PluginHeapAllocator<U>&) {}
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* p = PlatformHeapAlloc(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) { PlatformHeapFree(p); }
  template <typename U>
  bool operator==(const PluginHeapAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const PluginHeapAllocator<U>&) const {
    return false;
  }
};

// The registry: owning pointers in creation order. A table's address never changes from
// its creation until unload, because records in the host's hands hold it.
typedef std::vector<BlockTable*, PluginHeapAllocator<BlockTable*>> BlockTableRegistry;

// Creates an empty table on the plug-in's heap; NULL when the heap is short.
BlockTable* NewBlockTable(uint32_t blockSize);
// Releases a table's values and the table itself.
void DeleteBlockTable(BlockTable* table);
// Appends a filled table; false, registry unchanged, when it cannot grow.
bool AppendBlockTable(BlockTableRegistry& registry, BlockTable* table);
// Releases every table, in creation order. The container frees its own storage after.
void ReleaseBlockTables(BlockTableRegistry& registry);
