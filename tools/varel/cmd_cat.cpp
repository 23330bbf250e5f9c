// varel cat: one entry's bytes on stdout.
#include <string>
#include <vector>

#include "tools/engine/selection.h"
#include "tools/util/unicode_text.h"
#include "tools/varel/commands.h"
#include "tools/varel/options.h"
#include "tools/varel/report.h"

namespace {

const char kCatIntro[] =
    "usage: varel cat ARCHIVE NAME|#INDEX [--ignore-case|--case-sensitive]\n"
    "\n"
    "Writes one entry's contents to stdout: the first entry called NAME, or the entry at\n"
    "INDEX as 'varel list -v' numbers them (#0 is the first). ARCHIVE '-' is standard\n"
    "input.\n"
    "\n";

const OptionTable kCatOptions = {
    {"-h", "--help", false, "  -h, --help         this text\n"},
    kIgnoreCaseOption,
    kCaseSensitiveOption,
};

std::string CatUsage() { return kCatIntro + OptionHelp(kCatOptions); }

// The entry cat writes: the first whose name is wanted (ignoring case when asked), else the
// entry "#INDEX" names. entries().size() when there is none, after saying why.
size_t FindEntry(const CHostArchive& archive, const std::string& path, const std::string& wanted,
                 bool ignoreCase) {
  const size_t count = archive.entries().size();
  const std::string key = ignoreCase ? CaseKey(wanted) : wanted;
  size_t found = count;
  size_t sameName = 0;
  for (size_t i = 0; i < count; ++i) {
    const std::string& name = archive.name(i).text;
    if ((ignoreCase ? CaseKey(name) : name) == key) {
      if (found == count) found = i;
      ++sameName;
    }
  }
  if (sameName > 1) {
    Report("cat", path + Format(": %zu entries are named ", sameName) + Quoted(wanted) +
                      Format("; writing #%zu", found));
  }
  if (found != count) return found;
  // "#12" is an index unless an entry has that very name.
  size_t index = 0;
  if (ParseEntryIndex(wanted, &index)) {
    if (index < count) return index;
    Report("cat", path + Format(": no entry #%zu (it has %zu)", index, count));
    return count;
  }
  Report("cat", path + ": no entry named " + Quoted(wanted));
  return count;
}

}  // namespace

int RunCat(const Options& options, const std::vector<std::string>& args) {
  if (PrintedHelp(args, CatUsage())) return kExitOk;
  ParsedArgs parsed;
  bool ignoreCase = false;
  if (!ParseArgs("cat", args, kCatOptions, &parsed) ||
      !ParseIgnoreCase("cat", parsed, &ignoreCase)) {
    return kExitUsage;
  }
  if (parsed.positional.size() != 2) {
    Report("cat", "name an archive and one entry\n" + CatUsage());
    return kExitUsage;
  }
  const std::string& path = parsed.positional[0];
  CPluginModule module;
  CHostArchive archive;
  if (!OpenArchive("cat", options, path, &module, &archive)) return kExitFailed;
  const size_t found = FindEntry(archive, path, parsed.positional[1], ignoreCase);
  if (found == archive.entries().size()) return kExitFailed;
  // A failed write is reported when the command ends (FinishOutput), a closed pipe ends
  // the run quietly (PrintBytes).
  std::string error;
  bool outputFailed = false;
  const bool ok = archive.Extract(
      found,
      [&outputFailed](const uint8_t* data, size_t n, std::string*) {
        outputFailed = !PrintBytes(data, n);
        return !outputFailed;
      },
      &error);
  if (!ok && !outputFailed) Report("cat", error);
  return ok ? kExitOk : kExitFailed;
}
