#include "tools/plugin_host/entry_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/util/unicode_text.h"

namespace {

// A name shorter than the field by at most this much may have been cut at the field's end
// (a copy that never splits a double-byte character stops up to two bytes early).
constexpr size_t kCutSlack = 4;

// True when rest (what follows the valid UTF-8 of a name) is the start of one UTF-8
// character that the end of the name cut short.
bool IsCutCharacter(const std::string& rest) {
  if (rest.empty() || rest.size() > 3) return false;
  if (Utf8SequenceLength(static_cast<uint8_t>(rest[0])) <= rest.size()) return false;
  for (size_t k = 1; k < rest.size(); ++k) {
    if (!IsUtf8Trail(static_cast<uint8_t>(rest[k]))) return false;
  }
  return true;
}

bool IsC0OrDelete(uint32_t c) { return c < 0x20 || c == 0x7F; }
bool IsC1(uint32_t c) { return c >= 0x80 && c <= 0x9F; }
bool IsControl(uint32_t c) { return IsC0OrDelete(c) || IsC1(c); }
// Characters that reorder or break the text around them on a terminal.
bool IsLayoutControl(uint32_t c) {
  return c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

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

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9 and LPT1-9 (also with the digits ¹ ² ³) name
// devices on Windows, with any extension.
bool IsDeviceName(const std::string& component) {
  std::string base = UpperAscii(component.substr(0, component.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kDevices) {
    if (base == d) return true;
  }
  if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) {
    return false;
  }
  const std::string digit = base.substr(3);
  return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

void Note(SafeName* out, const std::string& change) {
  if (std::find(out->changes.begin(), out->changes.end(), change) == out->changes.end()) {
    out->changes.push_back(change);
  }
}

// The component with control characters, bytes that are not UTF-8 and, on Windows,
// <>:"|?* replaced by '_'.
std::string ReplaceForbidden(const std::string& c, NameRules rules, SafeName* out) {
  std::string safe;
  bool replaced = false;
  for (size_t i = 0; i < c.size();) {
    const size_t start = i;
    const uint32_t cp = NextCodePoint(c, &i);
    const bool bad = cp == kNotUtf8 || IsControl(cp) ||
                     (rules == NameRules::kWindows && cp < 0x80 &&
                      std::strchr("<>:\"|?*", static_cast<int>(cp)) != nullptr);
    if (bad) {
      safe += '_';
      replaced = true;
    } else {
      safe.append(c, start, i - start);
    }
  }
  if (replaced) Note(out, "forbidden characters replaced by '_'");
  return safe;
}

// One component made safe; empty when it is to be dropped.
std::string SafeComponent(std::string c, bool first, NameRules rules, SafeName* out) {
  if (c.empty()) return c;
  if (c == "." || c == "..") {
    Note(out, "'" + c + "' removed");
    return std::string();
  }
  if (first && IsDriveLetter(c)) {
    Note(out, "drive removed");
    c.erase(0, 2);
    if (c.empty()) return c;
  }
  c = ReplaceForbidden(c, rules, out);
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

std::string NameBytes(const ArchiveEntry& entry) {
  const void* end = std::memchr(entry.name, 0, sizeof(entry.name));
  const size_t n = end != nullptr ? static_cast<const char*>(end) - entry.name : sizeof(entry.name);
  return std::string(entry.name, n);
}

std::string DecodeNameBytes(const std::string& bytes, bool utf8Allowed) {
  if (utf8Allowed) {
    const size_t valid = ValidUtf8Prefix(bytes);
    if (valid == bytes.size()) return bytes;
    if (bytes.size() + kCutSlack >= sizeof(ArchiveEntry::name) &&
        IsCutCharacter(bytes.substr(valid))) {
      return bytes.substr(0, valid);
    }
  }
  return Utf8FromAnsi(bytes);
}

EntryName DecodeEntryName(const ArchiveEntry& entry) {
  EntryName name;
  name.bytes = NameBytes(entry);
  name.text = DecodeNameBytes(name.bytes, entry.type == kTypePsarc);
  return name;
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

SafeName MakeSafeName(const std::string& name, size_t index, NameRules rules) {
  SafeName out;
  bool first = true;
  // '/' and '\' are single bytes that no other UTF-8 character contains.
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '/' && name[i] != '\\') continue;
    const std::string c = SafeComponent(name.substr(start, i - start), first, rules, &out);
    if (!c.empty()) out.components.push_back(c);
    first = false;
    start = i + 1;
  }
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) out.leadingSeparator = name[0];
  if (out.components.empty()) {
    out.components.push_back("unnamed-" + std::to_string(index));
    Note(&out, name.empty() ? "empty name" : "no usable name");
  }
  return out;
}

std::string FileKey(const std::string& path, NameRules rules) {
  return rules == NameRules::kWindows ? CaseKey(path) : path;
}

std::string NumberedName(const std::string& component, unsigned n) {
  const std::string suffix = "~" + std::to_string(n);
  const size_t dot = component.rfind('.');
  // A leading dot starts a hidden name, not an extension.
  if (dot == std::string::npos || dot == 0) return component + suffix;
  return component.substr(0, dot) + suffix + component.substr(dot);
}

std::string PrintableName(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    const uint32_t c = NextCodePoint(text, &i);
    char escape[16];
    if (c == kNotUtf8 || IsC0OrDelete(c)) {
      std::snprintf(escape, sizeof(escape), "\\x%02X", static_cast<uint8_t>(text[start]));
      out += escape;
    } else if (IsC1(c) || IsLayoutControl(c)) {
      std::snprintf(escape, sizeof(escape), "\\u%04X", static_cast<unsigned>(c));
      out += escape;
    } else {
      out.append(text, start, i - start);
    }
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    const uint32_t c = NextCodePoint(text, &i);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (IsC0OrDelete(c)) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else if (c == kNotUtf8) {
      AppendUtf8(kReplacementCharacter, &out);
    } else {
      out.append(text, start, i - start);
    }
  }
  return out + "\"";
}

std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char ch : bytes) {
    const uint8_t b = static_cast<uint8_t>(ch);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string Quoted(const std::string& name) { return "'" + PrintableName(name) + "'"; }
