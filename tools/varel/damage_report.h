// What list, extract and cat say of a damaged archive (archive_damage.h): on stderr, one
// line per damaged entry, or one line for a run of entries damaged alike.
#pragma once

#include <string>
#include <vector>

#include "tools/plugin_host/host_archive.h"

// Reports the damaged entries among `selected`, and every entry whose record is lost
// (whatever the patterns: it has no name they could have chosen it by), in archive order,
// each line ending with suffix. kSummarisedRun or more consecutive entries damaged alike
// share one line ("entries 6-299: ..."). Returns how many entries were reported.
constexpr size_t kSummarisedRun = 3;
size_t ReportDamage(const std::string& command, const CHostArchive& archive,
                    const std::vector<size_t>& selected, const std::string& suffix);

// selected without the damaged entries (all: extract), or without those whose record is
// lost (list shows the others as their records stand).
std::vector<size_t> WithoutDamaged(const CHostArchive& archive, const std::vector<size_t>& selected,
                                   bool lostRecordsOnly);

// Says once how many of the selected names the listing cut (CutNames), and which.
void ReportCutNames(const std::string& command, CHostArchive* archive,
                    const std::vector<size_t>& selected);
