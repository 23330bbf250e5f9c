// The Windows file-system layer's path form: when a path takes the \\?\ form and what that
// form must hold, since the system then takes the path literally. (Wine does not enforce the
// 260-unit limit, so only these cases, not a long round trip, show the form is right.)
#include <gtest/gtest.h>

#include <string>

#include "tools/os/files_win32.h"

namespace {

// A relative path of n UTF-16 units in folders of ten, separated by sep.
std::string Tail(size_t n, char sep) {
  std::string tail;
  while (tail.size() + 10 <= n) tail += std::string("folder-00") + sep;
  return tail + std::string(n - tail.size(), 'x');
}

TEST(WidePath, LongPathsTakeTheLiteralAbsoluteForm) {
  WCHAR cwd[MAX_PATH];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  WideString here(cwd, n);
  if (here.back() != L'\\') here += L'\\';
  const std::string tail = Tail(300, '/');
  const WideString wideTail = WideFromUtf8(Tail(300, '\\'));
  const std::string kana = "\xE3\x81\x82";  // three bytes, one UTF-16 unit
  std::string japanese;
  for (size_t i = 4; i < kLongPath; ++i) japanese += kana;
  struct Case {
    std::string path;
    WideString expected;
  };
  const Case cases[] = {
      // Below the threshold (counted in UTF-16 units, not bytes) a path stays as it is.
      {"a/./b.txt", L"a/./b.txt"},
      {"C:\\" + Tail(kLongPath - 4, '\\'), WideFromUtf8("C:\\" + Tail(kLongPath - 4, '\\'))},
      {"C:\\" + japanese, WideFromUtf8("C:\\" + japanese)},
      // From it on: absolute, '\' only, no "." or "..".
      {"C:\\" + Tail(kLongPath - 3, '\\'),
       L"\\\\?\\C:\\" + WideFromUtf8(Tail(kLongPath - 3, '\\'))},
      {tail, L"\\\\?\\" + here + wideTail},
      {"C:/x/./y/../" + tail, L"\\\\?\\C:\\x\\" + wideTail},
      {"\\\\server\\share\\" + tail, L"\\\\?\\UNC\\server\\share\\" + wideTail},
      // A path in the literal form already is the caller's to get right.
      {"\\\\?\\C:\\x\\.\\" + tail, WideFromUtf8("\\\\?\\C:\\x\\.\\" + tail)},
      {"\\\\.\\pipe\\" + tail, WideFromUtf8("\\\\.\\pipe\\" + tail)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WidePath(c.path), c.expected) << c.path;
  }
}

}  // namespace
