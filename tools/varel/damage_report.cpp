#include "tools/varel/damage_report.h"

#include "tools/varel/report.h"

namespace {

// The indexes a note lists by number before it says how many more there are.
constexpr size_t kListedIndexes = 8;

}  // namespace

size_t ReportDamage(const std::string& command, const CHostArchive& archive,
                    const std::vector<size_t>& selected, const std::string& suffix) {
  const size_t count = archive.entries().size();
  std::vector<bool> chosen(count, false);
  for (size_t i : selected) chosen[i] = true;
  const auto reported = [&](size_t i) {
    const EntryDamage d = archive.damage(i);
    return d != EntryDamage::kWhole && (chosen[i] || RecordLost(d));
  };
  size_t total = 0;
  for (size_t i = 0; i < count;) {
    if (!reported(i)) {
      ++i;
      continue;
    }
    const EntryDamage d = archive.damage(i);
    size_t end = i + 1;
    while (end < count && reported(end) && archive.damage(end) == d) ++end;
    const std::string why = DamageReason(d, archive.fileSize()) + suffix;
    if (end - i >= kSummarisedRun) {
      Report(command, archive.path() + Format(": entries %zu-%zu: ", i, end - 1) + why);
    } else {
      for (size_t k = i; k < end; ++k) {
        // A lost record's name is no name the archive gave.
        const std::string name = RecordLost(d) ? "" : " " + Quoted(archive.name(k).text);
        Report(command, archive.path() + Format(": entry %zu", k) + name + ": " + why);
      }
    }
    total += end - i;
    i = end;
  }
  return total;
}

std::vector<size_t> WithoutDamaged(const CHostArchive& archive, const std::vector<size_t>& selected,
                                   bool lostRecordsOnly) {
  std::vector<size_t> kept;
  for (size_t i : selected) {
    const EntryDamage d = archive.damage(i);
    if (lostRecordsOnly ? !RecordLost(d) : d == EntryDamage::kWhole) kept.push_back(i);
  }
  return kept;
}

void ReportCutNames(const std::string& command, CHostArchive* archive,
                    const std::vector<size_t>& selected) {
  const std::vector<size_t> cut = CutNames(archive, selected);
  if (cut.empty()) return;
  std::string which;
  for (size_t k = 0; k < cut.size() && k < kListedIndexes; ++k) {
    which += (k == 0 ? "" : ", ") + std::to_string(cut[k]);
  }
  if (cut.size() > kListedIndexes) which += Format(" and %zu more", cut.size() - kListedIndexes);
  Report(command, archive->path() + Format(": %zu %s cut to the 255 bytes a listing holds (%s %s)",
                                           cut.size(), cut.size() == 1 ? "name was" : "names were",
                                           cut.size() == 1 ? "entry" : "entries", which.c_str()));
}
