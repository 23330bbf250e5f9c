// varel pack: builds a PSARC archive or a PKG container from files and folders with the
// project's writers.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tools/host/entry_names.h"
#include "tools/host/host_fs.h"
#include "tools/host/progress.h"
#include "tools/varel/commands.h"
#include "tools/varel/pack_io.h"
#include "tools/writers/pack_pool.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

const char kUsage[] =
    "usage: varel pack psarc|pkg OUT [-C DIR] [--overwrite] [-j N] [--quiet] PATH...\n"
    "\n"
    "Builds OUT from the files and folders named (folders with everything under them).\n"
    "Entry names are the paths as given, relative to DIR when -C is used, '/' separated:\n"
    "'varel pack pkg out.pkg -C samples .' names the entries without a 'samples/' prefix.\n"
    "PSARC blocks are zlib-compressed (level 9) where that makes them smaller; PKG entries\n"
    "are LZ-coded where that makes them smaller.\n"
    "\n"
    "The archive is written under a temporary name beside OUT and renamed when complete:\n"
    "a failed or interrupted pack leaves nothing behind.\n"
    "\n"
    "  -C DIR         resolve PATHs in DIR\n"
    "  --overwrite    replace OUT if it exists\n"
    "  -j, --jobs N   compress on N threads (default: one per core); the archive is the\n"
    "                 same for every N\n"
    "  -q, --quiet    no progress line and no summary\n";

struct Input {
  std::string name;  // inside the archive
  std::string path;  // on disk
};

// The entry-name prefix for PATH: its components without ".", empty ones, a root or a
// drive. False for a PATH with "..", which has no name inside the archive.
bool NameOfPath(const std::string& path, std::string* name) {
  const CLeadBytes lead = CLeadBytes::System();
  std::string rest = path;
#if defined(_WIN32)
  if (rest.size() >= 2 && rest[1] == ':') rest.erase(0, 2);
#endif
  name->clear();
  std::string component;
  auto flush = [&]() {
    if (component == "..") return false;
    if (!component.empty() && component != ".") *name += (name->empty() ? "" : "/") + component;
    component.clear();
    return true;
  };
  for (size_t i = 0; i < rest.size();) {
    const size_t n = lead.CharLength(rest, i);
    const bool separator =
        n == 1 && (rest[i] == '/' || (PathSeparator() == '\\' && rest[i] == '\\'));
    if (separator) {
      if (!flush()) return false;
    } else {
      component.append(rest, i, n);
    }
    i += n;
  }
  return flush();
}

// Adds the file or the folder tree at path under the entry name prefix; out, the archive
// being replaced, is left out of it.
bool Collect(const std::string& path, const std::string& name, const std::string& out,
             std::vector<Input>* inputs, std::string* error) {
  if (IsSymbolicLink(path) && GetPathKind(path) == PathKind::kFolder) {
    std::fprintf(stderr, "varel pack: %s: a symbolic link to a folder; not followed\n",
                 path.c_str());
    return true;
  }
  switch (GetPathKind(path)) {
    case PathKind::kMissing: *error = path + ": no such file or folder"; return false;
    case PathKind::kOther:
      std::fprintf(stderr, "varel pack: %s: not a file or folder; left out\n", path.c_str());
      return true;
    case PathKind::kFile:
      if (name.empty()) {
        *error = path + ": gives no entry name";
        return false;
      }
      if (IsSameFile(path, out)) {
        std::fprintf(stderr, "varel pack: %s: is the archive being written; left out\n",
                     path.c_str());
        return true;
      }
      inputs->push_back({name, path});
      return true;
    case PathKind::kFolder: break;
  }
  std::vector<std::string> children;
  if (!ListFolder(path, &children, error)) return false;
  for (const std::string& child : children) {
    if (!Collect(JoinPath(path, child), name.empty() ? child : name + "/" + child, out, inputs,
                 error)) {
      return false;
    }
  }
  return true;
}

// Prints one line on stderr: "varel pack: TEXT".
void Problem(const std::string& text) { std::fprintf(stderr, "varel pack: %s\n", text.c_str()); }

struct PackRequest {
  bool pkg = false;
  std::string out;   // the archive
  std::string base;  // -C DIR, or empty
  bool overwrite = false;
  bool quiet = false;
  unsigned jobs = 1;
  std::vector<std::string> paths;
};

// Reads the command line into request; false with the exit code when the command ends here
// (help, or a usage error).
bool ReadRequest(const std::vector<std::string>& args, PackRequest* request, int* exitCode) {
  *exitCode = kExitUsage;
  if (WantsHelp(args)) {
    std::fputs(kUsage, stdout);
    *exitCode = kExitOk;
    return false;
  }
  ParsedArgs parsed;
  if (!ParseArgs("pack", args,
                 {{"-C", "--directory", true},
                  {nullptr, "--overwrite", false},
                  {"-j", "--jobs", true},
                  {"-q", "--quiet", false}},
                 &parsed)) {
    return false;
  }
  if (parsed.positional.size() < 3) {
    std::fprintf(stderr, "varel pack: name a format, an output file and what to pack\n%s", kUsage);
    return false;
  }
  const std::string& format = parsed.positional[0];
  if (format != "psarc" && format != "pkg") {
    Problem("unknown format '" + format + "' (psarc or pkg)");
    return false;
  }
  request->pkg = format == "pkg";
  request->out = parsed.positional[1];
  request->paths.assign(parsed.positional.begin() + 2, parsed.positional.end());
  if (parsed.values.count("--directory") != 0) request->base = parsed.values["--directory"];
  request->overwrite = parsed.Has("--overwrite");
  request->quiet = parsed.Has("--quiet");
  request->jobs = DefaultPackJobs();
  if (parsed.values.count("--jobs") != 0) {
    const std::string& text = parsed.values["--jobs"];
    char* end = nullptr;
    const unsigned long jobs = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || jobs < 1 || jobs > kMaxPackJobs) {
      Problem("--jobs takes a number from 1 to " + std::to_string(kMaxPackJobs));
      return false;
    }
    request->jobs = static_cast<unsigned>(jobs);
  }
  return true;
}

// What can be checked of OUT before anything is read: it is not a folder, replacing it was
// asked for if it exists, and the folder it goes into exists.
bool CheckOutputPath(const PackRequest& request) {
  const PathKind kind = GetPathKind(request.out);
  if (kind == PathKind::kFolder || kind == PathKind::kOther) {
    Problem(request.out + ": exists and is not a file");
    return false;
  }
  if (kind == PathKind::kFile && !request.overwrite) {
    Problem(request.out + ": exists (use --overwrite to replace it)");
    return false;
  }
  std::string folder;
  std::string name;
  SplitPath(request.out, &folder, &name);
  if (!folder.empty() && GetPathKind(folder) != PathKind::kFolder) {
    Problem(request.out + ": the folder " + folder + " does not exist");
    return false;
  }
  if (!request.base.empty() && GetPathKind(request.base) != PathKind::kFolder) {
    Problem(request.base + ": not a folder");
    return false;
  }
  return true;
}

// The files the PATHs name, with their entry names, in archive order.
bool PlanInputs(const PackRequest& request, std::vector<Input>* inputs) {
  std::string error;
  for (const std::string& given : request.paths) {
    std::string name;
    if (!NameOfPath(given, &name)) {
      Problem(given + ": names with '..' cannot be stored; use -C");
      return false;
    }
    if (IsAbsolutePath(given)) {
      Problem(given + ": stored without its leading root as '" + name + "'");
    }
    const std::string path =
        IsAbsolutePath(given) || request.base.empty() ? given : JoinPath(request.base, given);
    if (!Collect(path, name, request.out, inputs, &error)) {
      Problem(error);
      return false;
    }
  }
  if (inputs->empty()) {
    Problem("no files to pack");
    return false;
  }
  return true;
}

// Every input exists, can be opened, and fits the format; no two share a name. Everything
// wrong is reported, then the pack fails, before anything is compressed.
bool CheckInputs(const ArchiveLimits& limits, const std::vector<Input>& planned,
                 std::vector<PackInput>* inputs) {
  std::map<std::string, std::string> seen;
  int refused = 0;
  for (const Input& in : planned) {
    std::string error;
    PackInput checked{in.name, in.path, 0};
    CInputFile file;
    if (!GetFileSize(in.path, &checked.size, &error) || !file.Open(in.path, &error)) {
      Problem(error);
      ++refused;
      continue;
    }
    const std::string why = EntryRefusal(limits, in.name, checked.size);
    if (!why.empty()) {
      Problem(in.path + ": cannot be packed: " + why);
      ++refused;
    } else if (seen.count(in.name) != 0) {
      Problem(seen[in.name] + " and " + in.path + " both give the entry name '" +
              PrintableName(in.name) + "'");
      ++refused;
    }
    seen.emplace(in.name, in.path);
    inputs->push_back(checked);
  }
  return refused == 0;
}

// Writes the archive into the temporary file and renames it into place.
bool CarryOut(const PackRequest& request, const std::vector<PackInput>& inputs,
              COutputFile* output) {
  uint64_t total = 0;
  for (const PackInput& in : inputs) total += in.size;
  CProgress progress(StderrIsTerminal() && !request.quiet, inputs.size(), total);
  const PackProgressFn onProgress = [&progress](const PackProgress& p) {
    progress.Update(p.entriesDone, p.bytesDone);
  };
  CPackInputFiles source(inputs);
  COutputFileSink sink(output);
  std::string error;
  bool built;
  if (request.pkg) {
    PkgWriterOptions options;
    options.jobs = request.jobs;
    options.onProgress = onProgress;
    built = WritePkg(source, options, &sink, &error);
  } else {
    PsarcWriterOptions options;
    options.jobs = request.jobs;
    options.onProgress = onProgress;
    built = WritePsarc(source, options, &sink, &error);
  }
  progress.Finish();
  if (!built) {
    Problem(request.out + ": " + error);
    return false;
  }
  const uint64_t size = sink.end();
  if (!output->Commit(request.overwrite, &error)) {
    Problem(error);
    return false;
  }
  if (!request.quiet) {
    std::printf("packed %zu %s (%s) into %s (%s)\n", inputs.size(),
                inputs.size() == 1 ? "file" : "files", FormatBytes(total).c_str(),
                request.out.c_str(), FormatBytes(size).c_str());
  }
  return true;
}

}  // namespace

int RunPack(const Options&, const std::vector<std::string>& args) {
  PackRequest request;
  int exitCode = kExitOk;
  if (!ReadRequest(args, &request, &exitCode)) return exitCode;
  std::vector<Input> planned;
  std::vector<PackInput> inputs;
  if (!CheckOutputPath(request) || !PlanInputs(request, &planned) ||
      !CheckInputs(request.pkg ? PkgLimits() : PsarcLimits(), planned, &inputs)) {
    return kExitFailed;
  }
  std::string folder;
  std::string name;
  SplitPath(request.out, &folder, &name);
  COutputFile output;
  std::string error;
  if (!output.Open(folder, name, &error)) {
    Problem(error);
    return kExitFailed;
  }
  return CarryOut(request, inputs, &output) ? kExitOk : kExitFailed;
}
