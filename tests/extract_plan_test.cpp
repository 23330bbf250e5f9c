// The extraction plan: names in, paths and notes out, no disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/engine/extract_plan.h"

namespace {

struct Collected : CEngineObserver {
  void Note(NoteKind kind, size_t index, const std::string& text) override {
    notes.push_back({kind, index, text});
  }
  struct Entry {
    NoteKind kind;
    size_t index;
    std::string text;
  };
  std::vector<Entry> notes;
};

struct PlanCase {
  const char* what;
  std::vector<std::string> names;  // entries 0, 1, ...
  ExistingPolicy policy;
  NameRules rules;
  std::vector<std::string> paths;  // planned, '/' separated, in entry order
  std::vector<bool> ownTargets;
  std::vector<std::string> notes;  // the notes' texts, in order
};

TEST(ExtractPlan, NamesInPlanOut) {
  const auto K = ExistingPolicy::kRefuse;
  const auto O = ExistingPolicy::kOverwrite;
  const auto S = ExistingPolicy::kSkip;
  const auto P = NameRules::kPosix;
  const auto W = NameRules::kWindows;
  const PlanCase cases[] = {
      {"plain names stay", {"a.txt", "d/b.txt"}, K, P, {"a.txt", "d/b.txt"}, {true, true}, {}},
      {"a shared name is numbered",
       {"a.txt", "a.txt", "a.txt"},
       K,
       P,
       {"a.txt", "a~2.txt", "a~3.txt"},
       {true, true, true},
       {"entry 1 'a.txt' shares its name; written as 'a~2.txt'",
        "entry 2 'a.txt' shares its name; written as 'a~3.txt'"}},
      {"a numbered name an entry holds is passed over, before and after it is taken",
       {"a.txt", "a~3.txt", "a.txt", "a.txt", "a~5.txt", "a.txt"},
       K,
       P,
       {"a.txt", "a~3.txt", "a~2.txt", "a~4.txt", "a~5.txt", "a~6.txt"},
       {true, true, true, true, true, true},
       {"entry 2 'a.txt' shares its name; written as 'a~2.txt'",
        "entry 3 'a.txt' shares its name; written as 'a~4.txt'",
        "entry 5 'a.txt' shares its name; written as 'a~6.txt'"}},
      {"with --overwrite the later one is kept",
       {"a.txt", "a.txt"},
       O,
       P,
       {"a.txt", "a.txt"},
       {false, false},
       {"entries 0 and 1 share the name 'a.txt'; the later one is kept"}},
      {"with --skip-existing the first one is kept",
       {"a.txt", "a.txt"},
       S,
       P,
       {"a.txt", "a.txt"},
       {false, false},
       {"entries 0 and 1 share the name 'a.txt'; the first one is kept"}},
      {"names equal but for case are one under Windows' rules",
       {"\xC8\x98t.txt", "\xC8\x99t.txt"},
       K,
       W,
       {"\xC8\x98t.txt", "\xC8\x99t~2.txt"},
       {true, true},
       {"entry 1 '\xC8\x99t.txt' shares its name; written as '\xC8\x99t~2.txt'"}},
      {"and two under POSIX rules",
       {"\xC8\x98t.txt", "\xC8\x99t.txt"},
       K,
       P,
       {"\xC8\x98t.txt", "\xC8\x99t.txt"},
       {true, true},
       {}},
      {"a file never takes a folder's path",
       {"docs", "docs/x"},
       O,
       P,
       {"docs~2", "docs/x"},
       {true, true},
       {"entry 0 'docs' shares its name; written as 'docs~2'"}},
      {"a name that would leave the folder is made safe",
       {"../up.txt"},
       K,
       P,
       {"up.txt"},
       {true},
       {"entry 0 '../up.txt' written as 'up.txt' ('..' removed)"}},
      {"a leading '/' is said once for all the names, at the first that has one",
       {"plain", "/a", "/b/c", "/a"},
       K,
       P,
       {"plain", "a", "b/c", "a~2"},
       {true, true, true, true},
       {"leading '/' removed from entry names", "entry 3 'a' shares its name; written as 'a~2'"}},
      {"a leading '\\' too, apart from '/'; other changes still per entry",
       {"\\x", "/y", "/../z", "\\w"},
       K,
       W,
       {"x", "y", "z", "w"},
       {true, true, true, true},
       {"leading '\\' removed from entry names", "leading '/' removed from entry names",
        "entry 2 '/../z' written as 'z' ('..' removed)"}},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<EntryToPlan> entries;
    for (size_t i = 0; i < c.names.size(); ++i) entries.push_back({i, c.names[i]});
    Collected observer;
    const std::vector<PlannedFile> plan = PlanExtraction(entries, c.policy, c.rules, &observer);
    std::vector<std::string> paths;
    std::vector<bool> own;
    for (size_t k = 0; k < plan.size(); ++k) {
      EXPECT_EQ(plan[k].index, k);
      paths.push_back(JoinedName(plan[k].components));
      own.push_back(plan[k].ownTarget);
    }
    EXPECT_EQ(paths, c.paths);
    EXPECT_EQ(own, c.ownTargets);
    std::vector<std::string> notes;
    for (const Collected::Entry& n : observer.notes) notes.push_back(n.text);
    EXPECT_EQ(notes, c.notes);
  }
}

// Tens of thousands of entries of one name (a hostile archive may hold millions): every one
// planned, each under a name of its own. Trying every earlier number again for each entry
// would take hundreds of millions of steps here.
TEST(ExtractPlan, ThousandsOfSharedNamesEachGetTheirOwn) {
  std::vector<EntryToPlan> entries;
  for (size_t i = 0; i < 20000; ++i) entries.push_back({i, "same.bin"});
  Collected observer;
  const std::vector<PlannedFile> plan =
      PlanExtraction(entries, ExistingPolicy::kRefuse, NameRules::kPosix, &observer);
  ASSERT_EQ(plan.size(), 20000u);
  EXPECT_EQ(JoinedName(plan[2999].components), "same~3000.bin");
  EXPECT_EQ(JoinedName(plan[19999].components), "same~20000.bin");
  EXPECT_EQ(observer.notes.size(), 19999u);
}

// Thousands of names that begin with '/': one note, about the first.
TEST(ExtractPlan, ThousandsOfLeadingSlashesAreSaidOnce) {
  std::vector<EntryToPlan> entries;
  for (size_t i = 0; i < 5000; ++i) entries.push_back({i + 1, "/d/f" + std::to_string(i)});
  Collected observer;
  const std::vector<PlannedFile> plan =
      PlanExtraction(entries, ExistingPolicy::kRefuse, NameRules::kWindows, &observer);
  ASSERT_EQ(plan.size(), 5000u);
  EXPECT_EQ(JoinedName(plan[4999].components), "d/f4999");
  ASSERT_EQ(observer.notes.size(), 1u);
  EXPECT_EQ(observer.notes[0].index, 1u);
  EXPECT_EQ(observer.notes[0].text, "leading '/' removed from entry names");
}

}  // namespace
