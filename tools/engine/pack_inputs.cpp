#include "tools/engine/pack_inputs.h"

#include <map>

#include "tools/plugin_host/entry_names.h"
#include "tools/util/format.h"
#include "tools/util/unicode_text.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

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
             std::vector<Input>* inputs, std::string* error, CEngineObserver* observer) {
  if (IsSymbolicLink(path) && GetPathKind(path) == PathKind::kFolder) {
    observer->Note(NoteKind::kSkipped, kNoEntry,
                   path + ": a symbolic link to a folder; not followed");
    return true;
  }
  switch (GetPathKind(path)) {
    case PathKind::kMissing: *error = path + ": no such file or folder"; return false;
    case PathKind::kOther:
      observer->Note(NoteKind::kSkipped, kNoEntry, path + ": not a file or folder; left out");
      return true;
    case PathKind::kFile:
      if (name.empty()) {
        *error = path + ": gives no entry name";
        return false;
      }
      if (IsSameFile(path, out)) {
        observer->Note(NoteKind::kSkipped, kNoEntry,
                       path + ": is the archive being written; left out");
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
                 error, observer)) {
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

}  // namespace

bool CollectInputs(const std::vector<std::string>& paths, const std::string& base,
                   const std::string& out, std::vector<Input>* inputs, CEngineObserver* observer) {
  for (const std::string& given : paths) {
    std::string name;
    if (!NameOfPath(given, &name)) {
      observer->Note(NoteKind::kProblem, kNoEntry,
                     given + ": names with '..' cannot be stored; use -C");
      return false;
    }
    const bool absolute = IsAbsolutePath(given);
    if (absolute) {
      observer->Note(NoteKind::kRenamed, kNoEntry,
                     given + ": stored without its leading root as " + Quoted(name));
    }
    const std::string path = absolute || base.empty() ? given
                             : given == "."           ? base
                                                      : JoinPath(base, given);
    std::string error;
    if (!Collect(path, name, out, inputs, &error, observer)) {
      observer->Note(NoteKind::kProblem, kNoEntry, error);
      return false;
    }
  }
  if (inputs->empty()) {
    observer->Note(NoteKind::kProblem, kNoEntry, "no files to pack");
    return false;
  }
  return true;
}

bool CheckInputs(bool pkg, const std::vector<Input>& inputs, std::vector<PackInput>* entries,
                 CEngineObserver* observer) {
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
      observer->Note(NoteKind::kProblem, i, why);
      ok = false;
      continue;
    }
    if (StoredName(pkg, in.name, entry.size, &entry.name, &why)) {
      const auto earlier = seen.emplace(entry.name, in.path);
      if (earlier.second) continue;
      observer->Note(NoteKind::kProblem, i,
                     earlier.first->second + " and " + in.path + " both give the entry name " +
                         Quoted(in.name));
      ok = false;
      continue;
    }
    observer->Note(NoteKind::kProblem, i, in.path + ": cannot be packed: " + why);
    ok = false;
  }
  return ok;
}

bool CPackInputFiles::Read(size_t index, uint64_t offset, uint8_t* out, size_t n,
                           std::string* error) {
  if (open_ != index) {
    open_ = SIZE_MAX;
    if (!file_.Open(inputs_[index].path, error)) return false;
    open_ = index;
  }
  size_t got = 0;
  if (!file_.ReadAt(offset, out, n, &got, error)) return false;
  if (got != n) {
    *error = inputs_[index].path + ": became shorter while being packed";
    return false;
  }
  return true;
}
