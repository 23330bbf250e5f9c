#include "tools/engine/selection.h"

#include <cstdint>
#include <string>

#include "tools/plugin_host/name_pattern.h"

bool ParseEntryIndex(const std::string& text, size_t* index) {
  if (text.size() < 2 || text.size() > 11 || text[0] != '#' ||
      text.find_first_not_of("0123456789", 1) != std::string::npos) {
    return false;
  }
  // An index is a 32-bit count on every build (no archive holds more entries), so that
  // "#4294967296" is a name under a 64-bit varel as it is under a 32-bit one.
  const unsigned long long n = std::stoull(text.substr(1));
  if (n > UINT32_MAX) return false;
  *index = static_cast<size_t>(n);
  return true;
}

namespace {

// A pattern, and whether it selects an entry: by the whole name, or by a folder the entry
// lies in (the name up to one of its separators). A pattern that ends with a separator
// names only folders.
struct Selector {
  Selector(const std::string& pattern, bool ignoreCase)
      : folderOnly(!pattern.empty() && (pattern.back() == '/' || pattern.back() == '\\')),
        compiled(pattern.substr(0, pattern.find_last_not_of("/\\") + 1), ignoreCase) {}
  bool Selects(const std::string& name) const {
    if (!folderOnly && compiled.Matches(name)) return true;
    for (size_t i = 1; i < name.size(); ++i) {
      if ((name[i] == '/' || name[i] == '\\') && compiled.Matches(name.substr(0, i))) return true;
    }
    return false;
  }
  bool folderOnly;
  CNamePattern compiled;
};

}  // namespace

std::vector<size_t> SelectEntries(const CHostArchive& archive,
                                  const std::vector<std::string>& patterns, bool ignoreCase,
                                  std::vector<std::string>* unmatched) {
  std::vector<Selector> selectors;
  for (const std::string& p : patterns) selectors.emplace_back(p, ignoreCase);
  const size_t count = archive.entries().size();
  std::vector<bool> chosen(count, patterns.empty());
  std::vector<bool> used(patterns.size(), false);
  for (size_t i = 0; i < count; ++i) {
    for (size_t p = 0; p < selectors.size(); ++p) {
      if (selectors[p].Selects(archive.name(i).text)) chosen[i] = used[p] = true;
    }
  }
  for (size_t p = 0; p < patterns.size(); ++p) {
    // "#12" is an index unless it matched an entry's name.
    size_t index = 0;
    if (!used[p] && ParseEntryIndex(patterns[p], &index) && index < count) {
      chosen[index] = used[p] = true;
    }
    if (!used[p]) unmatched->push_back(patterns[p]);
  }
  std::vector<size_t> selected;
  for (size_t i = 0; i < count; ++i) {
    if (chosen[i]) selected.push_back(i);
  }
  return selected;
}
