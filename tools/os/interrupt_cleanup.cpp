// The watched temporary files, in slots that a handler reads without a lock or the heap: it
// may run in the middle of anything (on Windows on a thread of its own, on Linux inside
// whichever thread the signal stops). The handlers themselves: interrupt_cleanup_win32.cpp,
// interrupt_cleanup_posix.cpp.
//
// The slots come in blocks chained from a first, static one. A block is added (by the
// thread that finds every slot taken) with one compare-and-swap on the last block's link
// and is never freed, so a handler walking the chain meets only whole blocks, and there
// are as many slots as a run ever holds files at once, whatever the number of jobs.
#include "tools/os/interrupt_cleanup.h"

#include <atomic>
#include <mutex>
#include <new>

#include "tools/os/files_platform.h"

namespace {

constexpr int kSlotsPerBlock = 64;
constexpr size_t kPathBytes = 8192;  // 4096 UTF-16 units on Windows
enum SlotState : int { kFree, kFilling, kArmed };

struct Slot {
  std::atomic<int> state{kFree};
  alignas(wchar_t) unsigned char path[kPathBytes];  // as PrepareRemovalPath made it
};
struct SlotBlock {
  Slot slots[kSlotsPerBlock];
  std::atomic<SlotBlock*> next{nullptr};
};
SlotBlock g_first;
static_assert(std::atomic<int>::is_always_lock_free, "a handler reads the states");
static_assert(std::atomic<SlotBlock*>::is_always_lock_free, "a handler follows the links");
// Set by a handler before it looks at the slots (RemoveWatchedFilesForTheEnd).
std::atomic<bool> g_interrupted{false};
// Files between WatchTemporaryFile and MakingDone.
std::atomic<int> g_making{0};
// How long a handler waits for them, in milliseconds: far longer than creating a file
// takes, short enough not to be noticed when the handler stopped a maker.
constexpr int kMakingWaitMs = 200;

std::once_flag g_installed;

// The block after block, added when there is none; nullptr when memory ran out.
SlotBlock* NextBlock(SlotBlock* block) {
  SlotBlock* next = block->next.load();
  if (next != nullptr) return next;
  SlotBlock* added = new (std::nothrow) SlotBlock;
  if (added == nullptr) return nullptr;
  if (block->next.compare_exchange_strong(next, added)) return added;
  delete added;  // another thread added one first: next is it
  return next;
}

// A free slot armed with path: its ticket, or -1.
int TakeSlot(const std::string& path) {
  int base = 0;
  for (SlotBlock* block = &g_first; block != nullptr;
       block = NextBlock(block), base += kSlotsPerBlock) {
    for (int i = 0; i < kSlotsPerBlock; ++i) {
      Slot& slot = block->slots[i];
      int expected = kFree;
      if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
      if (!PrepareRemovalPath(path, slot.path, kPathBytes)) {
        slot.state.store(kFree);
        return -1;
      }
      slot.state.store(kArmed);
      return base + i;
    }
  }
  return -1;
}

}  // namespace

int WatchTemporaryFile(const std::string& path) {
  std::call_once(g_installed, InstallInterruptHandlers);
  g_making.fetch_add(1);
  if (g_interrupted.load()) {
    MakingDone();
    return -1;
  }
  const int ticket = TakeSlot(path);
  if (ticket < 0) MakingDone();
  return ticket;
}

void MakingDone() { g_making.fetch_sub(1); }

void UnwatchTemporaryFile(int ticket) {
  if (ticket < 0) return;
  SlotBlock* block = &g_first;
  for (int k = ticket / kSlotsPerBlock; k > 0 && block != nullptr; --k) block = block->next.load();
  if (block != nullptr) block->slots[ticket % kSlotsPerBlock].state.store(kFree);
}

bool InterruptUnderWay() { return g_interrupted.load(); }

void RemoveWatchedFilesForTheEnd() {
  g_interrupted.store(true);
  for (int waited = 0; g_making.load() != 0 && waited < kMakingWaitMs; ++waited) {
    PauseOneMillisecond();
  }
  RemoveWatchedFiles();
}

void RemoveWatchedFiles() {
  for (SlotBlock* block = &g_first; block != nullptr; block = block->next.load()) {
    for (Slot& slot : block->slots) {
      if (slot.state.load() == kArmed) RemovePreparedPath(slot.path);
    }
  }
}
