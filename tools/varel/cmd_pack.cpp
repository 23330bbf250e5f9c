// varel pack: builds a PSARC archive or a PKG container from files and folders with the
// project's writers.
#include <cstdio>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "tools/varel/commands.h"
#include "tools/varel/report.h"
#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/host_fs.h"
#include "tools/varel_host/progress.h"
#include "tools/varel_host/unicode_text.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

const char kUsage[] =
    "usage: varel pack psarc|pkg OUT [-C DIR] [--overwrite] PATH...\n"
    "\n"
    "Builds OUT from the files and folders named (folders with everything under them).\n"
    "Entry names are the paths as given, relative to DIR when -C is used, '/' separated:\n"
    "'varel pack pkg out.pkg -C samples .' names the entries without a 'samples/' prefix.\n"
    "PSARC names are stored in UTF-8, PKG names in the system's ANSI code page (a name it\n"
    "cannot hold is refused). PSARC blocks are zlib-compressed (level 9) where that makes\n"
    "them smaller; PKG entries are LZ-coded where that makes them smaller.\n"
    "\n"
    "  -C DIR        resolve PATHs in DIR\n"
    "  --overwrite   replace OUT if it exists\n";

// The host record holds 255 name bytes and a terminator.
constexpr size_t kMaxListedName = 255;
constexpr uint64_t kMaxEntryBytes = 0x80000000ull;

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
// with why when the format cannot store it.
bool StoredName(bool pkg, const std::string& name, std::string* stored, std::string* why) {
  if (!IsValidUtf8(name)) {
    *why = "its name is not valid UTF-8; entry names are stored as Unicode text";
    return false;
  }
  *stored = name;
  if (pkg && !AnsiFromUtf8(name, stored)) {
    *why = "its name holds " + FirstUnrepresentable(name) +
           Format(
               ", which the ANSI code page "
               "(%u) that PKG names are stored "
               "in cannot hold",
               static_cast<unsigned>(GetACP()));
    return false;
  }
  if (pkg && stored->size() > kPkgMaxNameBytes) {
    *why = Format("its name is %zu bytes; a PKG name holds at most %zu", stored->size(),
                  kPkgMaxNameBytes);
    return false;
  }
  if (stored->size() > kMaxListedName) {
    *why =
        Format("its name is %zu bytes; at most %zu can be listed", stored->size(), kMaxListedName);
    return false;
  }
  if (!pkg && name.find('\n') != std::string::npos) {
    *why = "its name holds a line break, which ends a name in the PSARC name list";
    return false;
  }
  return true;
}

// Refuses, before anything is read, what the format cannot hold, saying why for each
// input; fills in each entry's stored name. False when anything was refused.
bool CheckInputs(bool pkg, const std::vector<Input>& inputs, std::vector<ArchiveInput>* entries) {
  std::map<std::string, std::string> seen;  // stored name -> path
  bool ok = true;
  entries->resize(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    const Input& in = inputs[i];
    uint64_t size = 0;
    std::string why;
    if (!GetFileSize(in.path, &size, &why)) {
      Report("pack", why);
      ok = false;
      continue;
    }
    if (size >= kMaxEntryBytes) {
      why = "2 GiB or more; an entry must be smaller";
    } else if (StoredName(pkg, in.name, &(*entries)[i].name, &why)) {
      const auto earlier = seen.emplace((*entries)[i].name, in.path);
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
  std::vector<std::string> paths;
};

// Reads pack's arguments; false (after saying why) on a usage error.
bool ParsePack(const std::vector<std::string>& args, PackRequest* request) {
  ParsedArgs parsed;
  if (!ParseArgs("pack", args, {{"-C", "--directory", true}, {nullptr, "--overwrite", false}},
                 &parsed)) {
    return false;
  }
  if (parsed.positional.size() < 3) {
    Report("pack", std::string("name a format, an output file and what to pack\n") + kUsage);
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
  request->paths.assign(parsed.positional.begin() + 2, parsed.positional.end());
  return true;
}

// OUT may be written and -C names a folder; false after saying why.
bool CheckPlaces(const PackRequest& request) {
  const PathKind outKind = GetPathKind(request.out);
  if (outKind == PathKind::kFolder || outKind == PathKind::kOther) {
    Report("pack", request.out + ": exists and is not a file");
    return false;
  }
  if (outKind == PathKind::kFile && !request.overwrite) {
    Report("pack", request.out + ": exists (use --overwrite to replace it)");
    return false;
  }
  if (!request.base.empty() && GetPathKind(request.base) != PathKind::kFolder) {
    Report("pack", request.base + ": not a folder");
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
    if (!Collect(path, name, request.out, inputs, &error)) {
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

}  // namespace

int RunPack(const Options&, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    Print(kUsage);
    return kExitOk;
  }
  PackRequest request;
  if (!ParsePack(args, &request)) return kExitUsage;
  std::vector<Input> inputs;
  if (!CheckPlaces(request) || !CollectInputs(request, &inputs)) return kExitFailed;
  const bool pkg = request.pkg;
  const std::string& out = request.out;
  const bool overwrite = request.overwrite;
  std::string error;

  std::vector<ArchiveInput> entries;
  uint64_t total = 0;
  try {
    if (!CheckInputs(pkg, inputs, &entries)) return kExitFailed;
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (!ReadWholeFile(inputs[i].path, &entries[i].data, &error)) {
        Report("pack", error);
        return kExitFailed;
      }
      total += entries[i].data.size();
    }
    std::vector<uint8_t> archive;
    const bool built = pkg ? WritePkg(entries, PkgWriterOptions(), &archive, &error)
                           : WritePsarc(entries, PsarcWriterOptions(), &archive, &error);
    if (!built) {
      Report("pack", out + ": " + error);
      return kExitFailed;
    }
    if (!WriteFileAtomically(out, archive.data(), archive.size(), overwrite, &error)) {
      Report("pack", error);
      return kExitFailed;
    }
    Print(Format("packed %zu %s (%s) into ", entries.size(), entries.size() == 1 ? "file" : "files",
                 FormatBytes(total).c_str()) +
          out + " (" + FormatBytes(archive.size()) + ")\n");
  } catch (const std::bad_alloc&) {
    Report("pack", "not enough memory to build " + out);
    return kExitFailed;
  }
  return kExitOk;
}
