// Child processes on Windows: the wide command line and file calls, so arguments and
// folders keep every character.
#include <thread>

#include "platform/win32_api.h"
#include "tests/support/child_process.h"
#include "tools/util/unicode_text.h"

namespace {

// Writes input into the pipe and closes it; a child that stops reading ends the writing.
void FeedPipe(HANDLE pipe, const std::string& input) {
  for (size_t done = 0; done < input.size();) {
    DWORD wrote = 0;
    if (!WriteFile(pipe, input.data() + done, static_cast<DWORD>(input.size() - done), &wrote,
                   nullptr) ||
        wrote == 0) {
      break;
    }
    done += wrote;
  }
  CloseHandle(pipe);
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder, const ProcessStreams& streams) {
  ProcessResult r;
  WCHAR folder[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, folder);
  WCHAR outPath[MAX_PATH + 1];
  WCHAR errPath[MAX_PATH + 1];
  GetTempFileNameW(folder, L"vro", 0, outPath);
  GetTempFileNameW(folder, L"vre", 0, errPath);
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // Without write access, for output that must fail.
  const DWORD outAccess =
      streams.output == ProcessStreams::Output::kFailing ? GENERIC_READ : GENERIC_WRITE;
  HANDLE out = CreateFileW(outPath, outAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileW(errPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE feed = INVALID_HANDLE_VALUE;
  if (streams.pipeInput) {
    // The child inherits the reading end only.
    if (CreatePipe(&in, &feed, &inherit, 0)) {
      SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);
    } else {
      in = feed = INVALID_HANDLE_VALUE;
    }
  } else {
    in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  HANDLE closedPipe = INVALID_HANDLE_VALUE;
  if (streams.output == ProcessStreams::Output::kClosedPipe) {
    // The reading end is closed before the child starts: its first write meets no reader.
    HANDLE reader = INVALID_HANDLE_VALUE;
    if (CreatePipe(&reader, &closedPipe, &inherit, 0)) CloseHandle(reader);
  }
  std::string line = QuoteWindowsArgument(program);
  for (const std::string& a : args) line += " " + QuoteWindowsArgument(a);
  WideString wideLine = WideFromUtf8(line);
  const WideString wideFolder = WideFromUtf8(workingFolder);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = closedPipe != INVALID_HANDLE_VALUE ? closedPipe : out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  const BOOL created =
      CreateProcessW(WideFromUtf8(program).c_str(), &wideLine[0], nullptr, nullptr, TRUE, 0,
                     nullptr, workingFolder.empty() ? nullptr : wideFolder.c_str(), &si, &pi);
  const DWORD createError = GetLastError();
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (closedPipe != INVALID_HANDLE_VALUE) CloseHandle(closedPipe);
  std::thread feeder;
  if (feed != INVALID_HANDLE_VALUE) feeder = std::thread(FeedPipe, feed, streams.input);
  if (created) {
    r.started = true;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    r.exitCode = static_cast<int>(code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  } else {
    r.error = "cannot run " + program + " (error " + std::to_string(createError) + ")";
  }
  if (feeder.joinable()) feeder.join();
  CloseHandle(out);
  CloseHandle(err);
  r.out = ReadCapturedOutput(Utf8FromWide(outPath, wcslen(outPath)));
  r.err = ReadCapturedOutput(Utf8FromWide(errPath, wcslen(errPath)));
  DeleteFileW(outPath);
  DeleteFileW(errPath);
  return r;
}
