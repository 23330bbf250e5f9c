// Extraction of a plan (extract_plan.h) into files under a folder, on several threads: the
// engine behind 'varel extract'. It reports through an observer and prints nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/engine/extract_plan.h"
#include "tools/engine/observer.h"
#include "tools/plugin_host/host_archive.h"

struct ExtractSettings {
  std::string root;  // the output folder, made already
  ExistingPolicy policy = ExistingPolicy::kRefuse;
  unsigned jobs = 1;
};

struct ExtractTally {
  size_t written = 0;
  size_t skipped = 0;
  uint64_t bytesWritten = 0;
  bool failed = false;
  bool stopped = false;  // the output could not be written at all
};

// Writes every planned file, in plan order as far as anyone can see: each file is read,
// decoded and written under a temporary name on any of settings.jobs threads, then moved
// into place and noted on the calling thread in plan order, so that files, names and notes
// are the same for every number of jobs. A file that cannot be written (what stands at its
// target, a damaged or unreadable entry) is noted (kProblem, kSkipped) and the run goes
// on; output that cannot be written at all stops it (tally.stopped).
ExtractTally ExtractToDisk(const CHostArchive& archive, const ExtractSettings& settings,
                           const std::vector<PlannedFile>& plan, CEngineObserver* observer);
