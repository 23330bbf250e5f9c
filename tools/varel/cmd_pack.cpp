// varel pack: builds a PSARC archive or a PKG container from files and folders with the
// project's writers.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/engine/pack_inputs.h"
#include "tools/os/console.h"
#include "tools/os/files.h"
#include "tools/plugin_host/entry_names.h"
#include "tools/util/ordered_pool.h"
#include "tools/util/progress.h"
#include "tools/varel/commands.h"
#include "tools/varel/options.h"
#include "tools/varel/report.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

const char kIntro[] =
    "usage: varel pack psarc|pkg OUT [-C DIR] [--overwrite] [-j N] [-q] PATH...\n"
    "       varel pack psarc OUT ... [--by-digest [--ignore-case]] [--leading-slash]\n"
    "                                [--share-identical] PATH...\n"
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
    "A PSARC archive names its entries by the order of its name list, as every reader\n"
    "takes it, unless --by-digest asks for the later layout.\n"
    "\n";

const OptionTable kOptions = {
    {"-C", "--directory", true, "  -C DIR             resolve PATHs in DIR\n"},
    {nullptr, "--overwrite", false, "  --overwrite        replace OUT if it exists\n"},
    {"-j", "--jobs", true,
     "  -j, --jobs N       compress on N threads (default: one per core); the archive is\n"
     "                     the same for every N\n"},
    {"-q", "--quiet", false, "  -q, --quiet        no progress line and no summary\n"},
    {nullptr, "--by-digest", false,
     "  --by-digest        PSARC: the later layout, whose readers find each name by its\n"
     "                     MD5 digest: the table of contents in the order of the digests,\n"
     "                     the names sorted and separated by zero bytes (header flags\n"
     "                     0x04 and 0x08)\n"},
    {nullptr, "--ignore-case", false,
     "  --ignore-case      PSARC, with --by-digest: digests of the upper-cased names, so\n"
     "                     that readers find names ignoring case (flag 0x01); names that\n"
     "                     differ only in case are refused\n"},
    {nullptr, "--leading-slash", false,
     "  --leading-slash    PSARC: every name stored with a leading '/' (flag 0x02)\n"},
    {nullptr, "--share-identical", false,
     "  --share-identical  PSARC: files of identical contents stored once, their entries\n"
     "                     sharing the stored bytes (the files are read twice)\n"},
    {"-h", "--help", false, "  -h, --help         this text\n"},
};

std::string Usage() { return kIntro + OptionHelp(kOptions); }

// OUT that stands for standard output.
bool ToStdout(const std::string& out) { return out == "-"; }

// The engine's notes as varel's messages.
class CPackMessages : public CEngineObserver {
 public:
  void Note(NoteKind, size_t, const std::string& text) override { Report("pack", text); }
};

// The PSARC layout options, each a writer option.
struct PsarcLayoutRequest {
  bool byDigest = false;
  bool ignoreCase = false;
  bool leadingSlash = false;
  bool shareIdentical = false;
};

struct PackRequest {
  bool pkg = false;
  PsarcLayoutRequest psarc;
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
  PsarcLayoutRequest& psarc = request->psarc;
  psarc.byDigest = parsed.Has("--by-digest");
  psarc.ignoreCase = parsed.Has("--ignore-case");
  psarc.leadingSlash = parsed.Has("--leading-slash");
  psarc.shareIdentical = parsed.Has("--share-identical");
  for (const char* option :
       {"--by-digest", "--ignore-case", "--leading-slash", "--share-identical"}) {
    if (request->pkg && parsed.Has(option)) {
      Report("pack", std::string(option) + " is for PSARC archives");
      return false;
    }
  }
  if (psarc.ignoreCase && !psarc.byDigest) {
    Report("pack", "--ignore-case needs --by-digest (names by position have no case to ignore)");
    return false;
  }
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

// Under --ignore-case two names equal but for the case of their ASCII letters have one
// digest, and a reader would give both entries the same name: refused, naming both; false
// when any pair was.
bool CheckCaseDistinct(const std::vector<PackInput>& inputs) {
  std::map<std::string, size_t> byUpper;
  bool distinct = true;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const auto seen = byUpper.emplace(PsarcUpperCased(inputs[i].name), i);
    if (seen.second) continue;
    Report("pack", Quoted(inputs[seen.first->second].name) + " and " + Quoted(inputs[i].name) +
                       ": names that differ only in case, which --ignore-case cannot tell apart");
    distinct = false;
  }
  return distinct;
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
    options.tocByDigest = request.psarc.byDigest;
    options.zeroSeparated = request.psarc.byDigest;
    options.upperCaseDigests = request.psarc.ignoreCase;
    options.leadingSlash = request.psarc.leadingSlash;
    options.shareIdentical = request.psarc.shareIdentical;
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
  CPackMessages messages;
  if (!CheckPlaces(request) ||
      !CollectInputs(request.paths, request.base, ToStdout(request.out) ? "" : request.out,
                     &planned, &messages) ||
      !CheckInputs(request.pkg, planned, &inputs, &messages) ||
      (request.psarc.ignoreCase && !CheckCaseDistinct(inputs))) {
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
