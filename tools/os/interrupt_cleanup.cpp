// The watched temporary files, in fixed slots, so that a handler touches no lock and no heap:
// it may run in the middle of anything (on Windows on a thread of its own, on Linux inside
// whichever thread the signal stops). The handlers themselves: interrupt_cleanup_win32.cpp,
// interrupt_cleanup_posix.cpp.
#include "tools/os/interrupt_cleanup.h"

#include <atomic>
#include <mutex>

#include "tools/os/files_platform.h"

namespace {

// Enough for every file one run has open at once: extraction stages up to the pipeline's
// window of files (48 at most) besides the copy of an archive read from a stream.
constexpr int kSlots = 64;
constexpr size_t kPathBytes = 8192;  // 4096 UTF-16 units on Windows
enum SlotState : int { kFree, kFilling, kArmed };

struct Slot {
  std::atomic<int> state{kFree};
  alignas(wchar_t) unsigned char path[kPathBytes];  // as PrepareRemovalPath made it
};
Slot g_slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "a handler reads the states");
// Set by a handler before it looks at the slots (RemoveWatchedFilesForTheEnd).
std::atomic<bool> g_interrupted{false};

std::once_flag g_installed;

}  // namespace

int WatchTemporaryFile(const std::string& path) {
  std::call_once(g_installed, InstallInterruptHandlers);
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    if (!PrepareRemovalPath(path, g_slots[i].path, kPathBytes)) {
      g_slots[i].state.store(kFree);
      return -1;
    }
    g_slots[i].state.store(kArmed);
    return i;
  }
  return -1;
}

void UnwatchTemporaryFile(int ticket) {
  if (ticket >= 0 && ticket < kSlots) g_slots[ticket].state.store(kFree);
}

bool InterruptUnderWay() { return g_interrupted.load(); }

void RemoveWatchedFilesForTheEnd() {
  g_interrupted.store(true);
  RemoveWatchedFiles();
}

void RemoveWatchedFiles() {
  for (Slot& slot : g_slots) {
    if (slot.state.load() == kArmed) RemovePreparedPath(slot.path);
  }
}
