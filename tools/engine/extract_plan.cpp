#include "tools/engine/extract_plan.h"

#include <map>
#include <set>

#include "tools/util/format.h"

std::string JoinedName(const std::vector<std::string>& components) {
  return SafeName{components, {}}.Joined('/');
}

namespace {

// Gives every entry a safe path, noting what was changed and why.
std::vector<PlannedFile> SafePaths(const std::vector<EntryToPlan>& entries, NameRules rules,
                                   CEngineObserver* observer) {
  std::vector<PlannedFile> plan;
  // Each leading separator is said once, at the first entry that has it, as tar does: an
  // archive whose every name begins with '/' gets one line, not one per entry.
  std::set<char> leadingSaid;
  for (const EntryToPlan& e : entries) {
    SafeName safe = MakeSafeName(e.name, e.index, rules);
    if (safe.leadingSeparator != 0 && leadingSaid.insert(safe.leadingSeparator).second) {
      observer->Note(
          NoteKind::kRenamed, e.index,
          std::string("leading '") + safe.leadingSeparator + "' removed from entry names");
    }
    if (!safe.changes.empty()) {
      std::string why;
      for (const std::string& c : safe.changes) why += (why.empty() ? "" : ", ") + c;
      observer->Note(NoteKind::kRenamed, e.index,
                     Format("entry %zu ", e.index) + Quoted(e.name) + " written as " +
                         Quoted(safe.Joined('/')) + " (" + why + ")");
    }
    plan.push_back({e.index, safe.components, true});
  }
  return plan;
}

void SettleSharedNames(std::vector<PlannedFile>* plan, ExistingPolicy policy, NameRules rules,
                       CEngineObserver* observer) {
  std::set<std::string> folders;
  for (const PlannedFile& f : *plan) {
    std::string prefix;
    for (size_t c = 0; c + 1 < f.components.size(); ++c) {
      prefix += (c == 0 ? "" : "/") + f.components[c];
      folders.insert(FileKey(prefix, rules));
    }
  }
  std::map<std::string, size_t> files;  // key -> the position in plan of the first that has it
  // A name shared by many entries: where its next numbered form may be free. Names are only
  // ever taken, never given back, so the numbers an earlier entry of the same name found
  // taken stay taken; without this, n entries of one name would try n * n / 2 names.
  std::map<std::string, unsigned> nextNumber;
  for (size_t k = 0; k < plan->size(); ++k) {
    PlannedFile& f = (*plan)[k];
    const std::vector<std::string> original = f.components;
    const std::string originalName = JoinedName(original);
    unsigned n = 1;  // the name as it stands, then ~2, ~3, ...
    for (;;) {
      const std::string key = FileKey(JoinedName(f.components), rules);
      const bool taken =
          folders.count(key) != 0 || (policy == ExistingPolicy::kRefuse && files.count(key) != 0);
      if (!taken) {
        if (files.count(key) != 0) {
          PlannedFile& first = (*plan)[files[key]];
          observer->Note(NoteKind::kSharedName, f.index,
                         Format("entries %zu and %zu share the name ", first.index, f.index) +
                             Quoted(originalName) + "; " +
                             (policy == ExistingPolicy::kOverwrite ? "the later one is kept"
                                                                   : "the first one is kept"));
          first.ownTarget = false;
          f.ownTarget = false;
        }
        files.emplace(key, k);
        break;
      }
      if (n == 1) {
        const auto known = nextNumber.find(originalName);
        n = known != nextNumber.end() ? known->second : 2;
      } else {
        ++n;
      }
      f.components.back() = NumberedName(original.back(), n);
    }
    if (n > 1) nextNumber[originalName] = n + 1;
    if (f.components != original) {
      observer->Note(NoteKind::kRenamed, f.index,
                     Format("entry %zu ", f.index) + Quoted(originalName) +
                         " shares its name; written as " + Quoted(JoinedName(f.components)));
    }
  }
}

}  // namespace

std::vector<PlannedFile> PlanExtraction(const std::vector<EntryToPlan>& entries,
                                        ExistingPolicy policy, NameRules rules,
                                        CEngineObserver* observer) {
  std::vector<PlannedFile> plan = SafePaths(entries, rules, observer);
  SettleSharedNames(&plan, policy, rules, observer);
  return plan;
}
