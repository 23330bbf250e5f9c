// The test of an archive's integrity: the engine behind 'varel test'. Each selected entry
// is checked twice over: strictly, by the archive check (tools/check), which reads the
// file itself and stops at the first fault, and through the plug-in, exactly as extract
// gets its contents, so that the host's path is exercised too. It reports through a
// callback and an observer and prints nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/engine/observer.h"
#include "tools/plugin_host/host_archive.h"

// One thing found: a fault, or a note (what a reader may want to know, not damage).
struct TestFinding {
  std::string kind;     // a short word for machines: "block", "lz-stream", "plugin", ...
  std::string message;  // a phrase that follows "entry 7: "
  bool note = false;
};

struct TestedEntry {
  size_t index = 0;                   // as list -v numbers the entries
  std::vector<TestFinding> findings;  // faults first, in the order found, then notes
  bool ok() const;
};

// Tests the entries `selected` (indexes into archive.entries(), in archive order) on `jobs`
// threads, and hands each result to `tested` on the calling thread in the order of
// selected, so that what is reported is the same for every number of jobs. The
// archive's own faults (its tables, the PSARC name list) go to archiveFaults first.
//
// How the two checks combine: every fault of the strict check is a fault; an entry whose
// record or stored bytes the strict check already finds outside the file is not read
// through the plug-in (nothing more can be learnt there, and the reason is said once);
// every other entry is extracted through the plug-in, and a failure there (its result
// code, or no contents) is a fault of kind "plugin". Records that the host's own check of
// the listing (archive_damage.h) finds damaged are faults too, said in the host's words,
// unless the strict check has said it of that entry already.
void TestArchive(const CHostArchive& archive, const std::vector<size_t>& selected, unsigned jobs,
                 std::vector<TestFinding>* archiveFaults,
                 const std::function<void(const TestedEntry&)>& tested, CEngineObserver* observer);
