// Entry names as a host meets them: untrusted ANSI-code-page bytes. Turning them into
// paths that stay inside an output folder, matching them against shell-style patterns, and
// showing them on a terminal or in JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The lead bytes of a double-byte ANSI code page. Their trail byte may be 0x5C ('\') or
// any other byte from 0x40 up, so names are walked character by character, never byte by
// byte. Under a single-byte code page there are none.
class CLeadBytes {
 public:
  CLeadBytes();
  // Those of the system's ANSI code page (GetACP and GetCPInfo).
  static CLeadBytes System();
  void AddRange(uint8_t first, uint8_t last);
  bool IsLead(uint8_t b) const { return lead_[b]; }
  // The length of the character starting at name[i]: 2 for a lead byte with a trail byte
  // after it, 1 otherwise (a lead byte at the very end stands alone).
  size_t CharLength(const std::string& name, size_t i) const;

 private:
  bool lead_[256];
};

// Which file system's rules a name must satisfy: Windows also forbids <>:"|?*, trailing
// dots and spaces, and device names such as CON or LPT1.
enum class NameRules { kPosix, kWindows };
NameRules HostNameRules();

// The path an entry is written to, relative to the output folder: components that are
// never empty, ".", "..", a drive or a root, and hold no separator or control byte.
struct SafeName {
  std::vector<std::string> components;
  std::vector<std::string> changes;  // what was changed and why; empty when nothing was
  std::string Joined(char separator) const;
};

// Makes a name safe. An empty result (an empty name, or one of only separators, "." and
// "..") becomes "unnamed-INDEX".
SafeName MakeSafeName(const std::string& name, size_t index, const CLeadBytes& lead,
                      NameRules rules);

// A name for the n-th (n >= 2) of several entries that share a file name: "a~2.txt" for
// "a.txt", "README~2" for "README", ".profile~2" for ".profile".
std::string NumberedName(const std::string& component, unsigned n);

// Shell-style match of a whole name: '*' any run of characters (separators included), '?'
// one character, "[abc]", "[a-z]" and "[!a]" (or "[^a]") one character of a set. '/' and
// '\' match each other, so either may be typed. Case counts.
bool GlobMatch(const std::string& pattern, const std::string& name, const CLeadBytes& lead);

// The name for a terminal: control bytes written as \xNN.
std::string PrintableName(const std::string& name);
// A JSON string literal (with its quotes) of ANSI-code-page bytes: converted to UTF-8 on
// Windows; on Linux bytes that are valid UTF-8 pass and any other byte becomes U+FFFD.
std::string JsonString(const std::string& text);
