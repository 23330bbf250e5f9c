// varel info, varel detect.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/varel_host/host_file.h"
#include "tools/varel/commands.h"

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
  *out = pattern ? std::string(pb.data()) : std::string(db.data());
  return true;
}

const char* TypeName(int32_t type) {
  switch (type) {
    case 1: return "psarc";
    case 2: return "pkg";
    default: return "unknown";
  }
}

}  // namespace

int RunInfo(const Options& options, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::printf(
        "usage: varel info\n\nPrints the plug-in's name, author, version and the file "
        "types it reads.\n");
    return kExitOk;
  }
  if (!args.empty()) {
    std::fprintf(stderr, "varel info: takes no arguments\n");
    return kExitUsage;
  }
  CPluginModule module;
  if (!LoadPlugin(options, &module)) return kExitFailed;
  const PluginExports& p = module.exports();
  PluginInfo info = {};
  if (p.GetPluginInfo(&info) != 0) {
    std::fprintf(stderr, "varel info: the plug-in refused the information query\n");
    return kExitFailed;
  }
  std::printf("name:    %.80s\nauthor:  %.20s\nversion: %.20s\n", info.name, info.author,
              info.version);
  for (int32_t i = 0; i < info.extCount1; ++i) {
    std::string description;
    std::string pattern;
    if (!QueryText(p, i, false, &description) || !QueryText(p, i, true, &pattern)) {
      std::fprintf(stderr, "varel info: the plug-in refused extension row %d\n", i);
      return kExitFailed;
    }
    std::printf("type:    %s (%s)\n", description.c_str(), pattern.c_str());
  }
  return kExitOk;
}

int RunDetect(const Options& options, const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::printf(
        "usage: varel detect FILE...\n\nPrints the archive type of each file: psarc, "
        "pkg or unknown.\n");
    return kExitOk;
  }
  if (args.empty()) {
    std::fprintf(stderr, "varel detect: name at least one file\n");
    return kExitUsage;
  }
  CPluginModule module;
  if (!LoadPlugin(options, &module)) return kExitFailed;
  int status = kExitOk;
  for (const std::string& path : args) {
    CHostFile file;
    std::string error;
    if (!file.Open(path, &error)) {
      std::fprintf(stderr, "varel detect: %s\n", error.c_str());
      status = kExitFailed;
      continue;
    }
    int32_t type = 0;
    module.exports().IsSupported(file.source(), 1, &type);
    std::printf("%s: %s\n", path.c_str(), TypeName(type));
  }
  return status;
}
