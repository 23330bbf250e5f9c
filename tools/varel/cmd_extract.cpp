// varel extract and varel cat: entries out of an archive, into files or onto stdout.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/os/console.h"
#include "tools/os/files.h"
#include "tools/plugin_host/entry_names.h"
#include "tools/util/ordered_pool.h"
#include "tools/util/progress.h"
#include "tools/util/unicode_text.h"
#include "tools/varel/commands.h"
#include "tools/varel/damage_report.h"
#include "tools/varel/report.h"

namespace {

const char kExtractUsage[] =
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
    "\n"
    "  -o, --output DIR   the folder to write to (made when missing)\n"
    "  --overwrite        replace existing files (of entries sharing a name, the last wins)\n"
    "  --skip-existing    leave existing files alone (of entries sharing a name, the first)\n"
    "  -j, --jobs N       read, decode and write on N threads (default: one per core);\n"
    "                     files, names and messages are the same for every N\n"
    "  -q, --quiet        no progress line and no summary (notes and errors stay)\n"
    "  -v, --verbose      print each file written\n"
    "  -h, --help         this text\n";

const char kCatUsage[] =
    "usage: varel cat ARCHIVE NAME|#INDEX [--ignore-case|--case-sensitive]\n"
    "\n"
    "Writes one entry's contents to stdout: the first entry called NAME, or the entry at\n"
    "INDEX as 'varel list -v' numbers them (#0 is the first). ARCHIVE '-' is standard\n"
    "input.\n"
    "\n"
    "  -h, --help         this text\n";

enum class ExistingPolicy { kRefuse, kOverwrite, kSkip };

struct ExtractRequest {
  std::string archive;
  std::vector<std::string> patterns;
  std::string root;  // the output folder
  ExistingPolicy policy = ExistingPolicy::kRefuse;
  bool quiet = false;
  bool verbose = false;
  bool ignoreCase = false;
  unsigned jobs = 1;
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
  if (!ParseArgs("extract", args,
                 {{"-o", "--output", true},
                  {nullptr, "--overwrite", false},
                  {nullptr, "--skip-existing", false},
                  kJobsOption,
                  {"-q", "--quiet", false},
                  {"-v", "--verbose", false},
                  kIgnoreCaseOption,
                  kCaseSensitiveOption},
                 &parsed) ||
      !ParseIgnoreCase("extract", parsed, &request->ignoreCase) ||
      !ParseJobs("extract", parsed, &request->jobs)) {
    return false;
  }
  if (parsed.positional.empty()) {
    Report("extract", std::string("name an archive\n") + kExtractUsage);
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
  request->policy = parsed.Has("--overwrite")       ? ExistingPolicy::kOverwrite
                    : parsed.Has("--skip-existing") ? ExistingPolicy::kSkip
                                                    : ExistingPolicy::kRefuse;
  request->quiet = parsed.Has("--quiet");
  request->verbose = parsed.Has("--verbose") && !request->quiet;
  request->archive = parsed.positional[0];
  request->patterns.assign(parsed.positional.begin() + 1, parsed.positional.end());
  // Standard input has no name to make a folder of: like tar, the current folder.
  request->root = hasOutput                 ? parsed.values["--output"]
                  : request->archive == "-" ? std::string(".")
                                            : DefaultOutputFolder(request->archive);
  return true;
}

struct PlannedFile {
  size_t index;
  std::vector<std::string> components;  // relative to the output folder
  // No other planned file has this one's target (SettleSharedNames): what is found there
  // before the file is written stands when its turn comes.
  bool ownTarget = true;
};

std::string JoinedName(const std::vector<std::string>& components) {
  return SafeName{components, {}}.Joined('/');
}

// Gives every selected entry a safe path, saying what was changed and why.
std::vector<PlannedFile> SafePaths(const CHostArchive& archive, const std::vector<size_t>& selected,
                                   NameRules rules) {
  std::vector<PlannedFile> plan;
  for (size_t i : selected) {
    const std::string& name = archive.name(i).text;
    SafeName safe = MakeSafeName(name, i, rules);
    if (!safe.changes.empty()) {
      std::string why;
      for (const std::string& c : safe.changes) why += (why.empty() ? "" : ", ") + c;
      Report("extract", Format("entry %zu ", i) + Quoted(name) + " written as " +
                            Quoted(safe.Joined('/')) + " (" + why + ")");
    }
    plan.push_back({i, safe.components, true});
  }
  return plan;
}

// Settles names that two entries share (for Windows, names equal but for case): by default
// the later ones get a numbered name; with --overwrite or --skip-existing the existing-file
// rule decides between them, and the files that share a target are marked so. A file may
// never take a path that another entry needs as a folder.
void SettleSharedNames(std::vector<PlannedFile>* plan, ExistingPolicy policy, NameRules rules) {
  std::set<std::string> folders;
  for (const PlannedFile& f : *plan) {
    std::string prefix;
    for (size_t c = 0; c + 1 < f.components.size(); ++c) {
      prefix += (c == 0 ? "" : "/") + f.components[c];
      folders.insert(FileKey(prefix, rules));
    }
  }
  std::map<std::string, size_t> files;  // key -> the position in plan of the first that has it
  for (size_t k = 0; k < plan->size(); ++k) {
    PlannedFile& f = (*plan)[k];
    const std::vector<std::string> original = f.components;
    for (unsigned n = 2;; ++n) {
      const std::string key = FileKey(JoinedName(f.components), rules);
      const bool taken =
          folders.count(key) != 0 || (policy == ExistingPolicy::kRefuse && files.count(key) != 0);
      if (!taken) {
        if (files.count(key) != 0) {
          PlannedFile& first = (*plan)[files[key]];
          Report("extract", Format("entries %zu and %zu share the name ", first.index, f.index) +
                                Quoted(JoinedName(original)) + "; " +
                                (policy == ExistingPolicy::kOverwrite ? "the later one is kept"
                                                                      : "the first one is kept"));
          first.ownTarget = false;
          f.ownTarget = false;
        }
        files.emplace(key, k);
        break;
      }
      f.components.back() = NumberedName(original.back(), n);
    }
    if (f.components != original) {
      Report("extract", Format("entry %zu ", f.index) + Quoted(JoinedName(original)) +
                            " shares its name; written as " + Quoted(JoinedName(f.components)));
    }
  }
}

// Makes the folders above a planned file inside root. On Linux a symbolic link already
// standing in the tree is never followed: it could lead out of root. made holds the folders
// this run has made or found standing, which are not looked at again.
bool MakeParents(const std::string& root, const PlannedFile& f, std::set<std::string>* made,
                 std::string* folder, std::string* error) {
  *folder = root;
  for (size_t c = 0; c + 1 < f.components.size(); ++c) {
    *folder = JoinPath(*folder, f.components[c]);
    if (made->count(*folder) != 0) continue;
    if (IsSymbolicLink(*folder)) {
      *error = *folder + ": is a symbolic link; not followed";
      return false;
    }
    if (!MakeFolder(*folder, error)) return false;
    made->insert(*folder);
  }
  return true;
}

enum class Outcome { kWritten, kSkipped, kFailed, kStop };

// What what stands at target means: write, skip, or refuse.
Outcome TargetOutcome(const std::string& target, ExistingPolicy policy) {
  const PathKind existing = GetPathKind(target);
  if (existing == PathKind::kMissing && !IsSymbolicLink(target)) return Outcome::kWritten;
  if (existing == PathKind::kFolder || existing == PathKind::kOther) return Outcome::kFailed;
  if (policy == ExistingPolicy::kSkip) return Outcome::kSkipped;
  if (policy == ExistingPolicy::kRefuse) return Outcome::kFailed;
  return Outcome::kWritten;
}

// The same, saying why a file is not written.
Outcome CheckTarget(const std::string& target, size_t index, ExistingPolicy policy) {
  const Outcome outcome = TargetOutcome(target, policy);
  if (outcome == Outcome::kWritten) return outcome;
  const PathKind existing = GetPathKind(target);
  if (existing == PathKind::kFolder || existing == PathKind::kOther) {
    Report("extract", target + Format(": exists and is not a file; entry %zu not written", index));
  } else if (outcome == Outcome::kSkipped) {
    Report("extract", target + ": exists; skipped");
  } else {
    Report("extract", target + ": exists (use --overwrite or --skip-existing)");
  }
  return outcome;
}

// One planned file's contents written under a temporary name in its folder, to be moved
// into place (or dropped) later, in plan order. Staging runs on any thread: it touches only
// its own piece and file.
struct StagedFile {
  std::string folder;  // made before the file is staged
  COutputFile out;
  uint64_t size = 0;
  bool extracted = false;    // the piece delivered its contents
  bool writeFailed = false;  // the temporary file could not be written
  std::string error;         // why not, when either is false

  void Stage(CEntryPiece* piece, const std::string& name) {
    // A failure inside the sink is a write failure; any other is the entry's own.
    extracted = piece->Deliver(
        [&](const uint8_t* data, size_t n, std::string* sinkError) {
          writeFailed = !out.Open(folder, name, sinkError) || !out.Write(data, n, sinkError) ||
                        !out.FinishWriting(sinkError);
          size = n;
          return !writeFailed;
        },
        &error);
  }
};

// What the tasks of one extraction share.
struct ExtractShared {
  const CHostArchive* archive;
  ExistingPolicy policy;
};

// One planned file on its way out. Made on the main thread in plan order, its folders made
// first (staging); Run, on a pool thread, looks at its target and, when the file is to be
// written, reads the entry's stored bytes, decodes them through the plug-in and stages the
// contents; ExtractFile, on the main thread in plan order, writes it.
class CExtractTask : public CPoolTask {
 public:
  CExtractTask(const ExtractShared& shared, const PlannedFile& file, size_t position)
      : position(position), shared_(shared), file_(file) {}

  void Run() override {
    if (!staging) return;
    found = TargetOutcome(JoinPath(staged.folder, file_.components.back()), shared_.policy);
    // A target that is taken now is most likely not written: the entry is left unread,
    // and read when its turn writes it after all.
    if (found != Outcome::kWritten) return;
    shared_.archive->Read(file_.index, &piece);
    piece.Decode();
    staged.Stage(&piece, file_.components.back());
  }
  bool wasStaged() const { return staging && found == Outcome::kWritten; }

  const size_t position;  // in the plan
  bool staging = false;   // its folders made: Run is to look at it
  Outcome found = Outcome::kWritten;
  CEntryPiece piece;
  StagedFile staged;

 private:
  // A copy: a task still running when a stopped extraction ends outlives ExtractPlan's
  // locals until the pool's threads are joined.
  const ExtractShared shared_;
  const PlannedFile& file_;
};

// Writes one planned file in its turn: moves its staged contents into place, or, when it
// was not staged, reads, decodes and writes it here. kStop when the output cannot be
// written at all.
Outcome ExtractFile(CHostArchive* archive, const ExtractRequest& request, const PlannedFile& f,
                    std::set<std::string>* made, CExtractTask* task, std::string* target,
                    uint64_t* size) {
  StagedFile* staged = &task->staged;
  const bool wasStaged = task->wasStaged();
  std::string error;
  if (!task->staging && !MakeParents(request.root, f, made, &staged->folder, &error)) {
    Report("extract", error);
    return Outcome::kFailed;
  }
  *target = JoinPath(staged->folder, f.components.back());
  // A target other planned files share is looked at again now that those before it are
  // written; what Run found at a target of the file's own stands (a file another program
  // makes there meanwhile is refused by the move, or replaced with --overwrite). A staged
  // file that is not written goes with `staged`.
  if (!wasStaged || !f.ownTarget) {
    const Outcome check = CheckTarget(*target, f.index, request.policy);
    if (check != Outcome::kWritten) return check;
  }
  if (!wasStaged) {
    if (!task->piece.read()) {
      archive->Read(f.index, &task->piece);
      task->piece.Decode();
    }
    staged->Stage(&task->piece, f.components.back());
  }
  *size = staged->size;
  if (staged->extracted && !staged->writeFailed &&
      !staged->out.Commit(request.policy == ExistingPolicy::kOverwrite, &staged->error)) {
    staged->writeFailed = true;
  }
  if (!staged->extracted || staged->writeFailed) Report("extract", staged->error);
  return staged->writeFailed ? Outcome::kStop
         : staged->extracted ? Outcome::kWritten
                             : Outcome::kFailed;
}

// Extraction on several threads. The main thread makes each entry's folders in plan order;
// a pool thread looks at its target, reads its stored bytes, decodes them through the
// plug-in and writes the contents under a temporary name in its folder; the main thread
// then, again in plan order, moves the file into place and says everything there is to
// say, so that files, names and messages are the same for every number of jobs.
//
// An entry holds memory only while its task runs: then its temporary file holds its
// contents. The window of entries handed out and not yet moved into place is wide
// (kExtractWindowPerJob per job), so that a thread that is done with small entries finds
// more while the oldest, a large one, is still being decoded; the largest waiting entries
// are started first, so that one does not finish alone at the end. Entries being decoded
// hold at most kExtractBytesPerJob per job of stored and plain bytes, kExtractBudget in all,
// except that an entry larger than that runs alone: memory stays within max(the budget, the
// largest entry's packed + plain bytes), the latter being what extracting that entry on one
// thread needs anyway.
constexpr size_t kExtractWindowPerJob = 32;
constexpr uint64_t kExtractBytesPerJob = uint64_t{32} << 20;
constexpr uint64_t kExtractBudget = uint64_t{256} << 20;

struct ExtractTally {
  size_t written = 0;
  size_t skipped = 0;
  uint64_t bytesWritten = 0;
  bool failed = false;
  bool stopped = false;  // the output could not be written at all
};

ExtractTally ExtractPlan(CHostArchive* archive, const ExtractRequest& request,
                         const std::vector<PlannedFile>& plan) {
  uint64_t bytesTotal = 0;
  for (const PlannedFile& f : plan) bytesTotal += archive->entries()[f.index].size;
  CProgress progress(IsTerminal(stderr) && !request.quiet, plan.size(), bytesTotal);
  uint64_t bytesDone = 0;
  ExtractTally tally;
  std::set<std::string> made;  // folders, made on this thread only
  const auto consume = [&](CPoolTask& done) {
    CExtractTask& task = static_cast<CExtractTask&>(done);
    const PlannedFile& f = plan[task.position];
    progress.Update(task.position, bytesDone);
    bytesDone += archive->entries()[f.index].size;
    if (task.failed) {
      Report("extract", archive->path() + Format(": entry %zu: not enough memory", f.index));
      tally.failed = true;
      return true;
    }
    std::string target;
    uint64_t size = 0;
    switch (ExtractFile(archive, request, f, &made, &task, &target, &size)) {
      case Outcome::kWritten:
        ++tally.written;
        tally.bytesWritten += size;
        if (request.verbose) Print(target + "\n");
        break;
      case Outcome::kSkipped: ++tally.skipped; break;
      case Outcome::kFailed: tally.failed = true; break;
      case Outcome::kStop: tally.stopped = true; return false;
    }
    return true;
  };
  const uint64_t budget =
      std::min<uint64_t>(kExtractBudget, kExtractBytesPerJob * std::max(request.jobs, 1u));
  const size_t window = kExtractWindowPerJob * std::max(request.jobs, 1u);
  COrderedPool pipeline(request.jobs, window, consume, budget, CostHeld::kWhileRunning);
  const ExtractShared shared = {archive, request.policy};
  for (size_t k = 0; k < plan.size(); ++k) {
    const PlannedFile& f = plan[k];
    std::unique_ptr<CExtractTask> task(new CExtractTask(shared, f, k));
    uint64_t cost = 0;
    // An entry whose folders cannot be made is left to its turn, which reports it.
    std::string ignored;
    if (MakeParents(request.root, f, &made, &task->staged.folder, &ignored)) {
      cost = CEntryPiece::Cost(archive->entries()[f.index]);
      task->staging = true;
    }
    if (!pipeline.Push(std::move(task), cost)) break;
  }
  pipeline.Finish();
  progress.Finish();
  return tally;
}

}  // namespace

int RunExtract(const Options& options, const std::vector<std::string>& args) {
  if (PrintedHelp(args, std::string(kExtractUsage) + kCaseUsage)) return kExitOk;
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
  const NameRules rules = HostNameRules();
  std::vector<PlannedFile> plan =
      SafePaths(archive, WithoutDamaged(archive, selected, false), rules);
  SettleSharedNames(&plan, request.policy, rules);
  // Nothing to write, nothing made: not even the output folder.
  std::string error;
  if (!plan.empty() && !MakeFolders(request.root, &error)) {
    Report("extract", error);
    return kExitFailed;
  }
  const ExtractTally tally = ExtractPlan(&archive, request, plan);
  if (tally.stopped) {
    Report("extract", Format("stopped after %zu of %zu files", tally.written, plan.size()));
    return kExitFailed;
  }
  if (tally.failed) status = kExitFailed;
  const size_t total = plan.size() + damaged;
  if (!request.quiet && total == 0) {
    Print("nothing to extract\n");
  } else if (!request.quiet) {
    Print(Format("extracted %zu of %zu %s (%s) to ", tally.written, total,
                 total == 1 ? "entry" : "entries", FormatBytes(tally.bytesWritten).c_str()) +
          request.root +
          (tally.skipped != 0 ? Format(", %zu skipped", tally.skipped) : std::string()) +
          (damaged != 0 ? Format(", %zu damaged", damaged) : std::string()) + "\n");
  }
  return status;
}

namespace {

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
  if (PrintedHelp(args, std::string(kCatUsage) + kCaseUsage)) return kExitOk;
  ParsedArgs parsed;
  bool ignoreCase = false;
  if (!ParseArgs("cat", args, {kIgnoreCaseOption, kCaseSensitiveOption}, &parsed) ||
      !ParseIgnoreCase("cat", parsed, &ignoreCase)) {
    return kExitUsage;
  }
  if (parsed.positional.size() != 2) {
    Report("cat", std::string("name an archive and one entry\n") + kCatUsage);
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
