// Signals on Linux: SIGINT (Ctrl-C), SIGHUP (the terminal went away) and SIGTERM remove the
// watched files, then end the process as the signal would have; so does a closed pipe,
// through SIGPIPE raised once varel has seen the failed write.
#include <csignal>
#include <cstdlib>

#include "tools/os/files_platform.h"
#include "tools/os/interrupt_cleanup.h"

namespace {

void OnSignal(int signal) {
  RemoveWatchedFilesForTheEnd();
  // The handler was reset to the default action on entry: the signal, blocked while the
  // handler runs, ends the process once it returns, with the status the caller expects.
  raise(signal);
}

}  // namespace

void InstallInterruptHandlers() {
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

void EndOnClosedPipe() {
  RemoveWatchedFiles();
  // varel ignores SIGPIPE so that a failed write is seen and reported; the default action
  // back in place, the signal ends the process at once.
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
  raise(SIGPIPE);
  std::_Exit(1);  // not reached
}
