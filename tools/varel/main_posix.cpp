// varel's entry point on Linux.
#include <csignal>

#include "tools/varel/commands.h"

int main(int argc, char** argv) {
  // A write past a file-size limit or into a closed pipe then fails with an error that
  // varel sees: it reports the first, and ends the second by SIGPIPE itself once its
  // temporary files are gone (EndOnClosedPipe).
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  return Main(std::vector<std::string>(argv + 1, argv + argc));
}
