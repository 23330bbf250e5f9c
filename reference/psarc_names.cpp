// The PSARC listing's names, restated plainly: every name a std::string, the digests in a
// std::map, one byte at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "digest/md5.h"
#include "platform/win32_api.h"
#include "psarc/psarc.h"
#include "reference/reference.h"

namespace {

typedef std::array<uint8_t, 16> Digest;

Digest DigestOf(const std::string& s) {
  Digest d;
  Md5Digest(s.data(), s.size(), d.data());
  return d;
}

std::string UpperCased(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The pieces between separators in text, in order; the piece after the last separator
// ends the list (it is what every later record takes).
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator) {
      pieces.push_back(std::string());
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

}  // namespace

std::vector<std::string> PsarcNamesDefinition(const uint8_t* buffer, size_t bufferLength,
                                              size_t size, uint32_t flags,
                                              const std::vector<Digest>& digests) {
  const std::string whole(reinterpret_cast<const char*>(buffer), bufferLength);
  const std::string plain = whole.substr(0, size);
  const bool byDigest = (flags & (kPsarcFlagTocByDigest | kPsarcFlagZeroSeparated)) != 0;
  const bool zeroSeparated =
      byDigest && plain.find('\0') != std::string::npos &&
      ((flags & kPsarcFlagZeroSeparated) != 0 || plain.find('\n') == std::string::npos);
  std::vector<std::string> pieces;
  if (zeroSeparated) {
    // A zero that ends the text ends the last name and begins none.
    pieces = Split(plain.back() == '\0' ? plain.substr(0, size - 1) : plain, '\0');
  } else {
    // The text ends at its first zero byte (or at the end of the buffer).
    pieces = Split(whole.substr(0, whole.find('\0')), '\n');
  }

  // Each digest's name: the first name in the most preferred form.
  std::map<Digest, std::pair<int, size_t>> found;  // digest -> (form, piece)
  const size_t records = digests.empty() ? 0 : digests.size() - 1;
  const size_t sought = std::max<uint64_t>(2 * uint64_t{records}, kPsarcDigestNamesAtLeast);
  for (size_t j = 0; byDigest && j < pieces.size() && j < sought; ++j) {
    const std::string& name = pieces[j];
    std::vector<std::pair<int, std::string>> forms = {{0, name}};
    if (!name.empty() && name[0] == '/') forms.push_back({1, name.substr(1)});
    if ((flags & kPsarcFlagUpperCaseDigests) != 0) {
      forms.push_back({2, UpperCased(name)});
      if (!name.empty() && name[0] == '/') forms.push_back({3, UpperCased(name.substr(1))});
    }
    for (const auto& form : forms) {
      const Digest d = DigestOf(form.second);
      auto at = found.find(d);
      if (at == found.end() || at->second.first > form.first) found[d] = {form.first, j};
    }
  }

  std::vector<std::string> names;
  for (size_t i = 1; i < digests.size(); ++i) {
    const auto at = found.find(digests[i]);
    const size_t piece = at != found.end() ? at->second.second : std::min(i - 1, pieces.size() - 1);
    names.push_back(pieces[piece]);
  }
  return names;
}

std::string PsarcNameField(uint32_t record, const std::string& name, unsigned codePage) {
  bool lead[256] = {};
  CPINFO info;
  std::memset(&info, 0, sizeof(info));
  if (GetCPInfo(codePage, &info) && info.MaxCharSize >= 2) {
    for (size_t i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
      for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) lead[b] = true;
    }
  }
  char field[256] = {};
  if (record == 0) {
    std::strcpy(field, "NamesBlock.bin");
  } else {
    std::snprintf(field, sizeof(field), "0x%08X.dat", static_cast<unsigned>(record));
  }
  // At most 255 bytes, never a lead byte without its trail byte, then the terminator.
  size_t i = 0;
  while (i < 255 && i < name.size()) {
    if (lead[static_cast<uint8_t>(name[i])]) {
      if (i + 1 >= 255 || i + 1 >= name.size()) break;
      field[i] = name[i];
      field[i + 1] = name[i + 1];
      i += 2;
    } else {
      field[i] = name[i];
      i += 1;
    }
  }
  field[i] = 0;
  return std::string(field, sizeof(field));
}
