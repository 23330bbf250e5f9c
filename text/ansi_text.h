// Bounded copies of ANSI text into fixed-width fields.
//
// Text is single-byte or double-byte in the system's ANSI code page. A bounded copy never
// splits a double-byte character: where a lead byte's trail byte would not fit, or is the
// terminator or the end of the source, a 0 is written in the lead byte's place and the copy
// ends. Under a single-byte code page the copies are plain bounded copies.
#pragma once

#include <cstddef>
#include <cstdint>

class CAnsiCodePage {
 public:
  // The system ANSI code page, read once: the plug-in object's construction, while the
  // module loads, makes the first call. Never changed afterwards, so any thread may use
  // it (and a first call from several threads at once would still build it once).
  static const CAnsiCodePage& System();
  // A code page by number, for tests and fuzzing; an unknown one acts as single-byte.
  explicit CAnsiCodePage(unsigned codePage);

  bool IsLeadByte(uint8_t b) const { return lead_[b]; }
  // False for a single-byte code page, where every copy is a plain bounded copy.
  bool HasLeadBytes() const { return hasLeadBytes_; }
  unsigned codePage() const { return codePage_; }

 private:
  bool lead_[256];
  bool hasLeadBytes_;
  unsigned codePage_;
};

// Copies the source (srcLength bytes, or fewer when a zero byte comes first, which is then
// copied and ends the copy) into dst, at most width bytes, never splitting a double-byte
// character. Returns the number of bytes written, a terminator included when one was
// written. Bytes of dst past that count are not touched.
size_t CopyAnsiPrefix(char* dst, size_t width, const char* src, size_t srcLength,
                      const CAnsiCodePage& codePage = CAnsiCodePage::System());

// The field copy: CopyAnsiPrefix, then zeros up to width. A source as long as the width
// or longer leaves no terminator.
void CopyAnsiField(char* dst, size_t width, const char* src, size_t srcLength,
                   const CAnsiCodePage& codePage = CAnsiCodePage::System());
