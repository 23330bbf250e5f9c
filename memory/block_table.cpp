#include <algorithm>
#include <cstring>
#include <new>

#include "memory/memory.h"

uint32_t* CStoredSizes::Alloc(uint32_t count, uint32_t held) {
  Release();
  if (held > count) return nullptr;
  // held <= count < 2^30 for any table a listing builds; the product is checked anyway.
  uint8_t* p = values_.Alloc64(static_cast<uint64_t>(held) * 4);
  if (p == nullptr) return nullptr;
  count_ = count;
  return reinterpret_cast<uint32_t*>(p);
}

void CStoredSizes::Release() {
  values_.Release();
  count_ = 0;
}

BlockTable* NewBlockTable(uint32_t blockSize) {
  void* p = PlatformHeapAlloc(sizeof(BlockTable));
  if (p == nullptr) return nullptr;
  BlockTable* table = new (p) BlockTable();
  table->blockSize = blockSize;
  table->hash = 0;
  return table;
}

void DeleteBlockTable(BlockTable* table) {
  if (table == nullptr) return;
  table->storedSizes.Release();
  table->~BlockTable();
  PlatformHeapFree(table);
}

void SealBlockTable(BlockTable* table) {
  // FNV-1a steps over 32-bit words, in four lanes that take every fourth value: a listing
  // hashes its whole table, and one lane's chain of multiplies took 2.5% of the listing of
  // a 100,000-entry archive; four independent chains take a third of that.
  constexpr uint32_t kPrime = 16777619u;
  uint32_t lane[4] = {2166136261u, 2166136261u ^ table->blockSize,
                      2166136261u ^ table->storedSizes.count(), 2166136261u};
  const uint32_t* values = table->storedSizes.values();
  const uint32_t held = table->storedSizes.held();
  uint32_t k = 0;
  for (; held - k >= 4; k += 4) {
    for (int j = 0; j < 4; ++j) lane[j] = (lane[j] ^ values[k + j]) * kPrime;
  }
  for (; k < held; ++k) lane[0] = (lane[0] ^ values[k]) * kPrime;
  uint32_t h = lane[0];
  for (int j = 1; j < 4; ++j) h = (h ^ lane[j]) * kPrime;
  table->hash = (h ^ held) * kPrime;
}

bool SameBlockTable(const BlockTable& a, const BlockTable& b) {
  const uint32_t held = a.storedSizes.held();
  return a.hash == b.hash && a.blockSize == b.blockSize &&
         a.storedSizes.count() == b.storedSizes.count() && held == b.storedSizes.held() &&
         (held == 0 ||
          std::memcmp(a.storedSizes.values(), b.storedSizes.values(), size_t{held} * 4) == 0);
}

CBlockTableRegistry::~CBlockTableRegistry() { Release(); }

size_t CBlockTableRegistry::LowerBound(uint32_t hash) const {
  const auto at = std::lower_bound(tables_.begin(), tables_.end(), hash,
                                   [](const BlockTable* t, uint32_t h) { return t->hash < h; });
  return static_cast<size_t>(at - tables_.begin());
}

BlockTable* CBlockTableRegistry::FindLocked(const BlockTable& table) const {
  for (size_t i = LowerBound(table.hash); i < tables_.size() && tables_[i]->hash == table.hash;
       ++i) {
    if (SameBlockTable(*tables_[i], table)) return tables_[i];
  }
  return nullptr;
}

BlockTable* CBlockTableRegistry::Find(const BlockTable& table) {
  CLockedScope locked(lock_);
  return FindLocked(table);
}

BlockTable* CBlockTableRegistry::Add(BlockTable* table) {
  CLockedScope locked(lock_);
  if (BlockTable* same = FindLocked(*table)) return same;
  // After the tables of equal hash, so that equal hashes stay in registration order. The
  // one place a standard container allocates: its failure must not leave the module, and
  // a failed insert leaves the vector as it was.
  size_t at = LowerBound(table->hash);
  while (at < tables_.size() && tables_[at]->hash == table->hash) ++at;
  try {
    tables_.insert(tables_.begin() + static_cast<ptrdiff_t>(at), table);
  } catch (...) {
    return nullptr;
  }
  return table;
}

void CBlockTableRegistry::Release() {
  CLockedScope locked(lock_);
  for (BlockTable* table : tables_) DeleteBlockTable(table);
  tables_.clear();
}

size_t CBlockTableRegistry::size() {
  CLockedScope locked(lock_);
  return tables_.size();
}

size_t CBlockTableRegistry::capacity() {
  CLockedScope locked(lock_);
  return tables_.capacity();
}

BlockTable* CBlockTableRegistry::at(size_t i) {
  CLockedScope locked(lock_);
  return i < tables_.size() ? tables_[i] : nullptr;
}
