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

// The stored size of every block of one PSARC archive, u32 values in host order: count()
// of them, of which only the first held() are kept; the rest read as 0. A listing keeps
// only the values the archive file delivered, so that what a table pins is bounded by the
// file's bytes and not by the count its header declares.
class CStoredSizes {
 public:
  CStoredSizes() : count_(0) {}
  CStoredSizes(const CStoredSizes&) = delete;
  CStoredSizes& operator=(const CStoredSizes&) = delete;

  // Releases any values held, then makes room for the first `held` of `count` values, all
  // 0 (held <= count). Returns them to fill, or NULL when the heap is short (nothing is
  // then held and the count is 0). Room for no value is still one heap block.
  uint32_t* Alloc(uint32_t count, uint32_t held);
  void Release();

  uint32_t count() const { return count_; }
  uint32_t held() const { return values_.length / 4; }
  const uint32_t* values() const { return reinterpret_cast<const uint32_t*>(values_.data); }
  // Value k, for k below count(): 0 past the values held. Every reader of a table's values
  // goes through this or clamps its loop at held().
  uint32_t At(uint32_t k) const { return k < held() ? values()[k] : 0; }

 private:
  Cbuffer values_;
  uint32_t count_;
};

// The block size and the stored size of every block of one PSARC archive. Created by a
// PSARC listing and registered until the module unloads. A table never changes once it is
// registered, so any number of threads may read it at once, and listings whose tables are
// identical share one.
struct BlockTable {
  uint32_t blockSize;
  uint32_t hash;  // of the block size, the count and the values held; set by SealBlockTable
  CStoredSizes storedSizes;

  uint32_t count() const { return storedSizes.count(); }
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

// Creates an empty table on the plug-in's heap; NULL when the heap is short.
BlockTable* NewBlockTable(uint32_t blockSize);
// Releases a table's values and the table itself.
void DeleteBlockTable(BlockTable* table);
// Computes the table's hash once its values are filled; nothing changes it afterwards.
void SealBlockTable(BlockTable* table);
// True when both tables have the same block size, count and values.
bool SameBlockTable(const BlockTable& a, const BlockTable& b);

// Owns a critical section for its lifetime: on Windows kernel32's, on Linux the platform
// layer's, under the same names.
class CCriticalSection {
 public:
  CCriticalSection() { InitializeCriticalSection(&section_); }
  ~CCriticalSection() { DeleteCriticalSection(&section_); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

// Holds a critical section from its construction to the end of its scope.
class CLockedScope {
 public:
  explicit CLockedScope(CCriticalSection& section) : section_(section) { section_.Enter(); }
  ~CLockedScope() { section_.Leave(); }
  CLockedScope(const CLockedScope&) = delete;
  CLockedScope& operator=(const CLockedScope&) = delete;

 private:
  CCriticalSection& section_;
};

// The registry: every distinct block table a listing registered, owned until unload. A
// table's address never changes from its registration until unload, because records in
// the host's hands hold it. A listing whose table is identical to a registered one shares
// that one; identical tables are told apart from merely similar ones by their hash first,
// then by an exact comparison. Safe to call from several threads at once: one critical
// section guards the container (the tables need none, since they never change).
class CBlockTableRegistry {
 public:
  CBlockTableRegistry() = default;
  ~CBlockTableRegistry();  // releases every table, then its own storage
  CBlockTableRegistry(const CBlockTableRegistry&) = delete;
  CBlockTableRegistry& operator=(const CBlockTableRegistry&) = delete;

  // The registered table identical to a sealed `table`, or NULL.
  BlockTable* Find(const BlockTable& table);
  // Registers a sealed table unless an identical one is registered already. Returns the
  // registered table: `table` itself, now owned by the registry, or the identical one
  // (then `table` stays the caller's to delete). NULL when the registry cannot grow: the
  // registry is unchanged and `table` stays the caller's.
  BlockTable* Add(BlockTable* table);
  // Releases every table exactly once; the registry is empty afterwards.
  void Release();

  // For tests that look inside a plug-in object of their own.
  size_t size();
  size_t capacity();
  BlockTable* at(size_t i);

 private:
  // Position of the first table whose hash is not below `hash`.
  size_t LowerBound(uint32_t hash) const;
  BlockTable* FindLocked(const BlockTable& table) const;

  CCriticalSection lock_;
  // Owning pointers in the order of their hashes, equal hashes in registration order.
  std::vector<BlockTable*, PluginHeapAllocator<BlockTable*>> tables_;
};
