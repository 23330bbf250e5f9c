#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"

extern char** environ;

namespace {

// Writes input into the pipe and closes it. A child that stops reading early makes the
// write fail with EPIPE: SIGPIPE is blocked on this thread, and a signal pending on a
// thread goes with it when the thread ends.
void FeedPipe(int fd, const std::string& input) {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  for (size_t done = 0; done < input.size();) {
    const ssize_t n = write(fd, input.data() + done, input.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder, const ProcessStreams& streams) {
  ProcessResult r;
  const char* t = std::getenv("TMPDIR");
  const std::string folder = (t != nullptr && *t != 0) ? t : "/tmp";
  std::string outPath = folder + "/varel-run-XXXXXX";
  std::string errPath = folder + "/varel-run-XXXXXX";
  const int out = mkstemp(&outPath[0]);
  const int err = mkstemp(&errPath[0]);
  int input[2] = {-1, -1};
  int closedPipe[2] = {-1, -1};
  if (out < 0 || err < 0 || (streams.pipeInput && pipe2(input, O_CLOEXEC) != 0) ||
      (streams.output == ProcessStreams::Output::kClosedPipe &&
       pipe2(closedPipe, O_CLOEXEC) != 0)) {
    r.error = "cannot create temporary files in " + folder + ", or pipes";
    if (out >= 0) close(out), unlink(outPath.c_str());
    if (err >= 0) close(err), unlink(errPath.c_str());
    for (int fd : {input[0], input[1], closedPipe[0], closedPipe[1]}) {
      if (fd >= 0) close(fd);
    }
    return r;
  }
  // Closed before the child starts: its first write to stdout meets a pipe with no reader.
  if (closedPipe[0] >= 0) close(closedPipe[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (streams.pipeInput) {
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  switch (streams.output) {
    case ProcessStreams::Output::kCaptured:
      posix_spawn_file_actions_adddup2(&actions, out, 1);
      break;
    case ProcessStreams::Output::kClosedPipe:
      posix_spawn_file_actions_adddup2(&actions, closedPipe[1], 1);
      break;
    case ProcessStreams::Output::kFailing:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
  }
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  if (!workingFolder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out);
  close(err);
  if (closedPipe[1] >= 0) close(closedPipe[1]);
  std::thread feeder;
  if (streams.pipeInput) {
    close(input[0]);
    feeder = std::thread(FeedPipe, input[1], streams.input);
  }
  if (rc == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.started = true;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    r.error = "cannot run " + program;
  }
  if (feeder.joinable()) feeder.join();
  r.out = ReadCapturedOutput(outPath);
  r.err = ReadCapturedOutput(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return r;
}
