#include "tools/varel/report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/os/console.h"
#include "tools/os/interrupt_cleanup.h"
#include "tools/plugin_host/entry_names.h"
#include "tools/util/progress.h"

namespace {

// The first failed write to stdout, and the errno it left.
bool g_outputFailed = false;
int g_outputError = 0;

void NoteOutputFailure(int error) {
  if (IsClosedPipe(error)) EndOnClosedPipe();
  if (g_outputFailed) return;
  g_outputFailed = true;
  g_outputError = error;
}

}  // namespace

void Report(const std::string& command, const std::string& message) {
  CProgress::ClearShownLine();
  WriteText(stderr, (command.empty() ? "varel: " : "varel " + command + ": ") + message + "\n");
}

bool Print(const std::string& text) {
  CProgress::ClearShownLine();
  errno = 0;
  if (WriteText(stdout, text)) return true;
  NoteOutputFailure(errno);
  return false;
}

bool PrintBytes(const uint8_t* data, size_t n) {
  static const bool binary = (SetBinaryMode(stdout), true);
  (void)binary;
  errno = 0;
  if ((n == 0 || std::fwrite(data, 1, n, stdout) == n) && std::fflush(stdout) == 0) return true;
  NoteOutputFailure(errno);
  return false;
}

bool FinishOutput(const std::string& command) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) NoteOutputFailure(errno);
  if (!g_outputFailed) return true;
  std::string why;
  if (g_outputError != 0) {
    why = g_outputError == ENOSPC ? "the disk is full" : std::strerror(g_outputError);
    if (!why.empty() && why[0] >= 'A' && why[0] <= 'Z') why[0] = static_cast<char>(why[0] + 32);
  }
  Report(command, "cannot write to stdout" + (why.empty() ? std::string() : ": " + why));
  return false;
}
