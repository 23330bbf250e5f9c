// varel's entry point on Windows: the arguments as UTF-16 (linked with -municode), so that
// no character is lost to the ANSI code page.
#include <cwchar>

#include "tools/util/unicode_text.h"
#include "tools/varel/commands.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i], std::wcslen(argv[i])));
  return Main(args);
}
