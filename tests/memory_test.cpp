// The owning holders: zero-filled blocks, counted locks, release with outstanding locks,
// and the hand-over that leaves a block unlocked.
#include <gtest/gtest.h>

#include <vector>

#include "memory/memory.h"
#include "platform/platform_testing.h"
#include "tests/support/test_support.h"

namespace {

#if defined(VAREL_HAVE_PLATFORM_SEAM)
constexpr bool kCounted = true;
int32_t LiveHeapBlocks() { return PlatformLiveHeapBlocks(); }
#else
constexpr bool kCounted = false;  // the Windows heap keeps no count of our blocks
int32_t LiveHeapBlocks() { return 0; }
#endif

// Each Alloc releases the block held before it, a refused one included, and the holder
// always says how long its block is.
TEST(Cbuffer, AllocReleasesTheBlockItHeld) {
  const int32_t before = LiveHeapBlocks();
  {
    Cbuffer b;
    EXPECT_EQ(b.data, nullptr);
    ASSERT_NE(b.Alloc(100), nullptr);
    EXPECT_EQ(b.length, 100u);
    b.data[99] = 9;
    ASSERT_NE(b.Alloc(200), nullptr);
    EXPECT_EQ(b.length, 200u);
    EXPECT_EQ(b.data[99], 0) << "a new block, zero-filled";
    if (kCounted) {
      EXPECT_EQ(LiveHeapBlocks() - before, 1) << "the first block was released";
    }
    ASSERT_NE(b.Alloc(0), nullptr) << "a block of 0 bytes is still a block";
    EXPECT_EQ(b.length, 0u);
    if (kCounted) {
      EXPECT_EQ(LiveHeapBlocks() - before, 1);
    }
    EXPECT_EQ(b.Alloc64(uint64_t(1) << 32), nullptr) << "more than 32 bits never allocates";
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.length, 0u);
    if (kCounted) {
      EXPECT_EQ(LiveHeapBlocks() - before, 0) << "a refused Alloc released the old block";
    }
    ASSERT_NE(b.Alloc(10), nullptr);
  }
  if (kCounted) {
    EXPECT_EQ(LiveHeapBlocks() - before, 0) << "the destructor released the last";
  }
}

TEST(CGlobalHandleMemory, DetachAfterOneLockHandsOverAnUnlockedBlock) {
  HGLOBAL h;
  {
    CGlobalHandleMemory m;
    ASSERT_NE(m.Alloc(64), nullptr);
    auto* p = static_cast<uint8_t*>(m.Lock());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[63], 0);
    p[0] = 7;
    EXPECT_EQ(LockCount(m.handle), 1u);
    h = m.Detach();
    EXPECT_EQ(m.handle, nullptr);
    EXPECT_EQ(m.lockCount, 0);
  }
  // The holder's destructor did not free it: the host can still use it.
  EXPECT_EQ(LockCount(h), 0u);
  EXPECT_EQ(GlobalSize(h), 64u);
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 7);
  GlobalUnlock(h);
  EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(CGlobalHandleMemory, ZeroByteBlockGivesAHandleAndNoAddress) {
  CGlobalHandleMemory m;
  ASSERT_NE(m.Alloc(0), nullptr);
  EXPECT_EQ(m.Lock(), nullptr);
  EXPECT_EQ(m.Alloc(uint64_t(1) << 32), nullptr);
  EXPECT_EQ(m.handle, nullptr);
}

#if defined(VAREL_HAVE_PLATFORM_SEAM)
TEST(CGlobalHandleMemory, ReleaseWithTwoLocksUnlocksThenFrees) {
  const int32_t before = PlatformLiveGlobalBlocks();
  {
    CGlobalHandleMemory m;
    ASSERT_NE(m.Alloc(16), nullptr);
    m.Lock();
    m.Lock();
    EXPECT_EQ(LockCount(m.handle), 2u);
    EXPECT_EQ(PlatformLiveGlobalBlocks(), before + 1);
  }
  EXPECT_EQ(PlatformLiveGlobalBlocks(), before);
}

TEST(CGlobalHandleMemory, AllocReplacesALockedBlock) {
  const int32_t before = PlatformLiveGlobalBlocks();
  CGlobalHandleMemory m;
  ASSERT_NE(m.Alloc(16), nullptr);
  m.Lock();
  ASSERT_NE(m.Alloc(32), nullptr);
  EXPECT_EQ(m.lockCount, 0);
  EXPECT_EQ(LockCount(m.handle), 0u);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), before + 1);
}

// A sealed table of `count` values, of which the given ones are held.
BlockTable* TableOf(uint32_t count, const std::vector<uint32_t>& held) {
  BlockTable* table = NewBlockTable(65536);
  EXPECT_NE(table, nullptr);
  uint32_t* values = table->storedSizes.Alloc(count, static_cast<uint32_t>(held.size()));
  EXPECT_NE(values, nullptr);
  for (size_t k = 0; k < held.size(); ++k) values[k] = held[k];
  SealBlockTable(table);
  return table;
}

TEST(Registry, FailedGrowthLeavesItUnchangedAndThrowsNothing) {
  const int32_t live = PlatformLiveHeapBlocks();
  {
    CBlockTableRegistry registry;
    BlockTable* first = TableOf(4, {1, 2});
    ASSERT_EQ(registry.Add(first), first);
    BlockTable* second = TableOf(4, {1, 3});
    PlatformFailAllocation(1);  // the vector's growth
    EXPECT_EQ(registry.Add(second), nullptr);
    EXPECT_EQ(registry.size(), 1u);
    EXPECT_EQ(registry.at(0), first);
    DeleteBlockTable(second);
  }
  EXPECT_EQ(PlatformLiveHeapBlocks(), live) << "the registry released its table";
}

TEST(Registry, IdenticalTablesAreRegisteredOnce) {
  CBlockTableRegistry registry;
  BlockTable* a = TableOf(5, {7, 0, 9});
  ASSERT_EQ(registry.Add(a), a);
  // Equal block size, count and values: the registered one, whoever built it.
  BlockTable* same = TableOf(5, {7, 0, 9});
  EXPECT_EQ(registry.Find(*same), a);
  EXPECT_EQ(registry.Add(same), a);
  DeleteBlockTable(same);
  // Any difference makes another table: a value, the count, the block size.
  BlockTable* value = TableOf(5, {7, 0, 8});
  BlockTable* count = TableOf(6, {7, 0, 9});
  BlockTable* blockSize = TableOf(5, {7, 0, 9});
  blockSize->blockSize = 32768;
  SealBlockTable(blockSize);
  for (BlockTable* t : {value, count, blockSize}) {
    EXPECT_EQ(registry.Find(*t), nullptr);
    EXPECT_EQ(registry.Add(t), t);
  }
  EXPECT_EQ(registry.size(), 4u);
}

TEST(Registry, TablesOfEqualHashAreToldApartByTheirValues) {
  CBlockTableRegistry registry;
  BlockTable* a = TableOf(3, {1, 2, 3});
  BlockTable* b = TableOf(3, {3, 2, 1});
  b->hash = a->hash;  // as if the two collided
  ASSERT_EQ(registry.Add(a), a);
  EXPECT_EQ(registry.Find(*b), nullptr);
  ASSERT_EQ(registry.Add(b), b);
  BlockTable* again = TableOf(3, {3, 2, 1});
  again->hash = a->hash;
  EXPECT_EQ(registry.Find(*again), b);
  DeleteBlockTable(again);
  EXPECT_EQ(registry.size(), 2u);
}

TEST(StoredSizes, ValuesPastThoseHeldReadAsZero) {
  CStoredSizes sizes;
  uint32_t* values = sizes.Alloc(1000, 2);
  ASSERT_NE(values, nullptr);
  values[0] = 5;
  values[1] = 6;
  EXPECT_EQ(sizes.count(), 1000u);
  EXPECT_EQ(sizes.held(), 2u);
  EXPECT_EQ(sizes.At(1), 6u);
  EXPECT_EQ(sizes.At(2), 0u);
  EXPECT_EQ(sizes.At(999), 0u);
  EXPECT_EQ(sizes.Alloc(2, 3), nullptr) << "never more held than counted";
  EXPECT_EQ(sizes.count(), 0u);
  PlatformFailAllocation(1);
  EXPECT_EQ(sizes.Alloc(10, 0), nullptr) << "no value held is still one block";
  EXPECT_EQ(sizes.count(), 0u);
}

TEST(Cbuffer, FailedAllocLeavesTheHolderEmpty) {
  Cbuffer b;
  ASSERT_NE(b.Alloc(10), nullptr);
  PlatformFailAllocation(1);
  EXPECT_EQ(b.Alloc(20), nullptr);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.length, 0u);
}
#endif

}  // namespace
