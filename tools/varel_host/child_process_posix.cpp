#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "tools/varel_host/child_process.h"

extern char** environ;

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder) {
  ProcessResult r;
  const char* t = std::getenv("TMPDIR");
  const std::string folder = (t != nullptr && *t != 0) ? t : "/tmp";
  std::string outPath = folder + "/varel-run-XXXXXX";
  std::string errPath = folder + "/varel-run-XXXXXX";
  const int out = mkstemp(&outPath[0]);
  const int err = mkstemp(&errPath[0]);
  if (out < 0 || err < 0) {
    r.error = "cannot create temporary files in " + folder;
    if (out >= 0) close(out), unlink(outPath.c_str());
    if (err >= 0) close(err), unlink(errPath.c_str());
    return r;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
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
  if (rc == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.started = true;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    r.error = "cannot run " + program;
  }
  r.out = ReadCapturedOutput(outPath);
  r.err = ReadCapturedOutput(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return r;
}
