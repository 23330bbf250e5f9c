// Which entries of an archive a command works on: by patterns (shell-style globs on the
// whole name, or a folder's name for all under it) and by "#N" indexes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/plugin_host/host_archive.h"

// The index "#N" names, as 'varel list' numbers the entries (#0 is the first); false when
// text is not of that form.
bool ParseEntryIndex(const std::string& text, size_t* index);

// The indexes of the entries that any of the patterns selects (all entries when there are
// none), in archive order; patterns that selected nothing go to unmatched. A pattern
// selects the entries whose names it matches, and every entry under a folder it matches
// ("docs" and "docs/" select docs/...); "#N" selects entry N, unless it matched a name.
std::vector<size_t> SelectEntries(const CHostArchive& archive,
                                  const std::vector<std::string>& patterns, bool ignoreCase,
                                  std::vector<std::string>* unmatched);
