// Console events on Windows: Ctrl-C, Ctrl-Break, closing the console window, logging off
// and shutting down remove the watched files, then the system's handler ends the process.
#include <cstdlib>

#include "platform/win32_api.h"
#include "tools/os/files_platform.h"
#include "tools/os/interrupt_cleanup.h"

namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: RemoveWatchedFilesForTheEnd(); break;
    default: break;
  }
  return FALSE;  // on to the system's handler, which ends the process
}

}  // namespace

void InstallInterruptHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void EndOnClosedPipe() {
  // Files still open go once the process has ended and closed their handles.
  RemoveWatchedFiles();
  std::_Exit(1);
}
