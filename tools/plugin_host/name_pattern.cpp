#include "tools/plugin_host/name_pattern.h"

#include "tools/util/unicode_text.h"

namespace {

// A byte that is not UTF-8 stands for 0x110000 + the byte: past every code point.
constexpr uint32_t kStrayByteBase = 0x110000;

}  // namespace

std::vector<uint32_t> MatchedCharacters(const std::string& text) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    uint32_t c = NextCodePoint(text, &i);
    if (c == kNotUtf8) c = kStrayByteBase + static_cast<uint8_t>(text[start]);
    out.push_back(c == '\\' ? '/' : c);
  }
  return out;
}

CNamePattern::CNamePattern(const std::string& pattern, bool ignoreCase) : ignoreCase_(ignoreCase) {
  const std::vector<uint32_t> p = MatchedCharacters(pattern);
  for (size_t i = 0; i < p.size(); ++i) {
    Item item{Kind::kChar, p[i], false, {}};
    if (p[i] == '*') {
      // A run of stars is one star.
      if (!items_.empty() && items_.back().kind == Kind::kStar) continue;
      item.kind = Kind::kStar;
    } else if (p[i] == '?') {
      item.kind = Kind::kAny;
    } else if (p[i] == '[') {
      size_t j = i + 1;
      if (j < p.size() && (p[j] == '!' || p[j] == '^')) {
        item.negated = true;
        ++j;
      }
      // A ']' right after the '[' (or "[!") is a member, not the end.
      for (bool firstInSet = true; j < p.size() && (p[j] != ']' || firstInSet); ++j) {
        firstInSet = false;
        uint32_t last = p[j];
        if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
          last = p[j + 2];
          item.ranges.push_back({p[j], last});
          j += 2;
        } else {
          item.ranges.push_back({p[j], p[j]});
        }
      }
      if (j < p.size()) {
        item.kind = Kind::kSet;
        i = j;  // past the ']'
      } else {
        item = Item{Kind::kChar, '[', false, {}};  // no ']': an ordinary '['
      }
    }
    if (item.kind == Kind::kChar && ignoreCase_) item.c = UpperCase(item.c);
    items_.push_back(item);
  }
}

bool CNamePattern::ItemMatches(const Item& item, const Characters& name, size_t s) const {
  switch (item.kind) {
    case Kind::kAny: return true;
    case Kind::kChar: return item.c == (ignoreCase_ ? name.upper[s] : name.exact[s]);
    case Kind::kSet: {
      const size_t forms = ignoreCase_ ? 3 : 1;
      const uint32_t form[3] = {name.exact[s], forms == 3 ? name.upper[s] : 0,
                                forms == 3 ? name.lower[s] : 0};
      bool in = false;
      for (const auto& r : item.ranges) {
        for (size_t k = 0; k < forms; ++k) in = in || (form[k] >= r.first && form[k] <= r.second);
      }
      return in != item.negated;
    }
    case Kind::kStar: break;
  }
  return false;
}

bool CNamePattern::Matches(const std::string& name) const {
  size_t steps = 0;
  return Matches(name, &steps);
}

bool CNamePattern::Matches(const std::string& text, size_t* steps) const {
  Characters name;
  name.exact = MatchedCharacters(text);
  if (ignoreCase_) {
    for (uint32_t c : name.exact) {
      name.upper.push_back(UpperCase(c));
      name.lower.push_back(LowerCase(c));
    }
  }
  *steps = 0;
  size_t p = 0;
  size_t s = 0;
  // The item after the last '*' seen, and the name position that star's run ends at now.
  // On a mismatch the star takes one more character and the items after it start again.
  // A later star replaces an earlier one: whatever the earlier one could still take, the
  // later one can take too.
  size_t afterStar = items_.size() + 1;  // none yet
  size_t starEnd = 0;
  while (s < name.exact.size()) {
    ++*steps;
    if (p < items_.size()) {
      const Item& item = items_[p];
      if (item.kind == Kind::kStar) {
        afterStar = ++p;
        starEnd = s;
        continue;
      }
      if (ItemMatches(item, name, s)) {
        ++p;
        ++s;
        continue;
      }
    }
    if (afterStar > items_.size()) return false;
    p = afterStar;
    s = ++starEnd;
  }
  while (p < items_.size() && items_[p].kind == Kind::kStar) {
    ++*steps;
    ++p;
  }
  return p == items_.size();
}
