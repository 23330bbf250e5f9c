// varel's entry point on Linux.
#include <malloc.h>

#include <csignal>

#include "tools/varel/commands.h"

int main(int argc, char** argv) {
  // A write past a file-size limit or into a closed pipe then fails with an error that
  // varel sees: it reports the first, and ends the second by SIGPIPE itself once its
  // temporary files are gone (EndOnClosedPipe).
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  // Memory freed is kept for the next entry rather than given back to the system: one
  // heap for every thread, blocks below 32 MiB from it, and no trimming below 256 MiB held.
  // Extraction otherwise maps every large entry's blocks afresh and pays a page fault per
  // 4 KiB of them, a third of its time.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  return Main(std::vector<std::string>(argv + 1, argv + argc));
}
