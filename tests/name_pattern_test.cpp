// The shell-style patterns of varel list, extract and cat.
#include <gtest/gtest.h>

#include <string>

#include "tools/plugin_host/name_pattern.h"

namespace {

struct PatternCase {
  const char* pattern;
  const char* name;
  bool match;
};

TEST(NamePattern, MatchesLikeAShell) {
  const PatternCase cases[] = {
      {"*", "", true},
      {"*", "any/thing", true},
      {"*.txt", "a.txt", true},
      {"*.txt", "dir/a.txt", true},  // '*' crosses folders
      {"*.txt", "a.txt.bak", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"[ab]x", "bx", true},
      {"[ab]x", "cx", false},
      {"[a-c]x", "cx", true},
      {"[!a-c]x", "dx", true},
      {"[^a-c]x", "ax", false},
      {"[]]", "]", true},
      {"[*]", "*", true},
      {"[*]", "a", false},
      {"[abc", "[abc", true},  // an unclosed '[' is literal
      {"sub/*", "sub\\x", true},
      {"sub\\*", "sub/x", true},
      {"*a*b*c*", "xxaxxbxxcxx", true},
      {"*a*b*c*", "xxaxxcxxbxx", false},
      {"Readme", "README", false},
      {"", "", true},
      {"", "a", false},
      // Characters, not bytes: '?' takes a whole character of any length.
      {"caf?.txt", "caf\xC3\xA9.txt", true},
      {"?", "\xF0\x9F\x98\x80", true},
      {"??", "\xF0\x9F\x98\x80", false},
      {"[\xCE\xB1-\xCF\x89]*", "\xCF\x89mega", true},  // [α-ω]
      {"e\xCC\x81", "\xC3\xA9", false},                // a combining accent is a character
  };
  for (const PatternCase& c : cases) {
    EXPECT_EQ(CNamePattern(c.pattern, false).Matches(c.name), c.match)
        << c.pattern << " on " << c.name;
  }
}

TEST(NamePattern, IgnoringCaseCoversEveryScriptWithCase) {
  const PatternCase cases[] = {
      {"readme.TXT", "README.txt", true},
      {"CAF\xC3\x89*", "caf\xC3\xA9.txt", true},       // CAFÉ*
      {"\xCE\xA9MEGA.bin", "\xCF\x89mega.BIN", true},  // ΩMEGA / ωmega
      {"\xD0\xA2\xD0\x95\xD0\xA1\xD0\xA2", "\xD1\x82\xD0\xB5\xD1\x81\xD1\x82", true},  // ТЕСТ
      {"[A-Z]*", "lower", true},
      {"[a-z]*", "UPPER", true},
      {"[!a-z]*", "UPPER", false},
      {"\xEF\xBC\xA1", "\xEF\xBD\x81", true},  // full-width A and a
      {"stra\xC3\x9F"
       "e",
       "STRASSE", false},  // one code point for one: no SS
  };
  for (const PatternCase& c : cases) {
    EXPECT_EQ(CNamePattern(c.pattern, true).Matches(c.name), c.match)
        << c.pattern << " on " << c.name;
    if (c.match) {
      EXPECT_FALSE(CNamePattern(c.pattern, false).Matches(c.name)) << c.pattern;
    }
  }
}

// The matcher falls back to the last '*' only, so its work is bounded by
// (items + 1) * (characters + 1) whatever the pattern: no pattern can make it blow up.
TEST(NamePattern, WorkIsBoundedByItemsTimesCharacters) {
  const std::string as(255, 'a');
  const std::string stars(127, '*');
  struct Case {
    std::string pattern;
    std::string name;
  };
  const Case cases[] = {
      {"*a*a*a*a*a*a*a*a*b", as},
      {"*" + std::string(100, 'a') + "b", as},
      {"a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", as},
      {stars + "b", as},
      {"*?*?*?*?*?*?*?*?*?*?b", as},
      {"*[a-z][!b]*[ab]*c", as},
  };
  for (const Case& c : cases) {
    const CNamePattern pattern(c.pattern, true);
    size_t steps = 0;
    EXPECT_FALSE(pattern.Matches(c.name, &steps)) << c.pattern;
    EXPECT_LE(steps, (pattern.items() + 1) * (c.name.size() + 1)) << c.pattern;
    EXPECT_GT(steps, c.name.size()) << "every character was looked at";
  }
  // A run of stars is one item.
  EXPECT_EQ(CNamePattern(stars + "b", false).items(), 2u);
}

}  // namespace
