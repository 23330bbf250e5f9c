#include "text/ansi_text.h"

#include <cstring>

#include "platform/win32_api.h"

CAnsiCodePage::CAnsiCodePage(unsigned codePage)
    : lead_(), hasLeadBytes_(false), codePage_(codePage) {
  CPINFO info;
  std::memset(&info, 0, sizeof(info));
  if (!GetCPInfo(codePage, &info) || info.MaxCharSize < 2) return;
  // LeadByte holds inclusive ranges as byte pairs, ended by a pair of zeros.
  for (size_t i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
    for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1] && b < 256; ++b) {
      lead_[b] = true;
      hasLeadBytes_ = true;
    }
  }
}

const CAnsiCodePage& CAnsiCodePage::System() {
  static const CAnsiCodePage systemCodePage(GetACP());
  return systemCodePage;
}

size_t CopyAnsiPrefix(char* dst, size_t width, const char* src, size_t srcLength,
                      const CAnsiCodePage& codePage) {
  if (!codePage.HasLeadBytes()) {
    // Single-byte: the bytes up to the first zero, the end of the source or the width.
    const size_t limit = srcLength < width ? srcLength : width;
    size_t n = 0;
    if (limit > 0) {
      const void* zero = std::memchr(src, 0, limit);
      n = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - src) : limit;
      std::memcpy(dst, src, n);
    }
    if (n == width) return n;
    dst[n] = 0;  // the source's zero, or the end of the source read as one
    return n + 1;
  }
  size_t i = 0;
  while (i < width) {
    // The end of the source reads as a terminator.
    const uint8_t b = i < srcLength ? static_cast<uint8_t>(src[i]) : 0;
    if (b == 0) {
      dst[i++] = 0;
      break;
    }
    if (codePage.IsLeadByte(b)) {
      const bool trailFits = i + 1 < width;
      const uint8_t trail = (i + 1 < srcLength) ? static_cast<uint8_t>(src[i + 1]) : 0;
      if (!trailFits || trail == 0) {
        dst[i++] = 0;  // a half character never stands in a field
        break;
      }
      dst[i] = static_cast<char>(b);
      dst[i + 1] = static_cast<char>(trail);
      i += 2;
      continue;
    }
    dst[i++] = static_cast<char>(b);
  }
  return i;
}

void CopyAnsiField(char* dst, size_t width, const char* src, size_t srcLength,
                   const CAnsiCodePage& codePage) {
  const size_t n = CopyAnsiPrefix(dst, width, src, srcLength, codePage);
  if (n < width) std::memset(dst + n, 0, width - n);
}
