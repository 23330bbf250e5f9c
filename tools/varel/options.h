// Options of varel and of each command, in the getopt manner. Each command declares its
// options once, in a table: the option's names, whether it takes a value, and its help
// line, so that the parser and the usage text cannot disagree.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// One option: "-o DIR", "-oDIR", "--output DIR", "--output=DIR"; flags such as "--quiet";
// short ones bundled ("-qv", "-qo DIR", "-qoDIR").
struct OptionSpec {
  const char* shortName;  // "-o", or nullptr
  const char* longName;   // "--output"
  bool takesValue;
  const char* help;  // its lines in the usage text, or nullptr for none
  // What a missing value is called in the message ("--plugin needs a path"); nullptr: "a
  // value".
  const char* valueMissing = nullptr;
};
typedef std::vector<OptionSpec> OptionTable;

// The help lines of every option in the table, in its order.
std::string OptionHelp(const OptionTable& table);

struct ParsedArgs {
  std::map<std::string, std::string> values;  // by long name
  std::set<std::string> flags;                // long names
  std::vector<std::string> positional;
  bool Has(const std::string& longName) const {
    return flags.count(longName) != 0 || values.count(longName) != 0;
  }
};

// "--" ends the options, and "-" alone is positional (standard input or output); every
// other word that does not begin with '-' is positional, in order. With untilPositional
// (varel's own options, before the command) the first positional word and everything
// after it are positional. Prints the problem and returns false on an unknown option or a
// missing value; command is "" for varel's own options.
bool ParseArgs(const char* command, const std::vector<std::string>& args, const OptionTable& table,
               ParsedArgs* out, bool untilPositional = false);

// True when args hold --help, or -h unless shortHelp is false (list, where -h means
// human-readable sizes), after printing the usage: the command then returns kExitOk.
bool PrintedHelp(const std::vector<std::string>& args, const std::string& usage,
                 bool shortHelp = true);

// The options that say whether names match ignoring case, for the commands that take
// patterns or names.
extern const OptionSpec kIgnoreCaseOption;
extern const OptionSpec kCaseSensitiveOption;
// Whether names match ignoring case: by default on Windows, not on Linux, as each system's
// file names do. False with a message when both options are given.
bool ParseIgnoreCase(const char* command, const ParsedArgs& parsed, bool* ignoreCase);

// The option that sets the threads of pack and extract (each command has its own help
// line for it), and its value: one thread per
// core when it is not given; false (after saying why) unless it is a number from 1 to
// kMaxJobs.
extern const OptionSpec kJobsOption;
bool ParseJobs(const char* command, const ParsedArgs& parsed, unsigned* jobs);
