// What the end-to-end tests of varel share: the real varel binary beside the test program,
// run as a child process in a scratch folder, and file trees written and read back.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tools/os/files.h"
#include "tools/plugin_host/plugin_loader.h"
#include "tools/util/unicode_text.h"
#include "tools/writers/byte_writer.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

typedef std::map<std::string, Bytes> FileTree;  // '/'-separated relative path -> contents

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// varel as installed into build/PRESET/install (ctest's install fixture puts it there
// before these tests), so that the tests run what `cmake --install` delivers.
inline std::string VarelProgram() {
#if defined(_WIN32)
  return ExecutableDirectory() + "..\\install\\bin\\varel.exe";
#else
  return ExecutableDirectory() + "../install/bin/varel";
#endif
}

// Every file under root, by its path relative to root.
inline void ReadTree(const std::string& root, const std::string& prefix, FileTree* tree) {
  std::vector<std::string> names;
  std::string error;
  if (!ListFolder(root, &names, &error)) return;
  for (const std::string& name : names) {
    const std::string path = JoinPath(root, name);
    const std::string relative = prefix.empty() ? name : prefix + "/" + name;
    if (GetPathKind(path) == PathKind::kFolder) {
      ReadTree(path, relative, tree);
    } else {
      Bytes data;
      ReadWholeFile(path, &data, &error);
      (*tree)[relative] = data;
    }
  }
}

inline FileTree ReadTree(const std::string& root) {
  FileTree tree;
  ReadTree(root, "", &tree);
  return tree;
}

// Bytes that repeat enough to compress, or not at all, from a fixed seed.
inline Bytes MadeBytes(size_t n, uint32_t seed, bool compressible) {
  Bytes out(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = compressible ? static_cast<uint8_t>("varel archive test "[(x >> 16) % 19])
                          : static_cast<uint8_t>(x >> 24);
  }
  return out;
}

// A tree with what archives meet: text, binary, an empty file, a file of several 64 KiB
// blocks, nesting, and bytes a text-mode stream would mangle (CR LF, ^Z). Packed, its
// entries in name order are 0 empty.dat, 1 readme.txt, 2 sub/deep/text.txt,
// 3 sub/deep/zeros.bin, 4 sub/noise.bin.
inline FileTree SampleTree() {
  FileTree t;
  t["readme.txt"] = BytesOf("hello\r\nworld\x1a\n");
  t["empty.dat"] = Bytes();
  t["sub/noise.bin"] = MadeBytes(70000, 1, false);
  t["sub/deep/text.txt"] = MadeBytes(200000, 2, true);
  t["sub/deep/zeros.bin"] = Bytes(65536, 0);
  return t;
}

// A file of size zero bytes that takes no room on disk (a hole), quick to write and read.
inline bool MakeSparseFile(const std::string& path, uint64_t size, std::string* error) {
#if defined(_WIN32)
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  const bool ok =
      h != INVALID_HANDLE_VALUE && SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
#else
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const bool ok = fd >= 0 && ftruncate64(fd, static_cast<off64_t>(size)) == 0;
  if (fd >= 0) close(fd);
#endif
  if (!ok) *error = path + ": cannot make a file of " + std::to_string(size) + " bytes";
  return ok;
}

// A PKG container laid out field by field, every entry stored: its names are whatever the
// test wants, which the writer would refuse.
inline Bytes HandBuiltPkg(const std::vector<std::pair<std::string, Bytes>>& entries) {
  CByteWriter w;
  w.Le32(0);                                      // reserved
  w.Le32(static_cast<uint32_t>(entries.size()));  // entryCount
  uint32_t offset = static_cast<uint32_t>(8 + 80 * entries.size());
  for (const auto& e : entries) {
    std::string name = e.first.substr(0, 64);
    w.Text(name);
    w.Zeros(64 - name.size());                       // name, zero-padded
    w.Le32(static_cast<uint32_t>(e.second.size()));  // size
    w.Le32(static_cast<uint32_t>(e.second.size()));  // packedSize
    w.Le32(offset);                                  // offset
    w.Le32(0);                                       // compressed: stored
    offset += static_cast<uint32_t>(e.second.size());
  }
  for (const auto& e : entries) w.Raw(e.second.data(), e.second.size());
  return w.bytes();
}

// A scratch folder per test, and varel run in it.
class VarelRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(MakeFolder(work_.path(), &error)) << error;
  }
  void TearDown() override {
    if (temporaryFolderSet_) SetTemporaryFolder(savedTemporaryFolder_);
    RemoveTree(work_.path());
  }

  // Children started from now on keep their temporary files in the folder relative names
  // (made here): TMPDIR on Linux, TMP and TEMP on Windows. Restored after the test.
  void UseTemporaryFolder(const std::string& relative) {
    std::string error;
    ASSERT_TRUE(MakeFolders(At(relative), &error)) << error;
    if (!temporaryFolderSet_) savedTemporaryFolder_ = GetTemporaryFolderVariable();
    temporaryFolderSet_ = true;
    SetTemporaryFolder(At(relative));
  }

  std::string At(const std::string& relative) const {
    std::string path = work_.path();
    std::string part;
    for (char c : relative + "/") {
      if (c == '/') {
        if (!part.empty()) path = JoinPath(path, part);
        part.clear();
      } else {
        part += c;
      }
    }
    return path;
  }

  ProcessResult Varel(std::initializer_list<std::string> args) {
    return Varel(std::vector<std::string>(args));
  }
  ProcessResult Varel(const std::vector<std::string>& args,
                      const ProcessStreams& streams = ProcessStreams()) {
    ProcessResult r = RunProcess(VarelProgram(), args, work_.path(), streams);
    EXPECT_TRUE(r.started) << r.error;
    return r;
  }

  void WriteFile(const std::string& relative, const Bytes& data) {
    std::string folder;
    std::string name;
    SplitPath(At(relative), &folder, &name);
    std::string error;
    ASSERT_TRUE(MakeFolders(folder, &error)) << error;
    ASSERT_TRUE(WriteFileAtomically(At(relative), data.data(), data.size(), true, &error)) << error;
  }

  void WriteTree(const std::string& relative, const FileTree& tree) {
    for (const auto& f : tree) WriteFile(relative + "/" + f.first, f.second);
  }

  Bytes ReadFile(const std::string& relative) {
    Bytes data;
    std::string error;
    EXPECT_TRUE(ReadWholeFile(At(relative), &data, &error)) << error;
    return data;
  }

  CTempPath work_;

 private:
#if defined(_WIN32)
  static std::string GetTemporaryFolderVariable() {
    wchar_t value[MAX_PATH + 1];
    const DWORD n = GetEnvironmentVariableW(L"TMP", value, MAX_PATH + 1);
    return n == 0 || n > MAX_PATH ? std::string() : Utf8FromWide(value, n);
  }
  static void SetTemporaryFolder(const std::string& folder) {
    const WideString wide = WideFromUtf8(folder);
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
      SetEnvironmentVariableW(name, folder.empty() ? nullptr : wide.c_str());
    }
  }
#else
  static std::string GetTemporaryFolderVariable() {
    const char* value = std::getenv("TMPDIR");
    return value != nullptr ? value : "";
  }
  static void SetTemporaryFolder(const std::string& folder) {
    if (folder.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", folder.c_str(), 1);
    }
  }
#endif
  bool temporaryFolderSet_ = false;
  std::string savedTemporaryFolder_;
};

#if !defined(_WIN32)
// A varel child running in folder, with its stdin on input (inherited when -1) and its
// stdout on /dev/null, for tests that signal it: its pid, or -1.
inline pid_t SpawnVarel(const std::vector<std::string>& args, const std::string& folder,
                        int input = -1) {
  std::vector<std::string> all = {VarelProgram()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, all[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// How an interrupted varel child ended.
struct Interrupted {
  bool ready = false;   // what was waited for came before the signal was sent
  bool reaped = false;  // the child's end was collected
  int status = 0;       // its wait status
};

// Waits (at most `seconds`) until ready() holds, then sends signal to the child pid and
// collects its end.
inline Interrupted InterruptWhen(pid_t pid, int signal, const std::function<bool()>& ready,
                                 int seconds) {
  Interrupted result;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!(result.ready = ready()) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, signal);
  result.reaped = waitpid(pid, &result.status, 0) == pid;
  return result;
}
#endif

// varel's temporary files in folder, known by their prefix.
inline std::vector<std::string> VarelTemporaries(const std::string& folder) {
  std::vector<std::string> names;
  std::vector<std::string> temporaries;
  std::string error;
  ListFolder(folder, &names, &error);
  for (const std::string& n : names) {
    if (n.compare(0, 7, ".varel-") == 0) temporaries.push_back(n);
  }
  return temporaries;
}

// Text varel wrote to a file or a pipe: on Windows in text mode, each line ending in CR LF,
// read here as LF.
inline std::string TextOf(const std::string& out) {
#if defined(_WIN32)
  std::string text;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '\r' || i + 1 >= out.size() || out[i + 1] != '\n') text += out[i];
  }
  return text;
#else
  return out;
#endif
}

// What a test wants to see of a run.
inline std::string Describe(const ProcessResult& r) {
  return "exit " + std::to_string(r.exitCode) + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}
