// The PSARC listing's names from the manifest, under a double-byte code page. Input: byte
// 0 gives the entry count n (1 to 256), the rest is the manifest text, stored as one plain
// block of an archive that the target lays out and lists through a Win32 handle, twice:
//
// - as it stands, no header flags and every digest zero: the names go by position (the
//   text ends at its first zero byte; line j, split at 0x0A, names entry j + 1, and once
//   no line break is left every later entry takes the rest of the text);
// - in the later layout: flags 0x04 or 0x08 or both, with 0x01 and 0x02 drawn from the
//   text's hash, and each entry's digest drawn from it too: the MD5 of a stretch of the
//   text between separators (0x0A or zero), as it stands, without a leading '/' or
//   upper-cased, the previous entry's digest again, zero, or no name's at all.
//
// Every name field is held to the plain restatement in reference/ (PsarcNamesDefinition):
// the name cut to at most 255 bytes, never after a lead byte whose trail byte does not fit,
// written with its terminator over the generated name "0x%08X.dat" and nothing more.
//
// The code page is the system's, fixed for the process before the first listing:
// VAREL_FUZZ_CODE_PAGE (932 by default; 936, 949, 950 and 1252 are known too).
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform_testing.h"
#include "plugin/plugin.h"
#include "psarc/psarc.h"
#include "reference/reference.h"
#include "text/ansi_text.h"

namespace {

typedef std::array<uint8_t, 16> Digest;

unsigned ChosenCodePage() {
  const char* v = std::getenv("VAREL_FUZZ_CODE_PAGE");
  const unsigned n = v != nullptr ? static_cast<unsigned>(std::atoi(v)) : 0;
  return n != 0 ? n : 932;
}

// A big-endian value of `width` bytes.
void PutBe(std::vector<uint8_t>* out, size_t at, uint64_t v, size_t width) {
  for (size_t i = 0; i < width; ++i)
    (*out)[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

// Header, n table-of-contents entries (entry 0 the manifest, the others empty, each with
// its digest), one block value, then the text as a plain block.
std::vector<uint8_t> LayOut(uint32_t n, const uint8_t* text, size_t length, uint32_t flags,
                            const std::vector<Digest>& digests) {
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
  PutBe(&a, kPsarcHeaderFlagsAt, flags, 4);
  for (uint32_t i = 1; i < n; ++i) {
    std::memcpy(&a[kPsarcHeaderSize + kPsarcTocEntrySize * i + kPsarcTocDigestAt],
                digests[i].data(), 16);
  }
  // Entry 0: first block 0 (left zero), its size and the tables' end as its offset.
  PutBe(&a, kPsarcHeaderSize + kPsarcTocPlainSizeAt, length, 5);
  PutBe(&a, kPsarcHeaderSize + kPsarcTocOffsetAt, tableEnd, 5);
  if (values != 0) PutBe(&a, tableEnd - 2, length, 2);
  if (length != 0) std::memcpy(&a[tableEnd], text, length);
  return a;
}

// A small generator, seeded from the input, so that the fuzzer steers it.
struct CDraw {
  uint32_t x;
  explicit CDraw(const uint8_t* data, size_t size) : x(2166136261u) {
    for (size_t i = 0; i < size; ++i) x = (x ^ data[i]) * 16777619u;
  }
  uint32_t Next() {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  }
};

std::string UpperCased(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The later layout's flags and digests, drawn from the text.
uint32_t DrawLaterLayout(const uint8_t* text, size_t length, uint32_t n,
                         std::vector<Digest>* digests) {
  CDraw draw(text, length);
  const uint32_t bits = draw.Next();
  const uint32_t order = 1 + bits % 3;  // 0x04, 0x08 or both
  const uint32_t flags = (order << 2) | ((bits >> 2) & 0x03);
  // The stretches between separators, of either kind.
  std::vector<std::string> stretches(1);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == 0 || text[i] == '\n') {
      stretches.push_back(std::string());
    } else {
      stretches.back() += static_cast<char>(text[i]);
    }
  }
  digests->assign(n, Digest());
  for (uint32_t i = 1; i < n; ++i) {
    const uint32_t r = draw.Next();
    std::string name = stretches[(r >> 8) % stretches.size()];
    switch (r % 8) {
      case 0: break;  // zero
      case 1: (*digests)[i] = (*digests)[i - 1]; break;
      case 2:
        for (uint8_t& b : (*digests)[i]) b = static_cast<uint8_t>(draw.Next());
        break;
      case 3:
        if (!name.empty() && name[0] == '/') name.erase(0, 1);
        Md5Digest(name.data(), name.size(), (*digests)[i].data());
        break;
      case 4:
        name = UpperCased(name);
        Md5Digest(name.data(), name.size(), (*digests)[i].data());
        break;
      default: Md5Digest(name.data(), name.size(), (*digests)[i].data()); break;
    }
  }
  return flags;
}

// Lists the archive and holds every name field to the definition.
void ListAndCheck(uint32_t n, const uint8_t* text, size_t length, uint32_t flags,
                  const std::vector<Digest>& digests, unsigned codePage) {
  static CFuzzFile file;
  const std::vector<uint8_t> archive = LayOut(n, text, length, flags, digests);
  file.Write(archive.data(), archive.size());
  CGuardedBytes header(kHostHeaderBytes);
  // The header as a host hands it: 84 bytes, zero past a shorter file.
  std::memcpy(header.data(), archive.data(), std::min(archive.size(), kHostHeaderBytes));
  ArchiveSource source;
  source.file = file.handle();
  source.header = header.data();

  // The manifest as the listing decodes it: the text, then the work buffer's zeros.
  std::vector<uint8_t> buffer(text, text + length);
  buffer.resize(length + kPsarcWorkMargin, 0);
  const std::vector<std::string> names =
      PsarcNamesDefinition(buffer.data(), buffer.size(), length, flags, digests);

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
    for (uint32_t j = 1; j < n; ++j) {
      const std::string expected = PsarcNameField(j, names[j - 1], codePage);
      FUZZ_CHECK(std::memcmp(records[j].name, expected.data(), expected.size()) == 0);
    }
    GlobalUnlock(entries);
    GlobalFree(entries);
  }
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  FUZZ_CHECK(PlatformLiveHeapBlocks() == heapBefore);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const unsigned codePage = [] {
    PlatformSetAnsiCodePage(ChosenCodePage());
    return ChosenCodePage();
  }();
  if (size < 1 || size - 1 > 65535) return 0;
  const uint32_t n = 1u + data[0];
  const uint8_t* text = data + 1;
  const size_t length = size - 1;

  ListAndCheck(n, text, length, 0, std::vector<Digest>(n, Digest()), codePage);
  std::vector<Digest> digests;
  const uint32_t flags = DrawLaterLayout(text, length, n, &digests);
  ListAndCheck(n, text, length, flags, digests, codePage);
  return 0;
}
