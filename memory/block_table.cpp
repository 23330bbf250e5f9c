#include <new>

#include "memory/memory.h"

BlockTable* NewBlockTable(uint32_t blockSize) {
  void* p = PlatformHeapAlloc(sizeof(BlockTable));
  if (p == nullptr) return nullptr;
  BlockTable* table = new (p) BlockTable();
  table->blockSize = blockSize;
  return table;
}

void DeleteBlockTable(BlockTable* table) {
  if (table == nullptr) return;
  table->storedSizes.Release();
  table->~BlockTable();
  PlatformHeapFree(table);
}

bool AppendBlockTable(BlockTableRegistry& registry, BlockTable* table) {
  // The one place a standard container allocates: its failure must not leave the module.
  try {
    registry.push_back(table);
    return true;
  } catch (...) {
    return false;
  }
}

void ReleaseBlockTables(BlockTableRegistry& registry) {
  for (size_t i = 0; i < registry.size(); ++i) DeleteBlockTable(registry[i]);
}
