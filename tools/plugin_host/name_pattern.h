// Shell-style patterns on whole entry names, as `varel list`, `extract` and `cat` take them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// '*' any run of characters (separators included), '?' one character, "[abc]", "[a-z]" and
// "[!a]" (or "[^a]") one character of a set; a '[' without its ']' is an ordinary
// character. '/' and '\' match each other, so either may be typed. Pattern and name are
// UTF-8 and compared by code point; with ignoreCase, characters that are equal but for case
// (UpperCase, LowerCase) match, in sets too.
class CNamePattern {
 public:
  CNamePattern(const std::string& pattern, bool ignoreCase);

  bool Matches(const std::string& name) const;
  // The same, with *steps set to the pattern items the matcher compared. The matcher keeps
  // only the last '*' to fall back to, so each fall-back starts a fresh pass over the items
  // one name character later: at most (items + 1) * (name characters + 1) steps in all.
  bool Matches(const std::string& name, size_t* steps) const;
  size_t items() const { return items_.size(); }

 private:
  enum class Kind { kChar, kAny, kStar, kSet };
  struct Item {
    Kind kind;
    uint32_t c;                                         // kChar: the character
    bool negated;                                       // kSet: "[!...]"
    std::vector<std::pair<uint32_t, uint32_t>> ranges;  // kSet: first and last, inclusive
  };
  // A name's characters as compared: as they are, and in upper and lower case when case
  // is ignored (each mapped once, however often the matcher looks at it).
  struct Characters {
    std::vector<uint32_t> exact;
    std::vector<uint32_t> upper;
    std::vector<uint32_t> lower;
  };
  bool ItemMatches(const Item& item, const Characters& name, size_t s) const;
  std::vector<Item> items_;
  bool ignoreCase_;
};

// The code points of a name as the matcher compares them: '\' read as '/', a byte that is
// not UTF-8 as a value of its own that no character has.
std::vector<uint32_t> MatchedCharacters(const std::string& text);
