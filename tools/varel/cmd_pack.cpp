// varel pack: builds a PSARC archive or a PKG container from files and folders with the
// project's writers.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tools/engine/pack_inputs.h"
#include "tools/os/console.h"
#include "tools/os/files.h"
#include "tools/plugin_host/entry_names.h"
#include "tools/util/ordered_pool.h"
#include "tools/util/progress.h"
#include "tools/util/unicode_text.h"
#include "tools/varel/commands.h"
#include "tools/varel/options.h"
#include "tools/varel/report.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

const char kIntro[] =
    "usage: varel pack psarc|pkg OUT [-C DIR] [--overwrite] [-j N] [-q] PATH...\n"
    "\n"
    "Builds OUT from the files and folders named (folders with everything under them).\n"
    "Entry names are the paths as given, relative to DIR when -C is used, '/' separated:\n"
    "'varel pack pkg out.pkg -C samples .' names the entries without a 'samples/' prefix.\n"
    "PSARC names are stored in UTF-8, PKG names in the system's ANSI code page (a name it\n"
    "cannot hold is refused). PSARC blocks are zlib-compressed (level 9) where that makes\n"
    "them smaller; PKG entries are LZ-coded where that makes them smaller.\n"
    "The archive is written under a temporary name beside OUT and renamed when complete:\n"
    "a failed or interrupted pack leaves nothing behind. OUT '-' writes the archive to\n"
    "standard output (never to a terminal), once it is complete, through a temporary file\n"
    "in the system's temporary folder; the summary then goes to stderr.\n"
    "\n";

const OptionTable kOptions = {
    {"-C", "--directory", true, "  -C DIR         resolve PATHs in DIR\n"},
    {nullptr, "--overwrite", false, "  --overwrite    replace OUT if it exists\n"},
    {"-j", "--jobs", true,
     "  -j, --jobs N   compress on N threads (default: one per core); the archive is the\n"
     "                 same for every N\n"},
    {"-q", "--quiet", false, "  -q, --quiet    no progress line and no summary\n"},
    {"-h", "--help", false, "  -h, --help     this text\n"},
};

std::string Usage() { return kIntro + OptionHelp(kOptions); }

// OUT that stands for standard output.
bool ToStdout(const std::string& out) { return out == "-"; }

struct Input {
  std::string name;  // inside the archive, UTF-8
  std::string path;  // on disk
};

// The entry-name prefix for PATH: its components without ".", empty ones, a root or a
// drive. False for a PATH with "..", which has no name inside the archive.
bool NameOfPath(const std::string& path, std::string* name) {
  std::string rest = path;
  if (PathSeparator() == '\\' && rest.size() >= 2 && rest[1] == ':') rest.erase(0, 2);
  name->clear();
  size_t start = 0;
  // Separators are single bytes that no other UTF-8 character contains.
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && !IsPathSeparator(rest[i])) continue;
    const std::string component = rest.substr(start, i - start);
    start = i + 1;
    if (component == "..") return false;
    if (!component.empty() && component != ".") *name += (name->empty() ? "" : "/") + component;
  }
  return true;
}

// Adds the file or the folder tree at path under the entry name prefix; out, the archive
// being replaced, is left out of it.
bool Collect(const std::string& path, const std::string& name, const std::string& out,
             std::vector<Input>* inputs, std::string* error) {
  if (IsSymbolicLink(path) && GetPathKind(path) == PathKind::kFolder) {
    Report("pack", path + ": a symbolic link to a folder; not followed");
    return true;
  }
  switch (GetPathKind(path)) {
    case PathKind::kMissing: *error = path + ": no such file or folder"; return false;
    case PathKind::kOther: Report("pack", path + ": not a file or folder; left out"); return true;
    case PathKind::kFile:
      if (name.empty()) {
        *error = path + ": gives no entry name";
        return false;
      }
      if (IsSameFile(path, out)) {
        Report("pack", path + ": is the archive being written; left out");
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

// The first character of name that the ANSI code page cannot hold, as "'Ω' (U+03A9)".
std::string FirstUnrepresentable(const std::string& name) {
  for (size_t i = 0; i < name.size();) {
    const size_t start = i;
    const uint32_t c = NextCodePoint(name, &i);
    std::string bytes;
    if (c != kNotUtf8 && !AnsiFromUtf8(name.substr(start, i - start), &bytes)) {
      return "'" + name.substr(start, i - start) + Format("' (U+%04X)", static_cast<unsigned>(c));
    }
  }
  return "a character";
}

// The entry name as the format stores it: UTF-8 in PSARC, the ANSI code page in PKG. False
// with why when the format cannot store it or an entry of that size.
bool StoredName(bool pkg, const std::string& name, uint64_t size, std::string* stored,
                std::string* why) {
  if (!IsValidUtf8(name)) {
    *why = "its name is not valid UTF-8; entry names are stored as Unicode text";
    return false;
  }
  *stored = name;
  if (pkg && !AnsiFromUtf8(name, stored)) {
    *why = "its name holds " + FirstUnrepresentable(name) +
           Format(", which the ANSI code page (%u) that PKG names are stored in cannot hold",
                  static_cast<unsigned>(GetACP()));
    return false;
  }
  *why = EntryRefusal(pkg ? PkgLimits() : PsarcLimits(), *stored, size);
  return why->empty();
}

// Refuses, before anything is compressed, what the format cannot hold and what cannot be
// opened, saying why for each input; gives each entry its stored name and the size that
// is packed. False when anything was refused.
bool CheckInputs(bool pkg, const std::vector<Input>& inputs, std::vector<PackInput>* entries) {
  std::map<std::string, std::string> seen;  // stored name -> path
  bool ok = true;
  entries->resize(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    const Input& in = inputs[i];
    PackInput& entry = (*entries)[i];
    entry.path = in.path;
    std::string why;
    CFileReader file;
    if (!GetFileSize(in.path, &entry.size, &why) || !file.Open(in.path, &why)) {
      Report("pack", why);
      ok = false;
      continue;
    }
    if (StoredName(pkg, in.name, entry.size, &entry.name, &why)) {
      const auto earlier = seen.emplace(entry.name, in.path);
      if (earlier.second) continue;
      Report("pack", earlier.first->second + " and " + in.path + " both give the entry name " +
                         Quoted(in.name));
      ok = false;
      continue;
    }
    Report("pack", in.path + ": cannot be packed: " + why);
    ok = false;
  }
  return ok;
}

struct PackRequest {
  bool pkg = false;
  std::string out;
  std::string base;  // -C DIR, or empty
  bool overwrite = false;
  bool quiet = false;
  unsigned jobs = 1;
  std::vector<std::string> paths;
};

// Reads pack's arguments; false (after saying why) on a usage error.
bool ParsePack(const std::vector<std::string>& args, PackRequest* request) {
  ParsedArgs parsed;
  if (!ParseArgs("pack", args, kOptions, &parsed)) {
    return false;
  }
  if (parsed.positional.size() < 3) {
    Report("pack", std::string("name a format, an output file and what to pack\n") + Usage());
    return false;
  }
  const std::string& format = parsed.positional[0];
  if (format != "psarc" && format != "pkg") {
    Report("pack", "unknown format " + Quoted(format) + " (psarc or pkg)");
    return false;
  }
  request->pkg = format == "pkg";
  request->out = parsed.positional[1];
  request->base = parsed.values.count("--directory") != 0 ? parsed.values["--directory"] : "";
  request->overwrite = parsed.Has("--overwrite");
  request->quiet = parsed.Has("--quiet");
  request->paths.assign(parsed.positional.begin() + 2, parsed.positional.end());
  return ParseJobs("pack", parsed, &request->jobs);
}

// OUT may be written, the folder it goes into exists, and -C names a folder; false after
// saying why.
bool CheckPlaces(const PackRequest& request) {
  if (!request.base.empty() && GetPathKind(request.base) != PathKind::kFolder) {
    Report("pack", request.base + ": not a folder");
    return false;
  }
  if (ToStdout(request.out)) {
    if (!IsTerminal(stdout)) return true;
    Report("pack", "refusing to write an archive to a terminal; redirect stdout or name a file");
    return false;
  }
  const PathKind outKind = GetPathKind(request.out);
  if (outKind == PathKind::kFolder || outKind == PathKind::kOther) {
    Report("pack", request.out + ": exists and is not a file");
    return false;
  }
  if (outKind == PathKind::kFile && !request.overwrite) {
    Report("pack", request.out + ": exists (use --overwrite to replace it)");
    return false;
  }
  std::string folder;
  std::string name;
  SplitPath(request.out, &folder, &name);
  if (!folder.empty() && GetPathKind(folder) != PathKind::kFolder) {
    Report("pack", request.out + ": the folder " + folder + " does not exist");
    return false;
  }
  return true;
}

// The files the PATHs name, with their entry names; false after saying why.
bool CollectInputs(const PackRequest& request, std::vector<Input>* inputs) {
  for (const std::string& given : request.paths) {
    std::string name;
    if (!NameOfPath(given, &name)) {
      Report("pack", given + ": names with '..' cannot be stored; use -C");
      return false;
    }
    const bool absolute = IsAbsolutePath(given);
    if (absolute) Report("pack", given + ": stored without its leading root as " + Quoted(name));
    const std::string path = absolute || request.base.empty() ? given
                             : given == "."                   ? request.base
                                                              : JoinPath(request.base, given);
    std::string error;
    if (!Collect(path, name, ToStdout(request.out) ? std::string() : request.out, inputs, &error)) {
      Report("pack", error);
      return false;
    }
  }
  if (inputs->empty()) {
    Report("pack", "no files to pack");
    return false;
  }
  return true;
}

// Copies the complete archive from its temporary file to stdout, then removes the file.
// False with error saying why, or with error empty when stdout failed (FinishOutput
// reports that).
bool SendToStdout(COutputFile* output, std::string* error) {
  if (!output->FinishWriting(error)) return false;
  CFileReader archive;
  if (!archive.Open(output->temporaryPath(), error)) return false;
  std::vector<uint8_t> buffer(1u << 20);
  for (uint64_t offset = 0;;) {
    size_t got = 0;
    if (!archive.ReadAt(offset, buffer.data(), buffer.size(), &got, error)) return false;
    if (got == 0) break;
    if (!PrintBytes(buffer.data(), got)) {
      error->clear();
      return false;
    }
    offset += got;
  }
  archive.Close();
  output->Abandon();
  return true;
}

// Writes the archive into the temporary file and renames it into place (or sends it to
// stdout); false after saying why.
bool CarryOut(const PackRequest& request, const std::vector<PackInput>& inputs,
              COutputFile* output) {
  uint64_t total = 0;
  for (const PackInput& in : inputs) total += in.size;
  CProgress progress(IsTerminal(stderr) && !request.quiet, inputs.size(), total);
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
    Report("pack", request.out + ": " + error);
    return false;
  }
  const bool toStdout = ToStdout(request.out);
  if (!(toStdout ? SendToStdout(output, &error) : output->Commit(request.overwrite, &error))) {
    if (!error.empty()) Report("pack", error);
    return false;
  }
  if (!request.quiet) {
    const std::string summary =
        Format("packed %zu %s (%s) into ", inputs.size(), inputs.size() == 1 ? "file" : "files",
               FormatBytes(total).c_str()) +
        (toStdout ? std::string("stdout") : request.out) + " (" + FormatBytes(sink.end()) + ")";
    if (toStdout) {
      Report("pack", summary);
    } else {
      Print(summary + "\n");
    }
  }
  return true;
}

}  // namespace

int RunPack(const Options&, const std::vector<std::string>& args) {
  if (PrintedHelp(args, Usage())) return kExitOk;
  PackRequest request;
  if (!ParsePack(args, &request)) return kExitUsage;
  std::vector<Input> planned;
  std::vector<PackInput> inputs;
  if (!CheckPlaces(request) || !CollectInputs(request, &planned) ||
      !CheckInputs(request.pkg, planned, &inputs)) {
    return kExitFailed;
  }
  // Opened after the files were collected, so that the walk never meets it. The archive
  // for stdout is made whole first (the writers fill its tables in last).
  std::string folder;
  std::string name;
  if (ToStdout(request.out)) {
    folder = TemporaryFolder();
    name = "varel-pack";
  } else {
    SplitPath(request.out, &folder, &name);
  }
  COutputFile output;
  std::string error;
  if (!output.Open(folder, name, &error)) {
    Report("pack", error);
    return kExitFailed;
  }
  return CarryOut(request, inputs, &output) ? kExitOk : kExitFailed;
}
