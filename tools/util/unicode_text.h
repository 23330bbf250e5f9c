// Text inside varel is UTF-8 on both platforms. These functions walk it by code point and
// convert it to and from UTF-16 (the Windows file and console calls) and the system's ANSI
// code page (PKG names, and PSARC names that are not UTF-8), and map characters to their
// other case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32_api.h"

typedef std::basic_string<WCHAR> WideString;

// What NextCodePoint gives for a byte that starts no well-formed UTF-8 sequence.
constexpr uint32_t kNotUtf8 = 0xFFFFFFFFu;
constexpr uint32_t kReplacementCharacter = 0xFFFD;

// The length of the sequence a lead byte announces (2 to 4), or 0 for a byte that starts no
// multi-byte sequence (ASCII, a trail byte, C0, C1, F5 to FF).
size_t Utf8SequenceLength(uint8_t lead);
// True for a byte that continues a sequence (10xxxxxx).
inline bool IsUtf8Trail(uint8_t b) { return (b & 0xC0) == 0x80; }

// The code point at text[*i], with *i moved past it. Overlong forms, surrogates and values
// past U+10FFFF are not well formed: such a byte comes back as kNotUtf8 and *i moves by 1.
// *i must be below text.size().
uint32_t NextCodePoint(const std::string& text, size_t* i);
bool IsValidUtf8(const std::string& text);
// The length of the longest prefix of text that is well-formed UTF-8.
size_t ValidUtf8Prefix(const std::string& text);
void AppendUtf8(uint32_t codePoint, std::string* out);

// UTF-16 and UTF-8 each way; what is not well formed (a stray byte, a lone surrogate)
// becomes U+FFFD.
WideString WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const WCHAR* text, size_t n);

// Bytes in the ANSI code page (GetACP) as UTF-8. A byte sequence that is no character of
// the code page becomes the code page's default character.
std::string Utf8FromAnsi(const std::string& bytes);
// UTF-8 as bytes in the ANSI code page; false when the text is not well-formed UTF-8 or
// holds a character the code page cannot hold (nothing is replaced by a look-alike or '?').
bool AnsiFromUtf8(const std::string& text, std::string* bytes);
// The same for a given code page (AnsiFromUtf8 gives it GetACP()'s). Code page 65001 is
// UTF-8 itself: it holds every character, as the text's own bytes.
bool CodePageFromUtf8(const std::string& text, UINT codePage, std::string* bytes);

// The code point in upper or lower case, one code point for one (no "SS" for U+00DF); a
// code point without another case comes back as it is. On Windows the system's own case
// table; on Linux every simple case pair of the Unicode version utf8proc was built with
// (tools/os/case_map_posix.cpp).
uint32_t UpperCase(uint32_t codePoint);
uint32_t LowerCase(uint32_t codePoint);
// The text with every code point in upper case: two texts that are equal but for case give
// the same key.
std::string CaseKey(const std::string& text);
