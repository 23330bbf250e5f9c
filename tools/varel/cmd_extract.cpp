// varel extract: entries out of an archive, into files under a folder.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/engine/extract_plan.h"
#include "tools/engine/extract_to_disk.h"
#include "tools/engine/selection.h"
#include "tools/os/console.h"
#include "tools/os/files.h"
#include "tools/util/progress.h"
#include "tools/varel/commands.h"
#include "tools/varel/damage_report.h"
#include "tools/varel/options.h"
#include "tools/varel/report.h"

namespace {

const char kExtractIntro[] =
    "usage: varel extract ARCHIVE [-o DIR] [PATTERN...] [--overwrite|--skip-existing]\n"
    "                     [-j N] [-q] [-v] [--ignore-case|--case-sensitive]\n"
    "\n"
    "Writes the entries of ARCHIVE under DIR: by default a folder named after the archive,\n"
    "or the current folder when ARCHIVE is '-' (standard input). With PATTERNs, only the\n"
    "entries they select: shell-style globs as in 'varel list', a folder's name for all\n"
    "under it ('docs' or 'docs/'), or #INDEX as 'varel list -v' numbers the entries. When\n"
    "nothing is selected, nothing is made, DIR included. '/' and '\\' in names make\n"
    "folders. Names that would leave DIR (absolute, drive letters, '..') or hold control\n"
    "characters are made safe, and stderr says how. Entries that share a name are all kept,\n"
    "the later ones with a suffix (a~2.txt). Entries the archive's file cannot hold (it was\n"
    "cut short) are reported and not written, and the run exits with 1.\n"
    "\n";

const OptionTable kExtractOptions = {
    {"-o", "--output", true, "  -o, --output DIR   the folder to write to (made when missing)\n"},
    {nullptr, "--overwrite", false,
     "  --overwrite        replace existing files (of entries sharing a name, the last wins)\n"},
    {nullptr, "--skip-existing", false,
     "  --skip-existing    leave existing files alone (of entries sharing a name, the first)\n"},
    {"-j", "--jobs", true,
     "  -j, --jobs N       read, decode and write on N threads (default: one per core);\n"
     "                     files, names and messages are the same for every N\n"},
    {"-q", "--quiet", false,
     "  -q, --quiet        no progress line and no summary (notes and errors stay)\n"},
    {"-v", "--verbose", false, "  -v, --verbose      print each file written\n"},
    {"-h", "--help", false, "  -h, --help         this text\n"},
    kIgnoreCaseOption,
    kCaseSensitiveOption,
};

struct ExtractRequest {
  std::string archive;
  std::vector<std::string> patterns;
  ExtractSettings settings;
  bool quiet = false;
  bool verbose = false;
  bool ignoreCase = false;
};

std::string ExtractUsage() { return kExtractIntro + OptionHelp(kExtractOptions); }

// The engines' notes as varel's messages: on stderr, and each file written on stdout with
// -v; progress on the progress line.
class CExtractMessages : public CEngineObserver {
 public:
  explicit CExtractMessages(bool verbose) : verbose_(verbose) {}
  void Note(NoteKind kind, size_t, const std::string& text) override {
    if (kind != NoteKind::kWritten) {
      Report("extract", text);
    } else if (verbose_) {
      Print(text + "\n");
    }
  }
  void Progress(size_t entriesDone, uint64_t bytesDone) override {
    if (progress != nullptr) progress->Update(entriesDone, bytesDone);
  }
  CProgress* progress = nullptr;

 private:
  bool verbose_;
};

// The folder an archive extracts to by default: its file name without the extension, in
// the current folder; "NAME.out" when it has no extension (the name is the archive's own).
std::string DefaultOutputFolder(const std::string& archivePath) {
  std::string folder;
  std::string name;
  SplitPath(archivePath, &folder, &name);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + ".out";
  return name.substr(0, dot);
}

// Reads extract's arguments; false (after saying why) on a usage error.
bool ParseExtract(const std::vector<std::string>& args, ExtractRequest* request) {
  ParsedArgs parsed;
  if (!ParseArgs("extract", args, kExtractOptions, &parsed) ||
      !ParseIgnoreCase("extract", parsed, &request->ignoreCase) ||
      !ParseJobs("extract", parsed, &request->settings.jobs)) {
    return false;
  }
  if (parsed.positional.empty()) {
    Report("extract", "name an archive\n" + ExtractUsage());
    return false;
  }
  if (parsed.Has("--overwrite") && parsed.Has("--skip-existing")) {
    Report("extract", "--overwrite and --skip-existing exclude each other");
    return false;
  }
  const bool hasOutput = parsed.values.count("--output") != 0;
  if (hasOutput && parsed.values["--output"].empty()) {
    Report("extract", "the output folder name is empty");
    return false;
  }
  request->settings.policy = parsed.Has("--overwrite")       ? ExistingPolicy::kOverwrite
                             : parsed.Has("--skip-existing") ? ExistingPolicy::kSkip
                                                             : ExistingPolicy::kRefuse;
  request->quiet = parsed.Has("--quiet");
  request->verbose = parsed.Has("--verbose") && !request->quiet;
  request->archive = parsed.positional[0];
  request->patterns.assign(parsed.positional.begin() + 1, parsed.positional.end());
  // Standard input has no name to make a folder of: like tar, the current folder.
  request->settings.root = hasOutput                 ? parsed.values["--output"]
                           : request->archive == "-" ? std::string(".")
                                                     : DefaultOutputFolder(request->archive);
  return true;
}

// The last line of a run: what was written of all the entries selected.
void PrintSummary(const std::string& root, const ExtractTally& tally, size_t total,
                  size_t damaged) {
  if (total == 0) {
    Print("nothing to extract\n");
    return;
  }
  Print(Format("extracted %zu of %zu %s (%s) to ", tally.written, total,
               total == 1 ? "entry" : "entries", FormatBytes(tally.bytesWritten).c_str()) +
        root + (tally.skipped != 0 ? Format(", %zu skipped", tally.skipped) : std::string()) +
        (damaged != 0 ? Format(", %zu damaged", damaged) : std::string()) + "\n");
}

}  // namespace

int RunExtract(const Options& options, const std::vector<std::string>& args) {
  if (PrintedHelp(args, ExtractUsage())) return kExitOk;
  ExtractRequest request;
  if (!ParseExtract(args, &request)) return kExitUsage;
  CPluginModule module;
  CHostArchive archive;
  if (!OpenArchive("extract", options, request.archive, &module, &archive)) return kExitFailed;
  int status = kExitOk;
  std::vector<std::string> unmatched;
  const std::vector<size_t> selected =
      SelectEntries(archive, request.patterns, request.ignoreCase, &unmatched);
  for (const std::string& p : unmatched) {
    Report("extract", request.archive + ": no entry matches " + Quoted(p));
    status = kExitFailed;
  }
  const size_t damaged = ReportDamage("extract", archive, selected, "; not extracted");
  if (damaged != 0) status = kExitFailed;
  ReportCutNames("extract", &archive, selected);
  std::vector<EntryToPlan> toPlan;
  for (size_t i : WithoutDamaged(archive, selected, false))
    toPlan.push_back({i, archive.name(i).text});
  CExtractMessages messages(request.verbose);
  const std::vector<PlannedFile> plan =
      PlanExtraction(toPlan, request.settings.policy, HostNameRules(), &messages);
  // Nothing to write, nothing made: not even the output folder.
  std::string error;
  if (!plan.empty() && !MakeFolders(request.settings.root, &error)) {
    Report("extract", error);
    return kExitFailed;
  }
  uint64_t bytesTotal = 0;
  for (const PlannedFile& f : plan) bytesTotal += archive.entries()[f.index].size;
  CProgress progress(IsTerminal(stderr) && !request.quiet, plan.size(), bytesTotal);
  messages.progress = &progress;
  const ExtractTally tally = ExtractToDisk(archive, request.settings, plan, &messages);
  progress.Finish();
  if (tally.stopped) {
    Report("extract", Format("stopped after %zu of %zu files", tally.written, plan.size()));
    return kExitFailed;
  }
  if (tally.failed) status = kExitFailed;
  if (!request.quiet) PrintSummary(request.settings.root, tally, plan.size() + damaged, damaged);
  return status;
}
