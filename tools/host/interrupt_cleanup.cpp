#include "tools/host/interrupt_cleanup.h"

#include <atomic>
#include <cstring>
#include <mutex>

#if defined(_WIN32)
#include "platform/win32_api.h"
#else
#include <unistd.h>
#include <csignal>
#endif

namespace {

// Fixed slots, so that a handler touches no lock and no heap: it may run in the middle of
// anything (on Windows on a thread of its own, on Linux inside whichever thread the signal
// stops).
constexpr int kSlots = 16;
constexpr size_t kPathBytes = 4096;
enum SlotState : int { kFree, kFilling, kArmed };

struct Slot {
  std::atomic<int> state{kFree};
  char path[kPathBytes];
};
Slot g_slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "a handler reads the states");

std::once_flag g_installed;

#if defined(_WIN32)

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: RemoveWatchedFiles(); break;
    default: break;
  }
  return FALSE;  // on to the system's handler, which ends the process
}

void InstallHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

#else

void OnSignal(int signal) {
  RemoveWatchedFiles();
  // The handler was reset to the default action on entry: the signal, blocked while the
  // handler runs, ends the process once it returns, with the status the caller expects.
  raise(signal);
}

void InstallHandlers() {
  for (int signal : {SIGINT, SIGHUP, SIGTERM}) {
    struct sigaction old;
    // A signal ignored when varel started (nohup, a background job) stays ignored.
    if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
}

#endif

}  // namespace

int WatchTemporaryFile(const std::string& path) {
  std::call_once(g_installed, InstallHandlers);
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_slots[i].state.store(kArmed);
    return i;
  }
  return -1;
}

void UnwatchTemporaryFile(int ticket) {
  if (ticket >= 0 && ticket < kSlots) g_slots[ticket].state.store(kFree);
}

void RemoveWatchedFiles() {
  for (Slot& slot : g_slots) {
    if (slot.state.load() != kArmed) continue;
#if defined(_WIN32)
    DeleteFileA(slot.path);  // open files are shared for deletion: gone once closed
#else
    unlink(slot.path);
#endif
  }
}
