// Child processes on Windows: the wide command line and file calls, so arguments and
// folders keep every character.
#include "platform/win32_api.h"
#include "tools/varel_host/child_process.h"
#include "tools/varel_host/unicode_text.h"

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder) {
  ProcessResult r;
  WCHAR folder[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, folder);
  WCHAR outPath[MAX_PATH + 1];
  WCHAR errPath[MAX_PATH + 1];
  GetTempFileNameW(folder, L"vro", 0, outPath);
  GetTempFileNameW(folder, L"vre", 0, errPath);
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileW(outPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileW(errPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string line = QuoteWindowsArgument(program);
  for (const std::string& a : args) line += " " + QuoteWindowsArgument(a);
  WideString wideLine = WideFromUtf8(line);
  const WideString wideFolder = WideFromUtf8(workingFolder);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(WideFromUtf8(program).c_str(), &wideLine[0], nullptr, nullptr, TRUE, 0,
                     nullptr, workingFolder.empty() ? nullptr : wideFolder.c_str(), &si, &pi)) {
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
  r.out = ReadCapturedOutput(Utf8FromWide(outPath, wcslen(outPath)));
  r.err = ReadCapturedOutput(Utf8FromWide(errPath, wcslen(errPath)));
  DeleteFileW(outPath);
  DeleteFileW(errPath);
  return r;
}
