#include "tools/varel_host/child_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include "platform/win32_api.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

std::string ReadAll(const std::string& path) {
  std::string text;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
  std::fclose(f);
  return text;
}

}  // namespace

std::string QuoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

#if defined(_WIN32)

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder) {
  ProcessResult r;
  char folder[MAX_PATH + 1];
  GetTempPathA(sizeof(folder), folder);
  char outPath[MAX_PATH + 1];
  char errPath[MAX_PATH + 1];
  GetTempFileNameA(folder, "vro", 0, outPath);
  GetTempFileNameA(folder, "vre", 0, errPath);
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileA(outPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileA(errPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string line = QuoteWindowsArgument(program);
  for (const std::string& a : args) line += " " + QuoteWindowsArgument(a);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                     workingFolder.empty() ? nullptr : workingFolder.c_str(), &si, &pi)) {
    r.started = true;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    r.exitCode = static_cast<int>(code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  } else {
    r.error = "cannot run " + program + " (error " + std::to_string(GetLastError()) + ")";
  }
  CloseHandle(out);
  CloseHandle(err);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  r.out = ReadAll(outPath);
  r.err = ReadAll(errPath);
  DeleteFileA(outPath);
  DeleteFileA(errPath);
  return r;
}

#else

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
  r.out = ReadAll(outPath);
  r.err = ReadAll(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return r;
}

#endif
