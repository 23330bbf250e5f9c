// varel extract and varel cat: entries out of an archive, into files or onto stdout.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/varel/commands.h"
#include "tools/varel/report.h"
#include "tools/varel_host/console.h"
#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/host_fs.h"
#include "tools/varel_host/progress.h"
#include "tools/varel_host/unicode_text.h"

namespace {

const char kExtractUsage[] =
    "usage: varel extract ARCHIVE [-o DIR] [PATTERN...] [--overwrite|--skip-existing]\n"
    "                     [--quiet] [--verbose] [--ignore-case|--case-sensitive]\n"
    "\n"
    "Writes the entries of ARCHIVE (those matching a PATTERN, when given: shell-style globs\n"
    "as in 'varel list') under DIR, by default a folder named after the archive. '/' and '\\'\n"
    "in names make folders. Names that would leave DIR (absolute, drive letters, '..') or\n"
    "hold control characters are made safe, and stderr says how. Entries that share a name\n"
    "are all kept, the later ones with a suffix (a~2.txt).\n"
    "\n"
    "  -o, --output DIR   the folder to write to (made when missing)\n"
    "  --overwrite        replace existing files (of entries sharing a name, the last wins)\n"
    "  --skip-existing    leave existing files alone (of entries sharing a name, the first)\n"
    "  -q, --quiet        no progress line and no summary (notes and errors stay)\n"
    "  -v, --verbose      print each file written\n";

const char kCatUsage[] =
    "usage: varel cat ARCHIVE NAME|#INDEX [--ignore-case|--case-sensitive]\n"
    "\n"
    "Writes one entry's contents to stdout: the first entry called NAME, or the entry at\n"
    "INDEX as 'varel list' numbers them (#0 is the first).\n"
    "\n";

enum class ExistingPolicy { kRefuse, kOverwrite, kSkip };

struct ExtractRequest {
  std::string archive;
  std::vector<std::string> patterns;
  std::string root;  // the output folder
  ExistingPolicy policy = ExistingPolicy::kRefuse;
  bool quiet = false;
  bool verbose = false;
  bool ignoreCase = false;
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
                  {"-q", "--quiet", false},
                  {"-v", "--verbose", false},
                  kIgnoreCaseOption,
                  kCaseSensitiveOption},
                 &parsed) ||
      !ParseIgnoreCase("extract", parsed, &request->ignoreCase)) {
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
  request->root = hasOutput ? parsed.values["--output"] : DefaultOutputFolder(request->archive);
  return true;
}

struct PlannedFile {
  size_t index;
  std::vector<std::string> components;  // relative to the output folder
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
    plan.push_back({i, safe.components});
  }
  return plan;
}

// Settles names that two entries share (for Windows, names equal but for case): by default
// the later ones get a numbered name; with --overwrite or --skip-existing the existing-file
// rule decides between them. A file may never take a path that another entry needs as a
// folder.
void SettleSharedNames(std::vector<PlannedFile>* plan, ExistingPolicy policy, NameRules rules) {
  std::set<std::string> folders;
  for (const PlannedFile& f : *plan) {
    std::string prefix;
    for (size_t c = 0; c + 1 < f.components.size(); ++c) {
      prefix += (c == 0 ? "" : "/") + f.components[c];
      folders.insert(FileKey(prefix, rules));
    }
  }
  std::map<std::string, size_t> files;  // key -> index of the entry that has it
  for (PlannedFile& f : *plan) {
    const std::vector<std::string> original = f.components;
    for (unsigned n = 2;; ++n) {
      const std::string key = FileKey(JoinedName(f.components), rules);
      const bool taken =
          folders.count(key) != 0 || (policy == ExistingPolicy::kRefuse && files.count(key) != 0);
      if (!taken) {
        if (files.count(key) != 0) {
          Report("extract", Format("entries %zu and %zu share the name ", files[key], f.index) +
                                Quoted(JoinedName(original)) + "; " +
                                (policy == ExistingPolicy::kOverwrite ? "the later one is kept"
                                                                      : "the first one is kept"));
        }
        files.emplace(key, f.index);
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
// standing in the tree is never followed: it could lead out of root.
bool MakeParents(const std::string& root, const PlannedFile& f, std::string* folder,
                 std::string* error) {
  *folder = root;
  for (size_t c = 0; c + 1 < f.components.size(); ++c) {
    *folder = JoinPath(*folder, f.components[c]);
    if (IsSymbolicLink(*folder)) {
      *error = *folder + ": is a symbolic link; not followed";
      return false;
    }
    if (!MakeFolder(*folder, error)) return false;
  }
  return true;
}

enum class Outcome { kWritten, kSkipped, kFailed, kStop };

// What stands at target decides: write, skip, or refuse (saying why).
Outcome CheckTarget(const std::string& target, size_t index, ExistingPolicy policy) {
  const PathKind existing = GetPathKind(target);
  if (existing == PathKind::kMissing && !IsSymbolicLink(target)) return Outcome::kWritten;
  if (existing == PathKind::kFolder || existing == PathKind::kOther) {
    Report("extract", target + Format(": exists and is not a file; entry %zu not written", index));
    return Outcome::kFailed;
  }
  if (policy == ExistingPolicy::kSkip) {
    Report("extract", target + ": exists; skipped");
    return Outcome::kSkipped;
  }
  if (policy == ExistingPolicy::kRefuse) {
    Report("extract", target + ": exists (use --overwrite or --skip-existing)");
    return Outcome::kFailed;
  }
  return Outcome::kWritten;
}

// Writes one planned file. kStop when the output cannot be written at all.
Outcome ExtractFile(CHostArchive* archive, const ExtractRequest& request, const PlannedFile& f,
                    std::string* target, uint64_t* size) {
  std::string folder;
  std::string error;
  if (!MakeParents(request.root, f, &folder, &error)) {
    Report("extract", error);
    return Outcome::kFailed;
  }
  *target = JoinPath(folder, f.components.back());
  const Outcome check = CheckTarget(*target, f.index, request.policy);
  if (check != Outcome::kWritten) return check;
  // A failure inside the sink is a write failure; any other is the entry's own.
  COutputFile out;
  bool writeFailed = false;
  const bool extracted = archive->Extract(
      f.index,
      [&](const uint8_t* data, size_t n, std::string* sinkError) {
        writeFailed = !out.Open(folder, f.components.back(), sinkError) ||
                      !out.Write(data, n, sinkError) ||
                      !out.Commit(request.policy == ExistingPolicy::kOverwrite, sinkError);
        *size = n;
        return !writeFailed;
      },
      &error);
  if (!extracted) Report("extract", error);
  return writeFailed ? Outcome::kStop : extracted ? Outcome::kWritten : Outcome::kFailed;
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
  const NameRules rules = HostNameRules();
  std::vector<PlannedFile> plan = SafePaths(archive, selected, rules);
  SettleSharedNames(&plan, request.policy, rules);
  std::string error;
  if (!MakeFolders(request.root, &error)) {
    Report("extract", error);
    return kExitFailed;
  }

  uint64_t bytesTotal = 0;
  for (const PlannedFile& f : plan) bytesTotal += archive.entries()[f.index].size;
  CProgress progress(IsTerminal(stderr) && !request.quiet, plan.size(), bytesTotal);
  uint64_t bytesDone = 0;
  size_t written = 0;
  size_t skipped = 0;
  uint64_t bytesWritten = 0;
  for (size_t k = 0; k < plan.size(); ++k) {
    progress.Update(k, bytesDone);
    bytesDone += archive.entries()[plan[k].index].size;
    std::string target;
    uint64_t size = 0;
    switch (ExtractFile(&archive, request, plan[k], &target, &size)) {
      case Outcome::kWritten:
        ++written;
        bytesWritten += size;
        if (request.verbose) Print(target + "\n");
        break;
      case Outcome::kSkipped: ++skipped; break;
      case Outcome::kFailed: status = kExitFailed; break;
      case Outcome::kStop:
        Report("extract", Format("stopped after %zu of %zu files", written, plan.size()));
        return kExitFailed;
    }
  }
  progress.Finish();
  if (!request.quiet) {
    Print(Format("extracted %zu of %zu %s (%s) to ", written, plan.size(),
                 plan.size() == 1 ? "entry" : "entries", FormatBytes(bytesWritten).c_str()) +
          request.root + (skipped != 0 ? Format(", %zu skipped", skipped) : std::string()) + "\n");
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
  if (wanted.size() > 1 && wanted.size() < 12 && wanted[0] == '#' &&
      wanted.find_first_not_of("0123456789", 1) == std::string::npos) {
    const unsigned long long index = std::stoull(wanted.substr(1));
    if (index < count) return static_cast<size_t>(index);
    Report("cat", path + Format(": no entry #%llu (it has %zu)", index, count));
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
  SetBinaryOutput(stdout);
  std::string error;
  const bool ok = archive.Extract(
      found,
      [](const uint8_t* data, size_t n, std::string* sinkError) {
        if ((n != 0 && std::fwrite(data, 1, n, stdout) != n) || std::fflush(stdout) != 0) {
          *sinkError = "cannot write to stdout";
          return false;
        }
        return true;
      },
      &error);
  if (!ok) {
    Report("cat", error);
    return kExitFailed;
  }
  return kExitOk;
}
