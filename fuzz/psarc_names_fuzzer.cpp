// The PSARC listing's names from the manifest, under a double-byte code page. Input: byte
// 0 gives the entry count n (1 to 256), the rest is the manifest text, stored as one plain
// block of an archive that the target lays out and lists through a Win32 handle.
//
// Every name is held to a plain restatement of the naming: the text ends at its first zero
// byte; line j (split at 0x0A) names entry j + 1, and once no line break is left every
// later entry takes the rest of the text; a name is cut to at most 255 bytes, never after
// a lead byte whose trail byte does not fit; only the name and its terminator are written
// over the generated name "0x%08X.dat".
//
// The code page is the system's, fixed for the process before the first listing:
// VAREL_FUZZ_CODE_PAGE (932 by default; 936, 949, 950 and 1252 are known too).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/platform_testing.h"
#include "plugin/plugin.h"
#include "psarc/psarc.h"
#include "text/ansi_text.h"

namespace {

constexpr size_t kNameWidth = 255;

unsigned ChosenCodePage() {
  const char* v = std::getenv("VAREL_FUZZ_CODE_PAGE");
  const unsigned n = v != nullptr ? static_cast<unsigned>(std::atoi(v)) : 0;
  return n != 0 ? n : 932;
}

// Lead bytes by GetCPInfo, read here without the plug-in's code page class.
struct LeadBytes {
  bool lead[256] = {};
  explicit LeadBytes(unsigned codePage) {
    CPINFO info;
    std::memset(&info, 0, sizeof(info));
    if (!GetCPInfo(codePage, &info) || info.MaxCharSize < 2) return;
    for (size_t i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
      for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) lead[b] = true;
    }
  }
};

// A big-endian value of `width` bytes.
void PutBe(std::vector<uint8_t>* out, size_t at, uint64_t v, size_t width) {
  for (size_t i = 0; i < width; ++i)
    (*out)[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

// Header, n table-of-contents entries (entry 0 the manifest, the others empty), one block
// value, then the text as a plain block.
std::vector<uint8_t> LayOut(uint32_t n, const uint8_t* text, size_t length) {
  const uint32_t values = length != 0 ? 1 : 0;
  const size_t tableEnd = kPsarcHeaderSize + kPsarcTocEntrySize * size_t{n} + 2 * values;
  std::vector<uint8_t> a(tableEnd + length, 0);
  std::memcpy(&a[kPsarcHeaderMagicAt], "PSAR", 4);
  PutBe(&a, kPsarcHeaderVersionAt, 0x00010004, 4);
  std::memcpy(&a[kPsarcHeaderCompressionAt], "zlib", 4);
  // The blocks begin where the tables end: tocLength counts the header too.
  PutBe(&a, kPsarcHeaderTocLengthAt, tableEnd, 4);
  PutBe(&a, kPsarcHeaderTocEntrySizeAt, kPsarcTocEntrySize, 4);
  PutBe(&a, kPsarcHeaderTocEntryCountAt, n, 4);
  PutBe(&a, kPsarcHeaderBlockSizeAt, kPsarcBlockSize, 4);
  // Entry 0: first block 0 (left zero), its size and the tables' end as its offset.
  PutBe(&a, kPsarcHeaderSize + kPsarcTocPlainSizeAt, length, 5);
  PutBe(&a, kPsarcHeaderSize + kPsarcTocOffsetAt, tableEnd, 5);
  if (values != 0) PutBe(&a, tableEnd - 2, length, 2);
  if (length != 0) std::memcpy(&a[tableEnd], text, length);
  return a;
}

// The field record j should hold.
void ExpectedName(uint32_t j, const uint8_t* line, size_t length, const LeadBytes& cp,
                  char field[256]) {
  std::memset(field, 0, 256);
  std::snprintf(field, 256, "0x%08X.dat", j);
  size_t i = 0;
  while (i < kNameWidth && i < length) {
    if (cp.lead[line[i]]) {
      if (i + 1 >= kNameWidth || i + 1 >= length) break;  // the trail byte would not fit
      field[i] = static_cast<char>(line[i]);
      field[i + 1] = static_cast<char>(line[i + 1]);
      i += 2;
    } else {
      field[i] = static_cast<char>(line[i]);
      i += 1;
    }
  }
  field[i] = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const unsigned codePage = [] {
    PlatformSetAnsiCodePage(ChosenCodePage());
    return ChosenCodePage();
  }();
  static const LeadBytes lead(codePage);
  if (size < 1 || size - 1 > 65535) return 0;
  const uint32_t n = 1u + data[0];
  const uint8_t* text = data + 1;
  const size_t length = size - 1;

  static CFuzzFile file;
  const std::vector<uint8_t> archive = LayOut(n, text, length);
  file.Write(archive.data(), archive.size());
  CGuardedBytes header(kHostHeaderBytes);
  // The header as a host hands it: 84 bytes, zero past a shorter file.
  std::memcpy(header.data(), archive.data(), std::min(archive.size(), kHostHeaderBytes));
  ArchiveSource source;
  source.file = file.handle();
  source.header = header.data();

#if defined(VAREL_HAVE_PLATFORM_SEAM)
  const int32_t heapBefore = PlatformLiveHeapBlocks();
#endif
  {
    CPluginArchivePSX plugin;
    FUZZ_CHECK(CAnsiCodePage::System().codePage() == codePage);
    HGLOBAL entries = kFuzzUntouched;
    int32_t count = -1;
    FUZZ_CHECK(plugin.GetArchiveInfo(&source, &entries, &count) == kResultOk);
    FUZZ_CHECK(count == static_cast<int32_t>(n));
    const auto* records = static_cast<const ArchiveEntry*>(GlobalLock(entries));
    FUZZ_CHECK(records != nullptr);
    FUZZ_CHECK(std::strcmp(records[0].name, "NamesBlock.bin") == 0);

    // The text ends at its first zero byte.
    const void* zero = std::memchr(text, 0, length);
    const size_t end =
        zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - text) : length;
    size_t cursor = 0;
    for (uint32_t j = 1; j < n; ++j) {
      const void* lf = std::memchr(text + cursor, '\n', end - cursor);
      const size_t lineEnd =
          lf != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - text) : end;
      char expected[256];
      ExpectedName(j, text + cursor, lineEnd - cursor, lead, expected);
      FUZZ_CHECK(std::memcmp(records[j].name, expected, sizeof(expected)) == 0);
      if (lf != nullptr) cursor = lineEnd + 1;
    }
    GlobalUnlock(entries);
    GlobalFree(entries);
  }
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  FUZZ_CHECK(PlatformLiveHeapBlocks() == heapBefore);
#endif
  return 0;
}
