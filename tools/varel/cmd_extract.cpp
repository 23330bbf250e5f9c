// varel extract and varel cat: entries out of an archive, into files or onto stdout.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/host_fs.h"
#include "tools/varel_host/progress.h"
#include "tools/varel/commands.h"

namespace {

const char kExtractUsage[] =
    "usage: varel extract ARCHIVE [-o DIR] [PATTERN...] [--overwrite|--skip-existing]\n"
    "                     [--quiet] [--verbose]\n"
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
    "usage: varel cat ARCHIVE NAME|#INDEX\n"
    "\n"
    "Writes one entry's contents to stdout: the first entry called NAME, or the entry at\n"
    "INDEX as 'varel list' numbers them (#0 is the first).\n";

enum class ExistingPolicy { kRefuse, kOverwrite, kSkip };

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

#if defined(_WIN32)
// Windows file names ignore ASCII case, so "A.txt" and "a.txt" are one file.
std::string FileKey(const std::string& path) {
  std::string key = path;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}
#else
std::string FileKey(const std::string& path) { return path; }
#endif

struct PlannedFile {
  size_t index;
  std::vector<std::string> components;  // relative to the output folder
};

std::string Quoted(const std::string& name) { return "'" + PrintableName(name) + "'"; }

// Gives every selected entry a safe path and settles names that two entries share: by
// default the later ones get a numbered name; with --overwrite or --skip-existing the
// existing-file rule decides between them. A file may never take a path that another
// entry needs as a folder.
std::vector<PlannedFile> PlanFiles(const CHostArchive& archive, const std::vector<size_t>& selected,
                                   ExistingPolicy policy) {
  const CLeadBytes lead = CLeadBytes::System();
  const NameRules rules = HostNameRules();
  std::vector<PlannedFile> plan;
  std::set<std::string> folders;
  for (size_t i : selected) {
    const std::string name = EntryName(archive.entries()[i]);
    SafeName safe = MakeSafeName(name, i, lead, rules);
    if (!safe.changes.empty()) {
      std::string why;
      for (const std::string& c : safe.changes) why += (why.empty() ? "" : ", ") + c;
      std::fprintf(stderr, "varel extract: entry %zu %s written as %s (%s)\n", i,
                   Quoted(name).c_str(), Quoted(safe.Joined('/')).c_str(), why.c_str());
    }
    std::string prefix;
    for (size_t c = 0; c + 1 < safe.components.size(); ++c) {
      prefix += (c == 0 ? "" : "/") + safe.components[c];
      folders.insert(FileKey(prefix));
    }
    plan.push_back({i, safe.components});
  }
  std::map<std::string, size_t> files;  // key -> index of the entry that has it
  for (PlannedFile& f : plan) {
    const std::vector<std::string> original = f.components;
    PlannedFile candidate = f;
    for (unsigned n = 2;; ++n) {
      const std::string key = FileKey(SafeName{candidate.components, {}}.Joined('/'));
      const bool taken =
          folders.count(key) != 0 || (policy == ExistingPolicy::kRefuse && files.count(key) != 0);
      if (!taken) {
        if (files.count(key) != 0) {
          std::fprintf(stderr, "varel extract: entries %zu and %zu share the name %s; %s\n",
                       files[key], f.index, Quoted(SafeName{original, {}}.Joined('/')).c_str(),
                       policy == ExistingPolicy::kOverwrite ? "the later one is kept"
                                                            : "the first one is kept");
        }
        files.emplace(key, f.index);
        break;
      }
      candidate.components.back() = NumberedName(original.back(), n);
    }
    if (candidate.components != original) {
      std::fprintf(stderr, "varel extract: entry %zu %s shares its name; written as %s\n", f.index,
                   Quoted(SafeName{original, {}}.Joined('/')).c_str(),
                   Quoted(SafeName{candidate.components, {}}.Joined('/')).c_str());
    }
    f = candidate;
  }
  return plan;
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

}  // namespace

int RunExtract(const Options& options, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kExtractUsage, stdout);
    return kExitOk;
  }
  ParsedArgs parsed;
  if (!ParseArgs("extract", args,
                 {{"-o", "--output", true},
                  {nullptr, "--overwrite", false},
                  {nullptr, "--skip-existing", false},
                  {"-q", "--quiet", false},
                  {"-v", "--verbose", false}},
                 &parsed)) {
    return kExitUsage;
  }
  if (parsed.positional.empty()) {
    std::fprintf(stderr, "varel extract: name an archive\n%s", kExtractUsage);
    return kExitUsage;
  }
  if (parsed.Has("--overwrite") && parsed.Has("--skip-existing")) {
    std::fprintf(stderr, "varel extract: --overwrite and --skip-existing exclude each other\n");
    return kExitUsage;
  }
  if (parsed.values.count("--output") != 0 && parsed.values["--output"].empty()) {
    std::fprintf(stderr, "varel extract: the output folder name is empty\n");
    return kExitUsage;
  }
  const ExistingPolicy policy = parsed.Has("--overwrite")       ? ExistingPolicy::kOverwrite
                                : parsed.Has("--skip-existing") ? ExistingPolicy::kSkip
                                                                : ExistingPolicy::kRefuse;
  const bool quiet = parsed.Has("--quiet");
  const bool verbose = parsed.Has("--verbose") && !quiet;
  const std::string path = parsed.positional[0];
  const std::vector<std::string> patterns(parsed.positional.begin() + 1, parsed.positional.end());
  const std::string root =
      parsed.values.count("--output") != 0 ? parsed.values["--output"] : DefaultOutputFolder(path);

  CPluginModule module;
  CHostArchive archive;
  if (!OpenArchive("extract", options, path, &module, &archive)) return kExitFailed;
  int status = kExitOk;
  std::vector<std::string> unmatched;
  const std::vector<size_t> selected = SelectEntries(archive, patterns, &unmatched);
  for (const std::string& p : unmatched) {
    std::fprintf(stderr, "varel extract: %s: no entry matches %s\n", path.c_str(),
                 Quoted(p).c_str());
    status = kExitFailed;
  }
  const std::vector<PlannedFile> plan = PlanFiles(archive, selected, policy);
  std::string error;
  if (!MakeFolders(root, &error)) {
    std::fprintf(stderr, "varel extract: %s\n", error.c_str());
    return kExitFailed;
  }

  uint64_t bytesTotal = 0;
  for (const PlannedFile& f : plan) bytesTotal += archive.entries()[f.index].size;
  CProgress progress(StderrIsTerminal() && !quiet, plan.size(), bytesTotal);
  uint64_t bytesDone = 0;
  size_t written = 0;
  size_t skipped = 0;
  uint64_t bytesWritten = 0;
  for (size_t k = 0; k < plan.size(); ++k) {
    const PlannedFile& f = plan[k];
    progress.Update(k, bytesDone);
    bytesDone += archive.entries()[f.index].size;
    std::string folder;
    size_t size = 0;
    if (!MakeParents(root, f, &folder, &error)) {
      progress.Finish();
      std::fprintf(stderr, "varel extract: %s\n", error.c_str());
      status = kExitFailed;
      continue;
    }
    const std::string target = JoinPath(folder, f.components.back());
    const PathKind existing = GetPathKind(target);
    if (existing != PathKind::kMissing || IsSymbolicLink(target)) {
      if (existing == PathKind::kFolder || existing == PathKind::kOther) {
        progress.Finish();
        std::fprintf(stderr, "varel extract: %s: exists and is not a file; entry %zu not written\n",
                     target.c_str(), f.index);
        status = kExitFailed;
        continue;
      }
      if (policy == ExistingPolicy::kSkip) {
        ++skipped;
        progress.Finish();
        std::fprintf(stderr, "varel extract: %s: exists; skipped\n", target.c_str());
        continue;
      }
      if (policy == ExistingPolicy::kRefuse) {
        progress.Finish();
        std::fprintf(stderr, "varel extract: %s: exists (use --overwrite or --skip-existing)\n",
                     target.c_str());
        status = kExitFailed;
        continue;
      }
    }
    // A failure inside the sink is a write failure; any other is the entry's own.
    COutputFile out;
    bool writeFailed = false;
    const bool extracted = archive.Extract(
        f.index,
        [&](const uint8_t* data, size_t n, std::string* sinkError) {
          writeFailed = !out.Open(folder, f.components.back(), sinkError) ||
                        !out.Write(data, n, sinkError) ||
                        !out.Commit(policy == ExistingPolicy::kOverwrite, sinkError);
          size = n;
          return !writeFailed;
        },
        &error);
    if (writeFailed) {
      // A file that cannot be written means the disk or the folder is unusable: stop.
      progress.Finish();
      std::fprintf(stderr, "varel extract: %s\nvarel extract: stopped after %zu of %zu files\n",
                   error.c_str(), written, plan.size());
      return kExitFailed;
    }
    if (!extracted) {
      progress.Finish();
      std::fprintf(stderr, "varel extract: %s\n", error.c_str());
      status = kExitFailed;
      continue;
    }
    ++written;
    bytesWritten += size;
    if (verbose) {
      progress.Finish();
      std::printf("%s\n", target.c_str());
    }
  }
  progress.Finish();
  if (!quiet) {
    std::printf("extracted %zu of %zu %s (%s) to %s", written, plan.size(),
                plan.size() == 1 ? "entry" : "entries", FormatBytes(bytesWritten).c_str(),
                root.c_str());
    if (skipped != 0) std::printf(", %zu skipped", skipped);
    std::printf("\n");
  }
  return status;
}

int RunCat(const Options& options, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kCatUsage, stdout);
    return kExitOk;
  }
  ParsedArgs parsed;
  if (!ParseArgs("cat", args, {}, &parsed)) return kExitUsage;
  if (parsed.positional.size() != 2) {
    std::fprintf(stderr, "varel cat: name an archive and one entry\n%s", kCatUsage);
    return kExitUsage;
  }
  const std::string& path = parsed.positional[0];
  const std::string& wanted = parsed.positional[1];
  // "#12" is an index unless an entry has that very name.
  long long index = -1;
  if (wanted.size() > 1 && wanted[0] == '#' &&
      wanted.find_first_not_of("0123456789", 1) == std::string::npos && wanted.size() < 12) {
    index = std::stoll(wanted.substr(1));
  }
  CPluginModule module;
  CHostArchive archive;
  if (!OpenArchive("cat", options, path, &module, &archive)) return kExitFailed;
  const std::vector<ArchiveEntry>& entries = archive.entries();
  size_t found = entries.size();
  size_t sameName = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (EntryName(entries[i]) == wanted) {
      if (found == entries.size()) found = i;
      ++sameName;
    }
  }
  if (found == entries.size() && index >= 0) {
    if (static_cast<unsigned long long>(index) >= entries.size()) {
      std::fprintf(stderr, "varel cat: %s: no entry #%lld (it has %zu)\n", path.c_str(), index,
                   entries.size());
      return kExitFailed;
    }
    found = static_cast<size_t>(index);
  }
  if (found == entries.size()) {
    std::fprintf(stderr, "varel cat: %s: no entry named %s\n", path.c_str(),
                 Quoted(wanted).c_str());
    return kExitFailed;
  }
  if (sameName > 1) {
    std::fprintf(stderr, "varel cat: %s: %zu entries are named %s; writing #%zu\n", path.c_str(),
                 sameName, Quoted(wanted).c_str(), found);
  }
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
#endif
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
    std::fprintf(stderr, "varel cat: %s\n", error.c_str());
    return kExitFailed;
  }
  return kExitOk;
}
