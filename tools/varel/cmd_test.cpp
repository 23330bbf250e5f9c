// varel test: reads every selected entry and says what is damaged, as archivers' test
// commands do.
#include <string>
#include <vector>

#include "tools/engine/archive_test.h"
#include "tools/engine/selection.h"
#include "tools/os/console.h"
#include "tools/util/progress.h"
#include "tools/varel/commands.h"
#include "tools/varel/damage_report.h"
#include "tools/varel/options.h"
#include "tools/varel/report.h"

namespace {

const char kTestIntro[] =
    "usage: varel test ARCHIVE [PATTERN...] [-q] [-v] [-j N] [--json]\n"
    "                  [--ignore-case|--case-sensitive]\n"
    "\n"
    "Reads every entry of ARCHIVE ('-': standard input), or those the PATTERNs select as in\n"
    "'varel extract', through the plug-in as extract does, and checks each one strictly:\n"
    "its record and stored bytes against the file; PSARC: each block a whole zlib stream\n"
    "with its checksum, making exactly its plain bytes, and each name the one its digest\n"
    "stands for; PKG: each LZ stream making exactly its plain size from exactly its stored\n"
    "bytes. Prints the damaged entries with their faults, then a summary. Exit status 0\n"
    "when nothing is damaged, 1 when anything is.\n"
    "\n";

const OptionTable kTestOptions = {
    {"-q", "--quiet", false,
     "  -q, --quiet        print nothing: the exit status says (errors stay)\n"},
    {"-v", "--verbose", false,
     "  -v, --verbose      every entry, OK or with its faults, and notes\n"},
    {"-j", "--jobs", true,
     "  -j, --jobs N       test on N threads (default: one per core); the output is the\n"
     "                     same for every N\n"},
    {nullptr, "--json", false,
     "  --json             JSON Lines: one object per entry tested, on a line of its own\n"
     "                     (index, name, ok, faults, notes), in UTF-8\n"},
    {"-h", "--help", false, "  -h, --help         this text\n"},
    kIgnoreCaseOption,
    kCaseSensitiveOption,
};

std::string TestUsage() { return kTestIntro + OptionHelp(kTestOptions); }

enum class Style { kQuiet, kFaulty, kVerbose, kJson };

struct TestRequest {
  std::string archive;
  std::vector<std::string> patterns;
  unsigned jobs = 1;
  Style style = Style::kFaulty;
  bool ignoreCase = false;
};

bool ParseTest(const std::vector<std::string>& args, TestRequest* request) {
  ParsedArgs parsed;
  if (!ParseArgs("test", args, kTestOptions, &parsed) ||
      !ParseIgnoreCase("test", parsed, &request->ignoreCase) ||
      !ParseJobs("test", parsed, &request->jobs)) {
    return false;
  }
  if (parsed.positional.empty()) {
    Report("test", "name an archive\n" + TestUsage());
    return false;
  }
  if (parsed.Has("--json") && parsed.Has("--quiet")) {
    Report("test", "--json and --quiet exclude each other");
    return false;
  }
  request->style = parsed.Has("--json")      ? Style::kJson
                   : parsed.Has("--quiet")   ? Style::kQuiet
                   : parsed.Has("--verbose") ? Style::kVerbose
                                             : Style::kFaulty;
  request->archive = parsed.positional[0];
  request->patterns.assign(parsed.positional.begin() + 1, parsed.positional.end());
  return true;
}

class CTestProgress : public CEngineObserver {
 public:
  explicit CTestProgress(CProgress* progress) : progress_(progress) {}
  void Note(NoteKind, size_t, const std::string&) override {}
  void Progress(size_t entriesDone, uint64_t bytesDone) override {
    progress_->Update(entriesDone, bytesDone);
  }

 private:
  CProgress* progress_;
};

std::string JsonFindings(const std::vector<TestFinding>& findings, bool notes) {
  std::string out = "[";
  for (const TestFinding& f : findings) {
    if (f.note != notes) continue;
    if (out.size() > 1) out += ", ";
    out += "{\"kind\": " + JsonString(f.kind) + ", \"message\": " + JsonString(f.message) + "}";
  }
  return out + "]";
}

// What is printed of each entry, in entry order, and what the summary counts.
class CTestOutput {
 public:
  CTestOutput(const CHostArchive& archive, Style style, size_t lastIndex)
      : archive_(archive), style_(style), indexWidth_(std::to_string(lastIndex).size()) {}

  void ArchiveFaults(const std::vector<TestFinding>& faults) {
    archiveFaults_ = faults.size();
    if (faults.empty() || style_ == Style::kQuiet) return;
    if (style_ == Style::kJson) {
      Print("{\"index\": null, \"name\": null, \"ok\": false, \"faults\": " +
            JsonFindings(faults, false) + ", \"notes\": []}\n");
      return;
    }
    std::string out;
    for (const TestFinding& f : faults) out += "archive: " + f.kind + ": " + f.message + "\n";
    Print(out);
  }

  void Entry(const TestedEntry& e) {
    ++tested_;
    bytes_ += archive_.entries()[e.index].size;
    const bool ok = e.ok();
    if (!ok) ++damaged_;
    if (ok && !e.findings.empty()) ++noted_;
    // A lost record's name is the zeros read in its place, not the archive's.
    const std::string name =
        RecordLost(archive_.damage(e.index)) ? std::string() : archive_.name(e.index).text;
    switch (style_) {
      case Style::kQuiet: return;
      case Style::kJson:
        Print("{\"index\": " + std::to_string(e.index) + ", \"name\": " + JsonString(name) +
              ", \"ok\": " + (ok ? "true" : "false") +
              ", \"faults\": " + JsonFindings(e.findings, false) +
              ", \"notes\": " + JsonFindings(e.findings, true) + "}\n");
        return;
      case Style::kFaulty:
        if (ok) return;
        break;
      case Style::kVerbose: break;
    }
    // "FAULT   7  name", the name last, then each finding on a line of its own.
    const std::string index = std::to_string(e.index);
    std::string out = (ok ? "OK     " : "FAULT  ") + std::string(indexWidth_ - index.size(), ' ') +
                      index + "  " + PrintableName(name) + "\n";
    for (const TestFinding& f : e.findings) {
      if (f.note && style_ != Style::kVerbose) continue;
      out += std::string(f.note ? "  note " : "  ") + f.kind + ": " + f.message + "\n";
    }
    Print(out);
  }

  void Summary() {
    if (style_ == Style::kQuiet || style_ == Style::kJson) return;
    std::string out = Format("tested %zu %s (%s)", tested_, tested_ == 1 ? "entry" : "entries",
                             FormatBytes(bytes_).c_str());
    if (damaged_ == 0 && archiveFaults_ == 0) {
      out += ": all OK";
    } else {
      out += Format(": %zu damaged", damaged_);
      if (archiveFaults_ != 0) {
        out += Format(", and %zu %s of the archive itself", archiveFaults_,
                      archiveFaults_ == 1 ? "fault" : "faults");
      }
    }
    if (noted_ != 0 && style_ != Style::kVerbose) {
      out += Format(" (%zu OK with notes: -v shows them)", noted_);
    }
    Print(out + "\n");
  }

  bool failed() const { return damaged_ != 0 || archiveFaults_ != 0; }

 private:
  const CHostArchive& archive_;
  const Style style_;
  const size_t indexWidth_;
  size_t tested_ = 0;
  size_t damaged_ = 0;
  size_t noted_ = 0;
  size_t archiveFaults_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace

int RunTest(const Options& options, const std::vector<std::string>& args) {
  if (PrintedHelp(args, TestUsage())) return kExitOk;
  TestRequest request;
  if (!ParseTest(args, &request)) return kExitUsage;
  CPluginModule module;
  CHostArchive archive;
  if (!OpenArchive("test", options, request.archive, &module, &archive)) return kExitFailed;
  int status = kExitOk;
  std::vector<std::string> unmatched;
  const std::vector<size_t> selected =
      SelectEntries(archive, request.patterns, request.ignoreCase, &unmatched);
  for (const std::string& p : unmatched) {
    Report("test", request.archive + ": no entry matches " + Quoted(p));
    status = kExitFailed;
  }
  if (request.style != Style::kQuiet) ReportCutNames("test", &archive, selected);
  uint64_t bytesTotal = 0;
  for (size_t i : selected) bytesTotal += archive.entries()[i].size;
  CProgress progress(IsTerminal(stderr) && request.style != Style::kQuiet, selected.size(),
                     bytesTotal);
  CTestProgress observer(&progress);
  CTestOutput output(archive, request.style, selected.empty() ? 0 : selected.back());
  // The archive's own faults are known before any entry's, and printed first.
  std::vector<TestFinding> archiveFaults;
  bool archiveShown = false;
  const auto showArchive = [&] {
    if (!archiveShown) output.ArchiveFaults(archiveFaults);
    archiveShown = true;
  };
  TestArchive(
      archive, selected, request.jobs, &archiveFaults,
      [&](const TestedEntry& e) {
        showArchive();
        output.Entry(e);
      },
      &observer);
  showArchive();
  progress.Finish();
  output.Summary();
  return output.failed() ? kExitFailed : status;
}
