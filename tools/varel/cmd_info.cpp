// varel info, varel detect.
#include <cstring>
#include <string>
#include <vector>

#include "tools/plugin_host/archive_damage.h"
#include "tools/plugin_host/host_file.h"
#include "tools/util/unicode_text.h"
#include "tools/varel/commands.h"
#include "tools/varel/options.h"
#include "tools/varel/report.h"

namespace {

// One text of an extension row: the length query first, then the copy.
bool QueryText(const PluginExports& p, int32_t index, bool pattern, std::string* out) {
  int32_t dl = 0;
  int32_t pl = 0;
  if (p.GetSupportedExt(1, index, nullptr, &dl, nullptr, &pl) != 0) return false;
  std::vector<char> db(static_cast<size_t>(dl) + 1, 0);
  std::vector<char> pb(static_cast<size_t>(pl) + 1, 0);
  dl = static_cast<int32_t>(db.size());
  pl = static_cast<int32_t>(pb.size());
  if (p.GetSupportedExt(1, index, db.data(), &dl, pb.data(), &pl) != 0) return false;
  *out = Utf8FromAnsi(pattern ? std::string(pb.data()) : std::string(db.data()));
  return true;
}

// The plug-in's texts are ANSI-code-page bytes in fixed fields, not always terminated.
template <size_t N>
std::string InfoText(const char (&field)[N]) {
  return Utf8FromAnsi(std::string(field, strnlen(field, N)));
}

const char* TypeName(int32_t type) {
  switch (type) {
    case 1: return "psarc";
    case 2: return "pkg";
    default: return "unknown";
  }
}

}  // namespace

int RunVersion(const Options& options) {
  Print("varel " VAREL_VERSION "\n");
  CPluginModule module;
  if (!LoadPlugin(options, &module)) return kExitFailed;
  PluginInfo info = {};
  if (module.exports().GetPluginInfo(&info) != 0) {
    Report("", "the plug-in refused the information query");
    return kExitFailed;
  }
  const std::string path = options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  Print("plug-in: " + path + " (" + InfoText(info.name) + " " + InfoText(info.version) + ")\n");
  return kExitOk;
}

int RunInfo(const Options& options, const std::vector<std::string>& args) {
  if (PrintedHelp(args,
                  "usage: varel info\n\nPrints the plug-in's name, author, version and the file "
                  "types it reads.\n"))
    return kExitOk;
  if (!args.empty()) {
    Report("info", "takes no arguments");
    return kExitUsage;
  }
  CPluginModule module;
  if (!LoadPlugin(options, &module)) return kExitFailed;
  const PluginExports& p = module.exports();
  PluginInfo info = {};
  if (p.GetPluginInfo(&info) != 0) {
    Report("info", "the plug-in refused the information query");
    return kExitFailed;
  }
  Print("name:    " + InfoText(info.name) + "\nauthor:  " + InfoText(info.author) +
        "\nversion: " + InfoText(info.version) + "\n");
  for (int32_t i = 0; i < info.extCount1; ++i) {
    std::string description;
    std::string pattern;
    if (!QueryText(p, i, false, &description) || !QueryText(p, i, true, &pattern)) {
      Report("info", Format("the plug-in refused extension row %d", static_cast<int>(i)));
      return kExitFailed;
    }
    Print("type:    " + description + " (" + pattern + ")\n");
  }
  return kExitOk;
}

int RunDetect(const Options& options, const std::vector<std::string>& args) {
  if (PrintedHelp(args,
                  "usage: varel detect FILE...\n\nPrints the archive type of each file: psarc, "
                  "pkg or unknown,\nor what keeps the plug-in from reading a file that begins "
                  "as a PSARC\n(\"psarc, lzma compression: not supported\"). FILE '-' is "
                  "standard input.\n"))
    return kExitOk;
  if (args.empty()) {
    Report("detect", "name at least one file");
    return kExitUsage;
  }
  CPluginModule module;
  if (!LoadPlugin(options, &module)) return kExitFailed;
  int status = kExitOk;
  for (const std::string& path : args) {
    CHostFile file;
    std::string error;
    if (!file.Open(path, &error)) {
      Report("detect", error);
      status = kExitFailed;
      continue;
    }
    int32_t type = 0;
    module.exports().IsSupported(file.source(), 1, &type);
    const std::string unrecognised =
        type == kTypeNone ? DescribeUnrecognised(file.source()->header, file.size()) : "";
    Print(path + ": " + (unrecognised.empty() ? TypeName(type) : unrecognised) + "\n");
  }
  return status;
}
