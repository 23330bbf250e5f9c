#include "tools/util/unicode_text.h"

#include <algorithm>

namespace {

bool IsSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

constexpr UINT kUtf8CodePage = 65001;

}  // namespace

size_t Utf8SequenceLength(uint8_t lead) {
  return lead >= 0xC2 && lead <= 0xDF   ? 2
         : lead >= 0xE0 && lead <= 0xEF ? 3
         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                        : 0;
}

uint32_t NextCodePoint(const std::string& text, size_t* i) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data()) + *i;
  const size_t left = text.size() - *i;
  const uint8_t b = s[0];
  if (b < 0x80) {
    *i += 1;
    return b;
  }
  // The lead byte's own bits, and the smallest value that needs n bytes.
  static const uint32_t kLeadBits[5] = {0, 0, 0x1F, 0x0F, 0x07};
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  const size_t n = Utf8SequenceLength(b);
  uint32_t c = b & kLeadBits[n];
  if (n == 0 || n > left) {
    *i += 1;
    return kNotUtf8;
  }
  for (size_t k = 1; k < n; ++k) {
    if (!IsUtf8Trail(s[k])) {
      *i += 1;
      return kNotUtf8;
    }
    c = c << 6 | (s[k] & 0x3F);
  }
  if (c < kLeast[n] || c > 0x10FFFF || IsSurrogate(c)) {
    *i += 1;
    return kNotUtf8;
  }
  *i += n;
  return c;
}

size_t ValidUtf8Prefix(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    size_t next = i;
    if (NextCodePoint(text, &next) == kNotUtf8) break;
    i = next;
  }
  return i;
}

bool IsValidUtf8(const std::string& text) { return ValidUtf8Prefix(text) == text.size(); }

void AppendUtf8(uint32_t c, std::string* out) {
  if (c > 0x10FFFF || IsSurrogate(c)) c = kReplacementCharacter;
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | c >> 18);
    *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

WideString WideFromUtf8(const std::string& text) {
  WideString out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t c = NextCodePoint(text, &i);
    if (c == kNotUtf8) c = kReplacementCharacter;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<WCHAR>(0xD800 + (c >> 10));
      out += static_cast<WCHAR>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<WCHAR>(c);
    }
  }
  return out;
}

std::string Utf8FromWide(const WCHAR* text, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(c, &out);  // a lone surrogate becomes U+FFFD
  }
  return out;
}

std::string Utf8FromAnsi(const std::string& bytes) {
  // ASCII is itself in every ANSI code page.
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char b) { return static_cast<uint8_t>(b) < 0x80; })) {
    return bytes;
  }
  const int n = static_cast<int>(bytes.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, nullptr, 0);
  if (wide <= 0) {
    // No conversion from this code page: ASCII stays, any other byte becomes U+FFFD.
    std::string out;
    for (char b : bytes) {
      if (static_cast<uint8_t>(b) < 0x80) {
        out += b;
      } else {
        AppendUtf8(kReplacementCharacter, &out);
      }
    }
    return out;
  }
  WideString w(static_cast<size_t>(wide), 0);
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, &w[0], wide);
  return Utf8FromWide(w.data(), w.size());
}

bool AnsiFromUtf8(const std::string& text, std::string* bytes) {
  return CodePageFromUtf8(text, GetACP(), bytes);
}

bool CodePageFromUtf8(const std::string& text, UINT codePage, std::string* bytes) {
  bytes->clear();
  if (!IsValidUtf8(text)) return false;
  // The UTF-8 code page is the text as it stands. (WideCharToMultiByte would refuse both
  // the no-best-fit flag and the used-default report below for it.)
  if (codePage == kUtf8CodePage || text.empty()) {
    *bytes = text;
    return true;
  }
  const WideString w = WideFromUtf8(text);
  const int n = static_cast<int>(w.size());
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, w.data(), n, nullptr, 0,
                                         nullptr, nullptr);
  if (length <= 0) return false;
  bytes->assign(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, w.data(), n, &(*bytes)[0], length,
                          nullptr, &usedDefault) != length ||
      usedDefault) {
    bytes->clear();
    return false;
  }
  return true;
}

std::string CaseKey(const std::string& text) {
  std::string key;
  key.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    const uint32_t c = NextCodePoint(text, &i);
    if (c == kNotUtf8) {
      key += text[start];  // a stray byte is its own key
    } else {
      AppendUtf8(UpperCase(c), &key);
    }
  }
  return key;
}
