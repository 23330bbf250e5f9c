#include "tools/engine/archive_test.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "tools/check/archive_check.h"
#include "tools/util/format.h"
#include "tools/util/ordered_pool.h"

bool TestedEntry::ok() const {
  for (const TestFinding& f : findings) {
    if (!f.note) return false;
  }
  return true;
}

namespace {

TestFinding FindingOf(const CheckFault& f) {
  return {CheckFaultKindName(f.kind), f.message, IsCheckNote(f.kind)};
}

// True for the faults that say the entry's record or stored bytes are not in the file
// whole: reading it through the plug-in would only say so again.
bool LocatesOutsideTheFile(CheckFaultKind kind) {
  return kind == CheckFaultKind::kRecord || kind == CheckFaultKind::kStoredBytes ||
         kind == CheckFaultKind::kRead;
}

// The stored bytes of the entry a thread is testing, read once for the plug-in: the strict
// check's reads that fall inside them are served from there, not from the file again.
struct StoredWindow {
  uint64_t offset = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};
thread_local StoredWindow t_window;

bool ReadArchive(const CFileReader& reader, uint64_t offset, void* buffer, size_t size) {
  const StoredWindow& w = t_window;
  if (w.size != 0 && offset >= w.offset && offset - w.offset <= w.size &&
      size <= w.size - (offset - w.offset)) {
    if (size != 0) std::memcpy(buffer, w.data + (offset - w.offset), size);
    return true;
  }
  size_t got = 0;
  std::string ignored;  // a short or failed read is the check's fault to report
  return reader.ReadAt(offset, static_cast<uint8_t*>(buffer), size, &got, &ignored) && got == size;
}

// The checkers of one run: one per task while it runs (a checker holds buffers and a zlib
// state that one thread at a time may use), kept for the next task when it is done.
class CCheckerShelf {
 public:
  explicit CCheckerShelf(const CArchiveCheck& check) : check_(check) {}
  std::unique_ptr<CEntryChecker> Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<CEntryChecker> c = std::move(free_.back());
        free_.pop_back();
        return c;
      }
    }
    return std::unique_ptr<CEntryChecker>(new CEntryChecker(check_));
  }
  void Give(std::unique_ptr<CEntryChecker> checker) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(checker));
  }

 private:
  const CArchiveCheck& check_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<CEntryChecker>> free_;
};

struct TestShared {
  const CHostArchive* archive;
  const CArchiveCheck* check;  // nullptr when the strict check could not open the file
  CCheckerShelf* shelf;
};

// One entry: checked strictly, then extracted through the plug-in, on a pool thread.
class CTestTask : public CPoolTask {
 public:
  CTestTask(const TestShared& shared, size_t index, size_t position)
      : position(position), shared_(shared) {
    result.index = index;
  }

  void Run() override {
    const size_t i = result.index;
    const EntryDamage damage = shared_.archive->damage(i);
    // Exactly as extract gets an entry: its stored bytes read by the host, then decoded by
    // the plug-in. The strict check reads what it needs of them from the same bytes.
    CEntryPiece piece;
    if (damage == EntryDamage::kWhole) shared_.archive->Read(i, &piece);
    std::vector<TestFinding> notes;
    bool outside = false;
    if (shared_.check != nullptr) {
      t_window.data = piece.stored(&t_window.size, &t_window.offset);
      std::unique_ptr<CEntryChecker> checker = shared_.shelf->Take();
      const EntryCheck strict = checker->Check(static_cast<uint32_t>(i));
      shared_.shelf->Give(std::move(checker));
      t_window = StoredWindow();
      for (const CheckFault& f : strict.faults) {
        (IsCheckNote(f.kind) ? notes : result.findings).push_back(FindingOf(f));
        if (LocatesOutsideTheFile(f.kind)) outside = true;
      }
    }
    if (damage != EntryDamage::kWhole && !outside) {
      result.findings.push_back({RecordLost(damage) ? "record" : "stored-bytes",
                                 DamageReason(damage, shared_.archive->fileSize()), false});
      outside = true;
    }
    if (!outside) {
      piece.Decode();
      std::string error;
      if (!piece.Deliver([](const uint8_t*, size_t, std::string*) { return true; }, &error)) {
        // The piece's error begins with where it is ("ARCHIVE: entry N (NAME): "); the
        // report says that already.
        const size_t at = error.rfind("): ");
        result.findings.push_back(
            {"plugin", at == std::string::npos ? error : error.substr(at + 3), false});
      }
    }
    result.findings.insert(result.findings.end(), notes.begin(), notes.end());
  }

  const size_t position;
  TestedEntry result;

 private:
  const TestShared shared_;
};

// As extract: each job holds at most 32 MiB of stored and plain bytes, 256 MiB in all,
// or one larger entry alone; a wide window keeps every thread busy past a large entry.
constexpr size_t kTestWindowPerJob = 32;
constexpr uint64_t kTestBytesPerJob = uint64_t{32} << 20;
constexpr uint64_t kTestBudget = uint64_t{256} << 20;

}  // namespace

void TestArchive(const CHostArchive& archive, const std::vector<size_t>& selected, unsigned jobs,
                 std::vector<TestFinding>* archiveFaults,
                 const std::function<void(const TestedEntry&)>& tested, CEngineObserver* observer) {
  const CFileReader& reader = archive.reader();
  CArchiveCheck check;
  const bool opened =
      check.Open([&reader](uint64_t offset, void* buffer,
                           size_t size) { return ReadArchive(reader, offset, buffer, size); },
                 archive.fileSize());
  if (!opened || check.type() != archive.type()) {
    archiveFaults->push_back(
        {"tables", "the strict check does not take it for the archive the plug-in lists", false});
  } else {
    for (const CheckFault& f : check.faults()) archiveFaults->push_back(FindingOf(f));
  }
  CCheckerShelf shelf(check);
  const TestShared shared = {&archive, opened && check.type() == archive.type() ? &check : nullptr,
                             &shelf};
  uint64_t bytesDone = 0;
  const auto consume = [&](CPoolTask& done) {
    CTestTask& task = static_cast<CTestTask&>(done);
    observer->Progress(task.position, bytesDone);
    bytesDone += archive.entries()[task.result.index].size;
    if (task.failed) {
      task.result.findings.insert(task.result.findings.begin(),
                                  {"no-memory", "not enough memory to test it", false});
    }
    tested(task.result);
    return true;
  };
  const unsigned n = std::max(jobs, 1u);
  COrderedPool pool(n, kTestWindowPerJob * n, consume, std::min(kTestBudget, kTestBytesPerJob * n),
                    CostHeld::kWhileRunning);
  for (size_t k = 0; k < selected.size(); ++k) {
    const size_t i = selected[k];
    std::unique_ptr<CTestTask> task(new CTestTask(shared, i, k));
    // An entry whose record is damaged is not read through the plug-in: it holds nothing.
    const uint64_t cost =
        archive.damage(i) == EntryDamage::kWhole ? CEntryPiece::Cost(archive.entries()[i]) : 0;
    if (!pool.Push(std::move(task), cost)) break;
  }
  pool.Finish();
  observer->Progress(selected.size(), bytesDone);
}
