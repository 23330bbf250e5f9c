// The owning holders: zero-filled blocks, counted locks, release with outstanding locks,
// and the hand-over that leaves a block unlocked.
#include <gtest/gtest.h>

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

TEST(Registry, FailedGrowthLeavesItUnchangedAndThrowsNothing) {
  BlockTableRegistry registry;
  BlockTable* first = NewBlockTable(65536);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->storedSizes.Alloc(8), nullptr);
  ASSERT_TRUE(AppendBlockTable(registry, first));
  BlockTable* second = NewBlockTable(65536);
  ASSERT_NE(second, nullptr);
  PlatformFailAllocation(1);  // the vector's growth
  EXPECT_FALSE(AppendBlockTable(registry, second));
  EXPECT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry[0], first);
  DeleteBlockTable(second);
  const int32_t live = PlatformLiveHeapBlocks();
  ReleaseBlockTables(registry);
  EXPECT_EQ(PlatformLiveHeapBlocks(), live - 2) << "the table and its values";
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
