#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "tools/os/console.h"
#include "tools/util/unicode_text.h"

namespace {

HANDLE StandardHandle(FILE* stream) {
  return GetStdHandle(stream == stderr  ? STD_ERROR_HANDLE
                      : stream == stdin ? STD_INPUT_HANDLE
                                        : STD_OUTPUT_HANDLE);
}

// The console behind stream, or nullptr when it goes to a file, a pipe or nowhere.
HANDLE ConsoleOf(FILE* stream) {
  const HANDLE h = StandardHandle(stream);
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) ? h : nullptr;
}

// Console writes of at most this many UTF-16 units: older consoles fail larger ones.
constexpr size_t kConsoleChunk = 8192;

}  // namespace

bool WriteText(FILE* stream, const std::string& text) {
  if (text.empty()) return true;
  const HANDLE console = ConsoleOf(stream);
  if (console == nullptr) return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  std::fflush(stream);  // what stdio holds goes first
  const WideString w = WideFromUtf8(text);
  for (size_t done = 0; done < w.size();) {
    size_t n = std::min(w.size() - done, kConsoleChunk);
    // A chunk never ends between the two halves of a surrogate pair.
    if (done + n < w.size() && w[done + n - 1] >= 0xD800 && w[done + n - 1] <= 0xDBFF) --n;
    DWORD wrote = 0;
    if (!WriteConsoleW(console, w.data() + done, static_cast<DWORD>(n), &wrote, nullptr) ||
        wrote == 0)
      return false;
    done += wrote;
  }
  return true;
}

bool IsTerminal(FILE* stream) { return ConsoleOf(stream) != nullptr; }

void SetBinaryMode(FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

bool IsClosedPipe(int) { return GetFileType(StandardHandle(stdout)) == FILE_TYPE_PIPE; }
