// Writes the fuzz targets' seed inputs, from the project's own writers, into a folder per
// target below the folder named on the command line (fuzz/corpus in the repository).
// Every seed is kept small: libFuzzer grows large inputs itself where it needs them.
#include <zlib.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "reference/reference.h"
#include "tools/writers/byte_writer.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::string root;

bool Save(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string path = root + "/" + target + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return true;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Noise(size_t n, uint32_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(seed >> 24);
  }
  return b;
}

Bytes Compressed(const Bytes& plain, int level = 9) {
  uLongf n = compressBound(static_cast<uLong>(plain.size()));
  Bytes out(n);
  compress2(out.data(), &n, plain.data(), static_cast<uLong>(plain.size()), level);
  out.resize(n);
  return out;
}

// A zlib stream exactly as long as the plain bytes it codes: noise, then a run of one byte
// long enough that the stream's length catches up with the plain length.
Bytes ExactLengthStream() {
  for (size_t run = 0; run < 4000; ++run) {
    Bytes plain = Noise(3000, 4);
    plain.resize(plain.size() + run, 'r');
    const Bytes z = Compressed(plain);
    if (z.size() == plain.size()) return z;
  }
  return {};
}

bool Archives() {
  bool ok = true;
  std::string error;
  struct PsarcSeed {
    const char* name;
    std::vector<ArchiveInput> inputs;
  } psarcs[] = {
      {"psarc-one", {{"a.txt", Text("alpha")}}},
      {"psarc-mixed",
       {{"a.txt", Text("alpha\n")},
        {"e.bin", {}},
        {"n.bin", Noise(300, 1)},
        {"dir/r.txt", Bytes(2000, 'r')}}},
      {"psarc-two-blocks", {{"z.bin", Bytes(65536 + 100, 0)}}},
      // The manifest, stored plain, begins 0x78 0xDA.
      {"psarc-manifest-78da",
       {{"\x78\xDA"
         "first",
         Text("1")},
        {"second", Text("2")}}},
  };
  for (const PsarcSeed& s : psarcs) {
    Bytes out;
    ok = WritePsarc(s.inputs, PsarcWriterOptions(), &out, &error) && Save("archive", s.name, out) &&
         ok;
  }
  // The later layout: names found by digest, zero-separated, shared contents.
  {
    const std::vector<ArchiveInput> inputs = {{"b/Two.txt", Text("two")},
                                              {"a/one.txt", Text("one")},
                                              {"c/same", Text("same")},
                                              {"d/same-again", Text("same")}};
    PsarcWriterOptions digestOrder;
    digestOrder.tocByDigest = true;
    PsarcWriterOptions everything = digestOrder;
    everything.zeroSeparated = true;
    everything.zeroAfterLastName = true;
    everything.upperCaseDigests = true;
    everything.leadingSlash = true;
    everything.shareIdentical = true;
    Bytes out;
    ok = WritePsarc(inputs, digestOrder, &out, &error) &&
         Save("archive", "psarc-digest-order", out) && ok;
    ok = WritePsarc(inputs, everything, &out, &error) &&
         Save("archive", "psarc-later-layout", out) && ok;
  }
  struct PkgSeed {
    const char* name;
    std::vector<ArchiveInput> inputs;
    PkgCompression compression;
  } pkgs[] = {
      {"pkg-stored", {{"a.txt", Text("alpha")}}, PkgCompression::kNever},
      {"pkg-mixed",
       {{"a.txt", Text("alpha")}, {"r.bin", Bytes(900, 'r')}, {"n.bin", Noise(200, 2)}},
       PkgCompression::kAuto},
      {"pkg-coded",
       {{"e.bin", {}}, {"\x82\xa0.txt", Text("abcabcabcabc")}},
       PkgCompression::kAlways},
  };
  for (const PkgSeed& s : pkgs) {
    PkgWriterOptions options;
    options.compression = s.compression;
    Bytes out;
    ok = WritePkg(s.inputs, options, &out, &error) && Save("archive", s.name, out) && ok;
  }
  // A PSARC header with no entries at all: the manifest step has nothing to decode.
  CByteWriter w;
  w.Text("PSAR");
  w.Be32(kPsarcWriterVersion);
  w.Text("zlib");
  w.Be32(4);                   // tocLength: only block-size values
  w.Be32(kPsarcTocEntrySize);  // tocEntrySize
  w.Be32(0);                   // tocEntryCount
  w.Be32(kPsarcBlockSize);     // blockSize
  w.Be32(0);
  w.Be16(0);
  w.Be16(7);
  w.Zeros(52);
  ok = Save("archive", "psarc-no-entries", w.bytes()) && ok;
  if (!ok) std::fprintf(stderr, "archive seeds: %s\n", error.c_str());
  return ok;
}

// pkg_lz: 4 control bytes (plain size), then the stored bytes.
Bytes LzSeed(uint32_t plain, const Bytes& stored) {
  CByteWriter w;
  w.Le32(plain);
  w.Raw(stored.data(), stored.size());
  return w.bytes();
}

Bytes LzTokens(int32_t decodedLength, uint8_t escape, const Bytes& tokens) {
  CByteWriter w;
  w.Le32(static_cast<uint32_t>(decodedLength));
  w.Le32(static_cast<uint32_t>(12 + tokens.size()));  // endOffset
  w.U8(escape);
  w.Zeros(3);
  w.Raw(tokens.data(), tokens.size());
  return w.bytes();
}

bool LzSeeds() {
  bool ok = true;
  const Bytes text = Text("to be or not to be, that is the question; to be or not to be");
  ok = Save("pkg_lz", "encoded-text",
            LzSeed(static_cast<uint32_t>(text.size()), EncodePkgLz(text.data(), text.size()))) &&
       ok;
  const Bytes run(700, 'x');
  ok = Save("pkg_lz", "encoded-run", LzSeed(700, EncodePkgLz(run.data(), run.size()))) && ok;
  ok =
      Save("pkg_lz", "copy-repeat", LzSeed(6, LzTokens(6, 0xFF, {0x41, 0x42, 0xFF, 0x02, 0x04}))) &&
      ok;
  ok = Save("pkg_lz", "escaped-escape", LzSeed(3, LzTokens(3, 0xFF, {0x41, 0xFF, 0xFF, 0x42}))) &&
       ok;
  ok = Save("pkg_lz", "distance-zero", LzSeed(4, LzTokens(4, 0x00, {0x00, 0x01, 0x04}))) && ok;
  ok =
      Save("pkg_lz", "overrun", LzSeed(3, LzTokens(3, 0xFF, {0x41, 0x42, 0xFF, 0x02, 0x08}))) && ok;
  ok = Save("pkg_lz", "near-wrap",
            Bytes{0x05, 0, 0, 0x80, 1, 0, 0, 0, 13, 0, 0, 0, 0xFF, 0, 0, 0, 0x41}) &&
       ok;
  return ok;
}

// psarc_blocks: 4 control bytes (size), first block, value count, u16 values, stored bytes.
Bytes BlockSeed(uint32_t control, uint8_t first, const std::vector<uint16_t>& values,
                const Bytes& stored) {
  CByteWriter w;
  w.Le32(control);
  w.U8(first);
  w.U8(static_cast<uint8_t>(values.size()));
  for (uint16_t v : values) {
    w.U8(static_cast<uint8_t>(v));
    w.U8(static_cast<uint8_t>(v >> 8));
  }
  w.Raw(stored.data(), stored.size());
  return w.bytes();
}

bool BlockSeeds() {
  bool ok = true;
  const Bytes plain = Text("a short entry, inflated from one block of its own; a short entry");
  const Bytes z = Compressed(plain);
  ok = Save("psarc_blocks", "one-inflated",
            BlockSeed(static_cast<uint32_t>(plain.size()), 0, {static_cast<uint16_t>(z.size())},
                      z)) &&
       ok;
  ok = Save("psarc_blocks", "one-plain", BlockSeed(5, 0, {5}, Text("plain"))) && ok;
  // A full block (value 0, its bytes zero past the input) then a compressed tail.
  const Bytes tail = Compressed(Bytes(1000, 't'));
  Bytes stored(100, 'f');
  ok = Save("psarc_blocks", "full-then-inflated",
            BlockSeed(65536 + 1000, 1, {9, 0, static_cast<uint16_t>(65536 - 100 + tail.size())},
                      stored)) &&
       ok;
  Bytes broken = z;
  broken.resize(z.size() / 2);
  ok = Save("psarc_blocks", "truncated-stream",
            BlockSeed(static_cast<uint32_t>(plain.size()), 0,
                      {static_cast<uint16_t>(broken.size())}, broken)) &&
       ok;
  // Blocks as long as their plain bytes: copied as they stand unless zlib ends exactly there.
  const Bytes storedStream = Compressed(Noise(300, 3));
  ok = Save("psarc_blocks", "stored-zlib-stream",
            BlockSeed(static_cast<uint32_t>(storedStream.size()), 0,
                      {static_cast<uint16_t>(storedStream.size())}, storedStream)) &&
       ok;
  const Bytes stored9c = Compressed(Noise(300, 5), 6);  // header 0x78 0x9C
  ok = Save("psarc_blocks", "stored-zlib-stream-789c",
            BlockSeed(static_cast<uint32_t>(stored9c.size()), 0,
                      {static_cast<uint16_t>(stored9c.size())}, stored9c)) &&
       ok;
  const Bytes da07 = {0x78, 0xDA, 0x07, 0x11, 0x22, 0x33, 0x44, 0x55};
  ok = Save("psarc_blocks", "plain-78da07", BlockSeed(8, 0, {8}, da07)) && ok;
  Bytes fullThenPlain = Compressed(Bytes(65536, 'a'));
  const uint16_t firstValue = static_cast<uint16_t>(fullThenPlain.size());
  fullThenPlain.insert(fullThenPlain.end(), da07.begin(), da07.end());
  ok = Save("psarc_blocks", "compressed-then-plain-78da07",
            BlockSeed(65536 + 8, 0, {firstValue, 8}, fullThenPlain)) &&
       ok;
  const Bytes exact = ExactLengthStream();
  ok = Save("psarc_blocks", "stream-as-long-as-its-plain-bytes",
            BlockSeed(static_cast<uint32_t>(exact.size()), 0, {static_cast<uint16_t>(exact.size())},
                      exact)) &&
       ok;
  ok = Save("psarc_blocks", "past-the-table", BlockSeed(65536 * 3, 2, {0, 0, 0}, Text("xy"))) && ok;
  ok = Save("psarc_blocks", "size-wraps", BlockSeed(0x80000009u, 0, {4}, Text("abcd"))) && ok;
  return ok;
}

// psarc_inflate: 2 bytes (plain bytes due, less one), 1 flag byte, then the block.
Bytes InflateSeed(uint32_t due, uint8_t flags, const Bytes& block) {
  CByteWriter w;
  w.U8(static_cast<uint8_t>(due - 1));
  w.U8(static_cast<uint8_t>((due - 1) >> 8));
  w.U8(flags);
  w.Raw(block.data(), block.size());
  return w.bytes();
}

bool InflateSeeds() {
  bool ok = true;
  // One stream of each kind the fast decoder and zlib read differently.
  int n = 0;
  for (const ReservedCodeStream& r : ReservedCodeStreams()) {
    ok = Save("psarc_inflate", "reserved-" + std::to_string(++n),
              InflateSeed(static_cast<uint32_t>(r.fastPlain.size()), 0, r.stream)) &&
         ok;
  }
  Bytes plain = Text(std::string(40, 'a') + "bcdefgh, the stream of a short block; ");
  const Bytes noise = Noise(200, 5);
  plain.insert(plain.end(), noise.begin(), noise.end());
  for (int level : {1, 6, 9}) {
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    Bytes z(size);
    compress2(z.data(), &size, plain.data(), static_cast<uLong>(plain.size()), level);
    z.resize(size);
    const uint32_t due = static_cast<uint32_t>(plain.size());
    ok = Save("psarc_inflate", "level-" + std::to_string(level), InflateSeed(due, 0, z)) && ok;
    ok = Save("psarc_inflate", "level-" + std::to_string(level) + "-more-due",
              InflateSeed(due + 100, 2, z)) &&
         ok;
    Bytes cut(z.begin(), z.begin() + static_cast<long>(z.size() / 2));
    ok = Save("psarc_inflate", "level-" + std::to_string(level) + "-cut",
              InflateSeed(due, 0, cut)) &&
         ok;
    Bytes padded = z;
    padded.resize(plain.size(), 0);
    ok = Save("psarc_inflate", "level-" + std::to_string(level) + "-padded",
              InflateSeed(due, 1, padded)) &&
         ok;
  }
  return ok;
}

bool TextSeeds() {
  bool ok = true;
  // Code page index, width (le16), then the text.
  auto seed = [](uint8_t cp, uint16_t width, const std::string& text) {
    Bytes b{cp, static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8)};
    b.insert(b.end(), text.begin(), text.end());
    return b;
  };
  ok = Save("ansi_text", "cp932-cut", seed(0, 6, "ab\x82\xa0\x82\xa2\x82\xa4")) && ok;
  ok = Save("ansi_text", "cp936-lead-at-end", seed(1, 64, std::string(63, 'a') + "\xb0\xa1")) && ok;
  ok = Save("ansi_text", "cp949-short", seed(2, 255, "\xb0\xa1\xb0")) && ok;
  ok = Save("ansi_text", "cp950-terminated",
            seed(3, 20, std::string("\xa4\x40", 2) + std::string(1, '\0') + "zz")) &&
       ok;
  ok = Save("ansi_text", "cp1252-long", seed(4, 255, std::string(300, 'n'))) && ok;
  return ok;
}

// psarc_names: the entry count less one, then the manifest text.
bool NameSeeds() {
  bool ok = true;
  auto seed = [](uint8_t entries, const std::string& text) {
    Bytes b{entries};
    b.insert(b.end(), text.begin(), text.end());
    return b;
  };
  // Shift-JIS names, one whose last character would straddle byte 255.
  const std::string kana = "\x82\xa0\x82\xa2\x82\xa4";
  ok = Save("psarc_names", "cp932-lines", seed(3, "a/" + kana + "\nb.txt\n" + kana + kana)) && ok;
  ok = Save("psarc_names", "cp932-cut-at-255",
            seed(2, std::string(254, 'x') + kana + "\n" + std::string(253, 'y') + kana)) &&
       ok;
  // A lead byte right before the line break, and one at the very end of the text.
  ok = Save("psarc_names", "lead-before-break", seed(3, "ab\x82\ncd\x82")) && ok;
  // No final line break: later entries repeat the last line; a zero ends the text.
  ok = Save("psarc_names", "repeats-and-zero",
            seed(6, std::string("one\ntwo", 7) + '\0' + "three")) &&
       ok;
  ok = Save("psarc_names", "crlf", seed(2, "dos\r\nname\r\n")) && ok;
  // The later layout's manifests: sorted names between zero bytes, with and without a
  // final zero; names with '/' and of either case; a text with zeros and line breaks; a
  // name twice; empty names; Shift-JIS names cut at 255 between zeros.
  ok = Save("psarc_names", "zero-separated-final-zero",
            seed(5, std::string("/Data/a.txt\0/Data/b.TXT\0/data/c.txt\0/x\0", 40))) &&
       ok;
  ok = Save("psarc_names", "zero-separated", seed(3, std::string("A\0b\0C", 5))) && ok;
  ok = Save("psarc_names", "zeros-and-lines", seed(4, std::string("x\ny\0z\0x\ny", 9))) && ok;
  ok = Save("psarc_names", "empty-names", seed(8, std::string("\0\0\0a\0\0", 6))) && ok;
  ok = Save("psarc_names", "cp932-zero-separated",
            seed(3, std::string(254, 'x') + kana + '\0' + std::string(253, 'y') + kana + '\0' +
                        "/" + kana)) &&
       ok;
  return ok;
}

}  // namespace

// Damaged archives for the archive check, each made from a whole one by one edit.
bool CheckSeeds() {
  bool ok = true;
  std::string error;
  const std::vector<ArchiveInput> inputs = {
      {"a.txt", Bytes(70000, 'a')}, {"n.bin", Noise(300, 7)}, {"t.txt", Text("text text text")}};
  Bytes psarc;
  if (!WritePsarc(inputs, PsarcWriterOptions(), &psarc, &error)) return false;
  // Row i of the table of contents at 32 + 30 i; the first block index at 16, the offset
  // at 25 (40 bits).
  const auto offsetOf = [&psarc](size_t i) {
    uint64_t v = 0;
    for (size_t k = 0; k < 5; ++k) v = v << 8 | psarc[32 + 30 * i + 25 + k];
    return static_cast<size_t>(v);
  };
  Bytes flipped = psarc;
  flipped[offsetOf(1) + 20] ^= 0x08;
  ok = Save("archive_check", "psarc-flipped-bit", flipped) && ok;
  Bytes swapped = psarc;
  for (size_t k = 0; k < 16; ++k) std::swap(swapped[32 + 30 + k], swapped[32 + 60 + k]);
  ok = Save("archive_check", "psarc-swapped-digests", swapped) && ok;
  Bytes cut = psarc;
  cut.resize(offsetOf(3) + 3);
  ok = Save("archive_check", "psarc-cut", cut) && ok;
  PsarcWriterOptions later;
  later.tocByDigest = true;
  later.zeroSeparated = true;
  later.upperCaseDigests = true;
  later.shareIdentical = true;
  std::vector<ArchiveInput> twins = inputs;
  twins.push_back({"B/copy.bin", Noise(300, 7)});
  Bytes shared;
  if (!WritePsarc(twins, later, &shared, &error)) return false;
  ok = Save("archive_check", "psarc-later-shared", shared) && ok;

  PkgWriterOptions coded;
  coded.compression = PkgCompression::kAlways;
  Bytes pkg;
  if (!WritePkg(inputs, coded, &pkg, &error)) return false;
  // Directory row i at 8 + 80 i: the stored size at 68.
  Bytes shortStream = pkg;
  shortStream[8 + 68] = static_cast<uint8_t>(shortStream[8 + 68] - 1);
  ok = Save("archive_check", "pkg-stream-one-short", shortStream) && ok;
  return ok;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
    return 2;
  }
  root = argv[1];
  const bool ok = Archives() && LzSeeds() && BlockSeeds() && InflateSeeds() && TextSeeds() &&
                  NameSeeds() && CheckSeeds();
  return ok ? 0 : 1;
}
