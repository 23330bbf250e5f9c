// varel pack: builds a PSARC archive or a PKG container from files and folders with the
// project's writers.
#include <cstdio>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "tools/varel_host/entry_names.h"
#include "tools/varel_host/host_fs.h"
#include "tools/varel_host/progress.h"
#include "tools/varel/commands.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

const char kUsage[] =
    "usage: varel pack psarc|pkg OUT [-C DIR] [--overwrite] PATH...\n"
    "\n"
    "Builds OUT from the files and folders named (folders with everything under them).\n"
    "Entry names are the paths as given, relative to DIR when -C is used, '/' separated:\n"
    "'varel pack pkg out.pkg -C samples .' names the entries without a 'samples/' prefix.\n"
    "PSARC blocks are zlib-compressed (level 9) where that makes them smaller; PKG entries\n"
    "are LZ-coded where that makes them smaller.\n"
    "\n"
    "  -C DIR        resolve PATHs in DIR\n"
    "  --overwrite   replace OUT if it exists\n";

// The host record holds 255 name bytes and a terminator.
constexpr size_t kMaxListedName = 255;
constexpr uint64_t kMaxEntryBytes = 0x80000000ull;

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

}  // namespace

int RunPack(const Options&, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  ParsedArgs parsed;
  if (!ParseArgs("pack", args, {{"-C", "--directory", true}, {nullptr, "--overwrite", false}},
                 &parsed)) {
    return kExitUsage;
  }
  if (parsed.positional.size() < 3) {
    std::fprintf(stderr, "varel pack: name a format, an output file and what to pack\n%s", kUsage);
    return kExitUsage;
  }
  const std::string format = parsed.positional[0];
  const std::string out = parsed.positional[1];
  if (format != "psarc" && format != "pkg") {
    std::fprintf(stderr, "varel pack: unknown format '%s' (psarc or pkg)\n", format.c_str());
    return kExitUsage;
  }
  const bool pkg = format == "pkg";
  const std::string base =
      parsed.values.count("--directory") != 0 ? parsed.values["--directory"] : std::string();
  const bool overwrite = parsed.Has("--overwrite");
  const PathKind outKind = GetPathKind(out);
  if (outKind == PathKind::kFolder || outKind == PathKind::kOther) {
    std::fprintf(stderr, "varel pack: %s: exists and is not a file\n", out.c_str());
    return kExitFailed;
  }
  if (outKind == PathKind::kFile && !overwrite) {
    std::fprintf(stderr, "varel pack: %s: exists (use --overwrite to replace it)\n", out.c_str());
    return kExitFailed;
  }
  if (!base.empty() && GetPathKind(base) != PathKind::kFolder) {
    std::fprintf(stderr, "varel pack: %s: not a folder\n", base.c_str());
    return kExitFailed;
  }

  std::vector<Input> inputs;
  std::string error;
  for (size_t p = 2; p < parsed.positional.size(); ++p) {
    const std::string& given = parsed.positional[p];
    std::string name;
    if (!NameOfPath(given, &name)) {
      std::fprintf(stderr, "varel pack: %s: names with '..' cannot be stored; use -C\n",
                   given.c_str());
      return kExitFailed;
    }
    if (IsAbsolutePath(given)) {
      std::fprintf(stderr, "varel pack: %s: stored without its leading root as '%s'\n",
                   given.c_str(), name.c_str());
    }
    const std::string path = IsAbsolutePath(given) || base.empty() ? given : JoinPath(base, given);
    if (!Collect(path, name, out, &inputs, &error)) {
      std::fprintf(stderr, "varel pack: %s\n", error.c_str());
      return kExitFailed;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "varel pack: no files to pack\n");
    return kExitFailed;
  }

  // Refuse what the format cannot hold before reading anything.
  std::map<std::string, std::string> seen;
  int refused = 0;
  for (const Input& in : inputs) {
    uint64_t size = 0;
    if (!GetFileSize(in.path, &size, &error)) {
      std::fprintf(stderr, "varel pack: %s\n", error.c_str());
      return kExitFailed;
    }
    const char* why = nullptr;
    char text[96];
    if (size >= kMaxEntryBytes) {
      why = "2 GiB or more; an entry must be smaller";
    } else if (pkg && in.name.size() > kPkgMaxNameBytes) {
      std::snprintf(text, sizeof(text), "its name is %zu bytes; a PKG name holds at most %zu",
                    in.name.size(), kPkgMaxNameBytes);
      why = text;
    } else if (in.name.size() > kMaxListedName) {
      std::snprintf(text, sizeof(text), "its name is %zu bytes; at most %zu can be listed",
                    in.name.size(), kMaxListedName);
      why = text;
    } else if (!pkg && in.name.find('\n') != std::string::npos) {
      why = "its name holds a line break, which ends a name in the PSARC name list";
    } else if (seen.count(in.name) != 0) {
      std::fprintf(stderr, "varel pack: %s and %s both give the entry name '%s'\n",
                   seen[in.name].c_str(), in.path.c_str(), PrintableName(in.name).c_str());
      ++refused;
      continue;
    }
    seen[in.name] = in.path;
    if (why != nullptr) {
      std::fprintf(stderr, "varel pack: %s: cannot be packed: %s\n", in.path.c_str(), why);
      ++refused;
    }
  }
  if (refused != 0) return kExitFailed;

  std::vector<ArchiveInput> entries;
  uint64_t total = 0;
  try {
    entries.resize(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
      entries[i].name = inputs[i].name;
      if (!ReadWholeFile(inputs[i].path, &entries[i].data, &error)) {
        std::fprintf(stderr, "varel pack: %s\n", error.c_str());
        return kExitFailed;
      }
      total += entries[i].data.size();
    }
    std::vector<uint8_t> archive;
    const bool built = pkg ? WritePkg(entries, PkgWriterOptions(), &archive, &error)
                           : WritePsarc(entries, PsarcWriterOptions(), &archive, &error);
    if (!built) {
      std::fprintf(stderr, "varel pack: %s: %s\n", out.c_str(), error.c_str());
      return kExitFailed;
    }
    if (!WriteFileAtomically(out, archive.data(), archive.size(), overwrite, &error)) {
      std::fprintf(stderr, "varel pack: %s\n", error.c_str());
      return kExitFailed;
    }
    std::printf("packed %zu %s (%s) into %s (%s)\n", entries.size(),
                entries.size() == 1 ? "file" : "files", FormatBytes(total).c_str(), out.c_str(),
                FormatBytes(archive.size()).c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "varel pack: not enough memory to build %s\n", out.c_str());
    return kExitFailed;
  }
  return kExitOk;
}
