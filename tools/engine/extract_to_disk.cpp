#include "tools/engine/extract_to_disk.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "tools/os/files.h"
#include "tools/util/format.h"
#include "tools/util/ordered_pool.h"

namespace {

// Makes the folders above a planned file inside root. On Linux a symbolic link already
// standing in the tree is never followed: it could lead out of root. made holds the folders
// this run has made or found standing, which are not looked at again.
bool MakeParents(const std::string& root, const PlannedFile& f, std::set<std::string>* made,
                 std::string* folder, std::string* error) {
  *folder = root;
  for (size_t c = 0; c + 1 < f.components.size(); ++c) {
    *folder = JoinPath(*folder, f.components[c]);
    if (made->count(*folder) != 0) continue;
    if (IsSymbolicLink(*folder)) {
      *error = *folder + ": is a symbolic link; not followed";
      return false;
    }
    if (!MakeFolder(*folder, error)) return false;
    made->insert(*folder);
  }
  return true;
}

enum class Outcome { kWritten, kSkipped, kFailed, kStop };

// What what stands at target means: write, skip, or refuse.
Outcome TargetOutcome(const std::string& target, ExistingPolicy policy) {
  const PathKind existing = GetPathKind(target);
  if (existing == PathKind::kMissing && !IsSymbolicLink(target)) return Outcome::kWritten;
  if (existing == PathKind::kFolder || existing == PathKind::kOther) return Outcome::kFailed;
  if (policy == ExistingPolicy::kSkip) return Outcome::kSkipped;
  if (policy == ExistingPolicy::kRefuse) return Outcome::kFailed;
  return Outcome::kWritten;
}

// The same, saying why a file is not written.
Outcome CheckTarget(const std::string& target, size_t index, ExistingPolicy policy,
                    CEngineObserver* observer) {
  const Outcome outcome = TargetOutcome(target, policy);
  if (outcome == Outcome::kWritten) return outcome;
  const PathKind existing = GetPathKind(target);
  if (existing == PathKind::kFolder || existing == PathKind::kOther) {
    observer->Note(NoteKind::kProblem, index,
                   target + Format(": exists and is not a file; entry %zu not written", index));
  } else if (outcome == Outcome::kSkipped) {
    observer->Note(NoteKind::kSkipped, index, target + ": exists; skipped");
  } else {
    observer->Note(NoteKind::kProblem, index,
                   target + ": exists (use --overwrite or --skip-existing)");
  }
  return outcome;
}

// One planned file's contents written under a temporary name in its folder, to be moved
// into place (or dropped) later, in plan order. Staging runs on any thread: it touches only
// its own piece and file.
struct StagedFile {
  std::string folder;  // made before the file is staged
  COutputFile out;
  uint64_t size = 0;
  bool extracted = false;    // the piece delivered its contents
  bool writeFailed = false;  // the temporary file could not be written
  std::string error;         // why not, when either is false

  void Stage(CEntryPiece* piece, const std::string& name) {
    // A failure inside the sink is a write failure; any other is the entry's own.
    extracted = piece->Deliver(
        [&](const uint8_t* data, size_t n, std::string* sinkError) {
          writeFailed = !out.Open(folder, name, sinkError) || !out.Write(data, n, sinkError) ||
                        !out.FinishWriting(sinkError);
          size = n;
          return !writeFailed;
        },
        &error);
  }
};

// What the tasks of one extraction share.
struct ExtractShared {
  const CHostArchive* archive;
  ExistingPolicy policy;
};

// One planned file on its way out. Made on the main thread in plan order, its folders made
// first (staging); Run, on a pool thread, looks at its target and, when the file is to be
// written, reads the entry's stored bytes, decodes them through the plug-in and stages the
// contents; ExtractFile, on the main thread in plan order, writes it.
class CExtractTask : public CPoolTask {
 public:
  CExtractTask(const ExtractShared& shared, const PlannedFile& file, size_t position)
      : position(position), shared_(shared), file_(file) {}

  void Run() override {
    if (!staging) return;
    found = TargetOutcome(JoinPath(staged.folder, file_.components.back()), shared_.policy);
    // A target that is taken now is most likely not written: the entry is left unread,
    // and read when its turn writes it after all.
    if (found != Outcome::kWritten) return;
    shared_.archive->Read(file_.index, &piece);
    piece.Decode();
    staged.Stage(&piece, file_.components.back());
  }
  bool wasStaged() const { return staging && found == Outcome::kWritten; }

  const size_t position;  // in the plan
  bool staging = false;   // its folders made: Run is to look at it
  Outcome found = Outcome::kWritten;
  CEntryPiece piece;
  StagedFile staged;

 private:
  // A copy: a task still running when a stopped extraction ends outlives ExtractToDisk's
  // locals until the pool's threads are joined.
  const ExtractShared shared_;
  const PlannedFile& file_;
};

// Writes one planned file in its turn: moves its staged contents into place, or, when it
// was not staged, reads, decodes and writes it here. kStop when the output cannot be
// written at all.
Outcome ExtractFile(const CHostArchive& archive, const ExtractSettings& settings,
                    const PlannedFile& f, std::set<std::string>* made, CExtractTask* task,
                    std::string* target, uint64_t* size, CEngineObserver* observer) {
  StagedFile* staged = &task->staged;
  const bool wasStaged = task->wasStaged();
  std::string error;
  if (!task->staging && !MakeParents(settings.root, f, made, &staged->folder, &error)) {
    observer->Note(NoteKind::kProblem, f.index, error);
    return Outcome::kFailed;
  }
  *target = JoinPath(staged->folder, f.components.back());
  // A target other planned files share is looked at again now that those before it are
  // written; what Run found at a target of the file's own stands (a file another program
  // makes there meanwhile is refused by the move, or replaced with --overwrite). A staged
  // file that is not written goes with `staged`.
  if (!wasStaged || !f.ownTarget) {
    const Outcome check = CheckTarget(*target, f.index, settings.policy, observer);
    if (check != Outcome::kWritten) return check;
  }
  if (!wasStaged) {
    if (!task->piece.read()) {
      archive.Read(f.index, &task->piece);
      task->piece.Decode();
    }
    staged->Stage(&task->piece, f.components.back());
  }
  *size = staged->size;
  if (staged->extracted && !staged->writeFailed &&
      !staged->out.Commit(settings.policy == ExistingPolicy::kOverwrite, &staged->error)) {
    staged->writeFailed = true;
  }
  if (!staged->extracted || staged->writeFailed) {
    observer->Note(NoteKind::kProblem, f.index, staged->error);
  }
  return staged->writeFailed ? Outcome::kStop
         : staged->extracted ? Outcome::kWritten
                             : Outcome::kFailed;
}

// Extraction on several threads. The main thread makes each entry's folders in plan order;
// a pool thread looks at its target, reads its stored bytes, decodes them through the
// plug-in and writes the contents under a temporary name in its folder; the main thread
// then, again in plan order, moves the file into place and says everything there is to
// say, so that files, names and messages are the same for every number of jobs.
//
// An entry holds memory only while its task runs: then its temporary file holds its
// contents. The window of entries handed out and not yet moved into place is wide
// (kExtractWindowPerJob per job), so that a thread that is done with small entries finds
// more while the oldest, a large one, is still being decoded; the largest waiting entries
// are started first, so that one does not finish alone at the end. Entries being decoded
// hold at most kExtractBytesPerJob per job of stored and plain bytes, kExtractBudget in all,
// except that an entry larger than that runs alone: memory stays within max(the budget, the
// largest entry's packed + plain bytes), the latter being what extracting that entry on one
// thread needs anyway.
constexpr size_t kExtractWindowPerJob = 32;
constexpr uint64_t kExtractBytesPerJob = uint64_t{32} << 20;
constexpr uint64_t kExtractBudget = uint64_t{256} << 20;

}  // namespace

ExtractTally ExtractToDisk(const CHostArchive& archive, const ExtractSettings& settings,
                           const std::vector<PlannedFile>& plan, CEngineObserver* observer) {
  uint64_t bytesDone = 0;
  ExtractTally tally;
  std::set<std::string> made;  // folders, made on this thread only
  const auto consume = [&](CPoolTask& done) {
    CExtractTask& task = static_cast<CExtractTask&>(done);
    const PlannedFile& f = plan[task.position];
    observer->Progress(task.position, bytesDone);
    bytesDone += archive.entries()[f.index].size;
    if (task.failed) {
      observer->Note(NoteKind::kProblem, f.index,
                     archive.path() + Format(": entry %zu: not enough memory", f.index));
      tally.failed = true;
      return true;
    }
    std::string target;
    uint64_t size = 0;
    switch (ExtractFile(archive, settings, f, &made, &task, &target, &size, observer)) {
      case Outcome::kWritten:
        ++tally.written;
        tally.bytesWritten += size;
        observer->Note(NoteKind::kWritten, f.index, target);
        break;
      case Outcome::kSkipped: ++tally.skipped; break;
      case Outcome::kFailed: tally.failed = true; break;
      case Outcome::kStop: tally.stopped = true; return false;
    }
    return true;
  };
  const uint64_t budget =
      std::min<uint64_t>(kExtractBudget, kExtractBytesPerJob * std::max(settings.jobs, 1u));
  const size_t window = kExtractWindowPerJob * std::max(settings.jobs, 1u);
  COrderedPool pipeline(settings.jobs, window, consume, budget, CostHeld::kWhileRunning);
  const ExtractShared shared = {&archive, settings.policy};
  for (size_t k = 0; k < plan.size(); ++k) {
    const PlannedFile& f = plan[k];
    std::unique_ptr<CExtractTask> task(new CExtractTask(shared, f, k));
    uint64_t cost = 0;
    // An entry whose folders cannot be made is left to its turn, which reports it.
    std::string ignored;
    if (MakeParents(settings.root, f, &made, &task->staged.folder, &ignored)) {
      cost = CEntryPiece::Cost(archive.entries()[f.index]);
      task->staging = true;
    }
    if (!pipeline.Push(std::move(task), cost)) break;
  }
  pipeline.Finish();
  return tally;
}
