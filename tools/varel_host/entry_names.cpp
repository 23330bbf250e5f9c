#include "tools/varel_host/entry_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/win32_api.h"

namespace {

bool IsSeparator(const std::string& s, size_t i, size_t length) {
  return length == 1 && (s[i] == '/' || s[i] == '\\');
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsDriveLetter(const std::string& c) {
  return c.size() >= 2 && c[1] == ':' &&
         ((c[0] >= 'A' && c[0] <= 'Z') || (c[0] >= 'a' && c[0] <= 'z'));
}

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, with any extension.
bool IsDeviceName(const std::string& component) {
  std::string base = UpperAscii(component.substr(0, component.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

void Note(SafeName* out, const std::string& change) {
  if (std::find(out->changes.begin(), out->changes.end(), change) == out->changes.end()) {
    out->changes.push_back(change);
  }
}

// One component made safe; empty when it is to be dropped.
std::string SafeComponent(std::string c, bool first, const CLeadBytes& lead, NameRules rules,
                          SafeName* out) {
  if (c.empty()) return c;
  if (c == ".") {
    Note(out, "'.' removed");
    return std::string();
  }
  if (c == "..") {
    Note(out, "'..' removed");
    return std::string();
  }
  if (first && IsDriveLetter(c)) {
    Note(out, "drive removed");
    c.erase(0, 2);
    if (c.empty()) return c;
  }
  bool replaced = false;
  for (size_t i = 0; i < c.size(); i += lead.CharLength(c, i)) {
    if (lead.CharLength(c, i) != 1) continue;
    const unsigned char b = static_cast<unsigned char>(c[i]);
    const bool bad =
        IsControl(b) || (rules == NameRules::kWindows && std::strchr("<>:\"|?*", b) != nullptr);
    if (bad) {
      c[i] = '_';
      replaced = true;
    }
  }
  if (replaced) Note(out, "forbidden characters replaced by '_'");
  if (rules == NameRules::kWindows) {
    // Windows drops trailing dots and spaces, which would merge "a." with "a" (and make
    // "..." a name for the folder itself).
    if (c.back() == '.' || c.back() == ' ') {
      c.back() = '_';
      Note(out, "trailing dot or space replaced by '_'");
    }
    if (IsDeviceName(c)) {
      c.insert(0, "_");
      Note(out, "device name prefixed with '_'");
    }
  }
  return c;
}

}  // namespace

CLeadBytes::CLeadBytes() { std::fill(lead_, lead_ + 256, false); }

CLeadBytes CLeadBytes::System() {
  CLeadBytes lead;
  CPINFO info;
  if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1) {
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
      lead.AddRange(info.LeadByte[i], info.LeadByte[i + 1]);
    }
  }
  return lead;
}

void CLeadBytes::AddRange(uint8_t first, uint8_t last) {
  for (unsigned b = first; b <= last; ++b) lead_[b] = true;
}

size_t CLeadBytes::CharLength(const std::string& name, size_t i) const {
  return IsLead(static_cast<uint8_t>(name[i])) && i + 1 < name.size() ? 2 : 1;
}

NameRules HostNameRules() {
#if defined(_WIN32)
  return NameRules::kWindows;
#else
  return NameRules::kPosix;
#endif
}

std::string SafeName::Joined(char separator) const {
  std::string s;
  for (const std::string& c : components) {
    if (!s.empty()) s += separator;
    s += c;
  }
  return s;
}

SafeName MakeSafeName(const std::string& name, size_t index, const CLeadBytes& lead,
                      NameRules rules) {
  SafeName out;
  std::string current;
  bool first = true;
  bool rooted = false;
  auto flush = [&]() {
    std::string c = SafeComponent(current, first, lead, rules, &out);
    if (!c.empty()) out.components.push_back(c);
    first = false;
    current.clear();
  };
  for (size_t i = 0; i < name.size();) {
    const size_t n = lead.CharLength(name, i);
    if (IsSeparator(name, i, n)) {
      if (i == 0) rooted = true;
      flush();
    } else {
      current.append(name, i, n);
    }
    i += n;
  }
  flush();
  if (rooted) Note(&out, "leading separator removed");
  if (out.components.empty()) {
    out.components.push_back("unnamed-" + std::to_string(index));
    Note(&out, name.empty() ? "empty name" : "no usable name");
  }
  return out;
}

std::string NumberedName(const std::string& component, unsigned n) {
  const std::string suffix = "~" + std::to_string(n);
  const size_t dot = component.rfind('.');
  // A leading dot starts a hidden name, not an extension.
  if (dot == std::string::npos || dot == 0) return component + suffix;
  return component.substr(0, dot) + suffix + component.substr(dot);
}

namespace {

// A name as a sequence of characters: a single byte, or lead << 8 | trail. Both
// separators are one character.
std::vector<uint32_t> Characters(const std::string& s, const CLeadBytes& lead) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < s.size();) {
    const size_t n = lead.CharLength(s, i);
    uint32_t c = static_cast<unsigned char>(s[i]);
    if (n == 2) c = c << 8 | static_cast<unsigned char>(s[i + 1]);
    if (c == '\\') c = '/';
    out.push_back(c);
    i += n;
  }
  return out;
}

// Matches the set that starts after '[' at p; on return p is past its ']'. A '[' without
// a closing ']' is an ordinary character (returned through literal).
bool MatchSet(const std::vector<uint32_t>& pat, size_t* p, uint32_t c, bool* literal) {
  size_t i = *p;
  bool negate = false;
  if (i < pat.size() && (pat[i] == '!' || pat[i] == '^')) {
    negate = true;
    ++i;
  }
  bool matched = false;
  bool firstInSet = true;
  while (i < pat.size() && (pat[i] != ']' || firstInSet)) {
    firstInSet = false;
    uint32_t low = pat[i];
    uint32_t high = low;
    if (i + 2 < pat.size() && pat[i + 1] == '-' && pat[i + 2] != ']') {
      high = pat[i + 2];
      i += 2;
    }
    if (c >= low && c <= high) matched = true;
    ++i;
  }
  if (i >= pat.size()) {
    *literal = true;
    return c == '[';
  }
  *literal = false;
  *p = i + 1;
  return matched != negate;
}

}  // namespace

bool GlobMatch(const std::string& pattern, const std::string& name, const CLeadBytes& lead) {
  const std::vector<uint32_t> pat = Characters(pattern, lead);
  const std::vector<uint32_t> str = Characters(name, lead);
  size_t p = 0;
  size_t s = 0;
  // The last '*' seen and the name position it was tried at: on a mismatch the star takes
  // one more character. Each star only ever moves forward, so this is linear per star.
  size_t starP = std::string::npos;
  size_t starS = 0;
  while (s < str.size()) {
    if (p < pat.size()) {
      const uint32_t pc = pat[p];
      if (pc == '*') {
        starP = ++p;
        starS = s;
        continue;
      }
      if (pc == '?') {
        ++p;
        ++s;
        continue;
      }
      if (pc == '[') {
        size_t q = p + 1;
        bool literal = false;
        if (MatchSet(pat, &q, str[s], &literal)) {
          p = literal ? p + 1 : q;
          ++s;
          continue;
        }
      } else if (pc == str[s]) {
        ++p;
        ++s;
        continue;
      }
    }
    if (starP == std::string::npos) return false;
    p = starP;
    s = ++starS;
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

std::string PrintableName(const std::string& name) {
  std::string out;
  for (char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsControl(c)) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

namespace {

// The UTF-8 form of the text's characters, as well as this platform can tell them.
std::string ToUtf8(const std::string& text) {
#if defined(_WIN32)
  if (text.empty()) return text;
  const int wide =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wide > 0) {
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &w[0], wide);
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      std::string out(static_cast<size_t>(n), '\0');
      WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], n, nullptr, nullptr);
      return out;
    }
  }
#endif
  // Keep well-formed UTF-8 sequences; every other byte becomes U+FFFD.
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    size_t len = c < 0x80                   ? 1
                 : (c >= 0xC2 && c <= 0xDF) ? 2
                 : (c >= 0xE0 && c <= 0xEF) ? 3
                 : (c >= 0xF0 && c <= 0xF4) ? 4
                                            : 0;
    bool ok = len != 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) ok = (s[i + k] & 0xC0) == 0x80;
    if (ok && len == 3) {
      ok = !(c == 0xE0 && s[i + 1] < 0xA0) && !(c == 0xED && s[i + 1] >= 0xA0);
    }
    if (ok && len == 4) {
      ok = !(c == 0xF0 && s[i + 1] < 0x90) && !(c == 0xF4 && s[i + 1] >= 0x90);
    }
    if (ok) {
      out.append(text, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char ch : ToUtf8(text)) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\u%04x", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}
