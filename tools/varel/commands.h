// The commands of varel and what they share.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/plugin_host/host_archive.h"
#include "tools/plugin_host/plugin_loader.h"

// Exit codes scripts can rely on.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Runs varel on its arguments (UTF-8): the exit code, with no exception leaving.
int Main(const std::vector<std::string>& args);

struct Options {
  std::string pluginPath;  // empty: the plug-in beside varel
};

struct Command {
  const char* name;
  int (*run)(const Options& options, const std::vector<std::string>& args);
};

const std::vector<Command>& Commands();

// Loads the plug-in the options name; prints why and returns false when it cannot.
bool LoadPlugin(const Options& options, CPluginModule* module);

// Loads the plug-in and opens and lists the archive; prints why and returns false when
// either fails.
bool OpenArchive(const char* command, const Options& options, const std::string& path,
                 CPluginModule* module, CHostArchive* archive);

// True when args hold --help, or -h unless shortHelp is false (list, where -h means
// human-readable sizes), after printing the usage: the command then returns kExitOk.
bool PrintedHelp(const std::vector<std::string>& args, const std::string& usage,
                 bool shortHelp = true);

// A command's options, in the getopt manner: "-o DIR", "-oDIR", "--output DIR",
// "--output=DIR", flags such as "--quiet", and short ones bundled ("-qv", "-qo DIR",
// "-qoDIR"); "--" ends the options, and "-" alone is positional (standard input or output).
// Everything else is positional, in order.
struct OptionSpec {
  const char* shortName;  // "-o", or nullptr
  const char* longName;   // "--output"
  bool takesValue;
};
struct ParsedArgs {
  std::map<std::string, std::string> values;  // by long name
  std::set<std::string> flags;                // long names
  std::vector<std::string> positional;
  bool Has(const std::string& longName) const {
    return flags.count(longName) != 0 || values.count(longName) != 0;
  }
};
// Prints the problem and returns false on an unknown option or a missing value.
bool ParseArgs(const char* command, const std::vector<std::string>& args,
               const std::vector<OptionSpec>& specs, ParsedArgs* out);

// The options that say whether names match ignoring case, for the commands that take
// patterns or names, and their lines in those commands' usage texts.
extern const OptionSpec kIgnoreCaseOption;
extern const OptionSpec kCaseSensitiveOption;
extern const char kCaseUsage[];
// Whether names match ignoring case: by default on Windows, not on Linux, as each system's
// file names do. False with a message when both options are given.
bool ParseIgnoreCase(const char* command, const ParsedArgs& parsed, bool* ignoreCase);

// The option that sets the threads of pack and extract, and its value: one thread per
// core when it is not given; false (after saying why) unless it is a number from 1 to
// kMaxJobs.
extern const OptionSpec kJobsOption;
bool ParseJobs(const char* command, const ParsedArgs& parsed, unsigned* jobs);

// varel --version: varel's version, and the plug-in it loads with that plug-in's own.
int RunVersion(const Options& options);
int RunInfo(const Options& options, const std::vector<std::string>& args);
int RunDetect(const Options& options, const std::vector<std::string>& args);
int RunList(const Options& options, const std::vector<std::string>& args);
int RunExtract(const Options& options, const std::vector<std::string>& args);
int RunCat(const Options& options, const std::vector<std::string>& args);
int RunPack(const Options& options, const std::vector<std::string>& args);

// The index "#N" names, as 'varel list' numbers the entries (#0 is the first); false when
// text is not of that form.
bool ParseEntryIndex(const std::string& text, size_t* index);

// The indexes of the entries that any of the patterns selects (all entries when there are
// none), in archive order; patterns that selected nothing go to unmatched. A pattern
// selects the entries whose names it matches, and every entry under a folder it matches
// ("docs" and "docs/" select docs/...); "#N" selects entry N, unless it matched a name.
std::vector<size_t> SelectEntries(const CHostArchive& archive,
                                  const std::vector<std::string>& patterns, bool ignoreCase,
                                  std::vector<std::string>* unmatched);
