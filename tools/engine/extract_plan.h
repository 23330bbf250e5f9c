// Where each selected entry goes: names in, a plan out. Nothing here touches the disk, so
// every rule (safe names, names two entries share, names equal but for case under Windows'
// rules) is testable without files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/engine/observer.h"
#include "tools/plugin_host/entry_names.h"

enum class ExistingPolicy { kRefuse, kOverwrite, kSkip };

struct PlannedFile {
  size_t index;                         // in the archive
  std::vector<std::string> components;  // relative to the output folder
  // No other planned file has this one's target: what is found there before the file is
  // written stands when its turn comes.
  bool ownTarget = true;
};

// An entry to plan: its index in the archive and its name as read.
struct EntryToPlan {
  size_t index;
  std::string name;
};

// Gives every entry a safe path (MakeSafeName), then settles names that two entries share
// (for Windows' rules, names equal but for case): by default the later ones get a numbered
// name; with kOverwrite or kSkip the existing-file rule decides between them, and the files
// that share a target are marked so. A file never takes a path that another entry needs
// as a folder. Every change is noted (kRenamed, kSharedName), in entry order; a leading
// '/' (or '\\') once, at the first entry that has it, for all of them.
std::vector<PlannedFile> PlanExtraction(const std::vector<EntryToPlan>& entries,
                                        ExistingPolicy policy, NameRules rules,
                                        CEngineObserver* observer);

// The planned path, '/' separated.
std::string JoinedName(const std::vector<std::string>& components);
