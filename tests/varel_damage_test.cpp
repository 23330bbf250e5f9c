// End to end: archives cut short or of a kind the plug-in does not take, as list, extract,
// cat and detect meet them. Damage is never success: every damaged entry is named on
// stderr (or a run of them in one line), the whole ones are extracted, and the exit code
// is 1.
#include <cstring>
#include <string>
#include <vector>

#include "bytes/byte_order.h"
#include "tests/support/psarc_test_support.h"
#include "tests/varel_test_support.h"

namespace {

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Entries of incompressible bytes, so that each one's stored bytes are as long as it is
// and a cut lands where the test puts it.
std::vector<ArchiveInput> NoiseInputs(size_t count, size_t size) {
  std::vector<ArchiveInput> inputs;
  for (size_t i = 0; i < count; ++i) {
    inputs.push_back(
        {std::string(1, static_cast<char>('a' + i % 26)) + std::to_string(i / 26) + ".bin",
         MadeBytes(size, static_cast<uint32_t>(i), false)});
  }
  return inputs;
}

// The file positions of the stored bytes of a PSARC's record i and a PKG's entry i.
uint64_t PsarcOffset(const Bytes& archive, size_t i) { return be40(&archive[32 + 30 * i + 25]); }
uint64_t PkgOffset(const Bytes& archive, size_t i) { return le32(&archive[8 + 80 * i + 72]); }

Bytes Cut(Bytes bytes, uint64_t size) {
  bytes.resize(static_cast<size_t>(size));
  return bytes;
}

// A PSARC of 6 entries after its name list: records from 32, 30 bytes each.
const Bytes& SixPsarc() {
  static const Bytes archive = PackPsarc(NoiseInputs(6, 1000));
  return archive;
}
// A PKG of 20 entries: records from 8, 80 bytes each, stored bytes from 1608.
const Bytes& TwentyPkg() {
  static const Bytes archive = PackPkg(NoiseInputs(20, 100));
  return archive;
}

struct DamageCase {
  const char* name;
  Bytes archive;
  std::vector<std::string> messages;   // each once on stderr, for list and (with a suffix) extract
  std::vector<std::string> extracted;  // the files written
  size_t listedRows;                   // entries list shows
};

std::vector<DamageCase> DamageCases() {
  const Bytes& psarc = SixPsarc();
  const Bytes& pkg = TwentyPkg();
  const uint64_t psarcInEntry = PsarcOffset(psarc, 4) + 500;
  const uint64_t pkgInEntry = PkgOffset(pkg, 18) + 50;
  const std::string psarcCut = " (the file ends at " + std::to_string(psarcInEntry) + " bytes)";
  const std::string pkgCut = " (the file ends at " + std::to_string(pkgInEntry) + " bytes)";
  // An empty entry after a noise entry: its offset lies past a cut inside the noise.
  const Bytes withEmpty = PackPkg({{"a.bin", MadeBytes(500, 1, false)}, {"z.empty", Bytes()}});
  return {
      // Nothing stored, nothing lost: the empty entry is whole wherever its offset points.
      {"pkg cut before an empty entry's offset",
       Cut(withEmpty, PkgOffset(withEmpty, 0) + 100),
       {"entry 0 'a.bin': stored bytes cut by the end of the file (the file ends at " +
        std::to_string(PkgOffset(withEmpty, 0) + 100) + " bytes)"},
       {"z.empty"},
       2},
      {"psarc cut at its header",
       Cut(psarc, 32),
       {"entries 0-6: record past the end of the file (the file ends at 32 bytes)"},
       {},
       0},
      // Records 0-2 whole (to byte 122), record 3 cut; every entry's bytes lie further on.
      {"psarc cut inside its table",
       Cut(psarc, 32 + 30 * 3 + 10),
       {"entries 0-2: stored bytes past the end of the file (the file ends at 132 bytes)",
        "entries 3-6: record past the end of the file (the file ends at 132 bytes)"},
       {},
       3},
      {"psarc cut inside an entry",
       Cut(psarc, psarcInEntry),
       {"entry 4 'd0.bin': stored bytes cut by the end of the file" + psarcCut,
        "entry 5 'e0.bin': stored bytes past the end of the file" + psarcCut,
        "entry 6 'f0.bin': stored bytes past the end of the file" + psarcCut},
       {"NamesBlock.bin", "a0.bin", "b0.bin", "c0.bin"},
       7},
      // Records 0-5 end at byte 488; record 6 is cut.
      {"pkg cut inside its directory",
       Cut(pkg, 500),
       {"entries 0-5: stored bytes past the end of the file (the file ends at 500 bytes)",
        "entries 6-19: record past the end of the file (the file ends at 500 bytes)"},
       {},
       6},
      {"pkg cut inside an entry",
       Cut(pkg, pkgInEntry),
       {"entry 18 's0.bin': stored bytes cut by the end of the file" + pkgCut,
        "entry 19 't0.bin': stored bytes past the end of the file" + pkgCut},
       {"a0.bin", "b0.bin", "c0.bin", "d0.bin", "e0.bin", "f0.bin", "g0.bin", "h0.bin", "i0.bin",
        "j0.bin", "k0.bin", "l0.bin", "m0.bin", "n0.bin", "o0.bin", "p0.bin", "q0.bin", "r0.bin"},
       20},
  };
}

TEST_F(VarelRun, DamagedArchivesAreReportedEntryByEntryAndFail) {
  for (const DamageCase& c : DamageCases()) {
    SCOPED_TRACE(c.name);
    WriteFile("cut.a", c.archive);
    ProcessResult r = Varel({"list", "cut.a"});
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    for (const std::string& m : c.messages) {
      EXPECT_EQ(Count(TextOf(r.err), "varel list: cut.a: " + m + "\n"), 1u) << m << "\n" << r.err;
    }
    EXPECT_EQ(Count(TextOf(r.err), "\n"), c.messages.size()) << r.err;
    EXPECT_TRUE(Contains(r.out, std::to_string(c.listedRows) + " entr")) << r.out;

    r = Varel({"extract", "cut.a", "-o", "out"});
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    for (const std::string& m : c.messages) {
      EXPECT_EQ(Count(TextOf(r.err), "varel extract: cut.a: " + m + "; not extracted\n"), 1u)
          << m << "\n"
          << r.err;
    }
    EXPECT_EQ(Count(TextOf(r.err), "\n"), c.messages.size()) << "no other message\n" << r.err;
    FileTree back = ReadTree(At("out"));
    std::vector<std::string> names;
    for (const auto& f : back) names.push_back(f.first);
    EXPECT_EQ(names, c.extracted);
    if (c.extracted.empty()) {
      EXPECT_EQ(GetPathKind(At("out")), PathKind::kMissing) << "nothing to write, no folder";
    }
    RemoveTree(At("out"));
  }
}

TEST_F(VarelRun, CatOfADamagedEntryFails) {
  WriteFile("cut.pkg", Cut(TwentyPkg(), 500));
  struct Case {
    const char* entry;
    const char* message;
  };
  const Case cases[] = {
      {"a0.bin",
       "cut.pkg: entry 0 (a0.bin): stored bytes past the end of the file (the file ends at "
       "500 bytes)"},
      {"#12", "cut.pkg: entry 12 (): record past the end of the file"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Varel({"cat", "cut.pkg", c.entry});
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, c.message)) << c.message << "\n" << r.err;
  }
  // A whole entry of the same archive still comes out.
  WriteFile("cut.psarc", Cut(SixPsarc(), PsarcOffset(SixPsarc(), 4) + 500));
  const ProcessResult r = Varel({"cat", "cut.psarc", "c0.bin"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(BytesOf(r.out) == MadeBytes(1000, 2, false));
}

// A file that begins as a PSARC in a variant the plug-in does not take is named as such,
// not as "not an archive".
TEST_F(VarelRun, UnsupportedPsarcVariantsAreNamed) {
  struct Case {
    const char* name;
    void (*change)(PsarcLayout*);
    const char* what;
  };
  const Case cases[] = {
      {"lzma.psarc", [](PsarcLayout* l) { std::memcpy(l->compression, "lzma", 4); },
       "psarc, lzma compression: not supported"},
      {"big.psarc", [](PsarcLayout* l) { l->blockSize = 131072; },
       "psarc, block size 131072: not supported"},
      {"both.psarc",
       [](PsarcLayout* l) {
         std::memcpy(l->compression, "oodl", 4);
         l->blockSize = 32768;
       },
       "psarc, oodl compression, block size 32768: not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PsarcLayout layout = LayoutWithManifest("a.txt");
    AppendPsarcEntry(&layout, 3, {PlainBlock(BytesOf("abc"))});
    c.change(&layout);
    WriteFile(c.name, WritePsarcLayout(layout));
    ProcessResult r = Varel({"detect", c.name});
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    EXPECT_EQ(TextOf(r.out), std::string(c.name) + ": " + c.what + "\n");
    for (const char* command : {"list", "extract"}) {
      r = Varel({command, c.name});
      EXPECT_EQ(r.exitCode, 1) << Describe(r);
      EXPECT_EQ(TextOf(r.err),
                std::string("varel ") + command + ": " + c.name + ": " + c.what + "\n");
    }
  }
  // A PSARC shorter than its header.
  WriteFile("short.psarc", Cut(SixPsarc(), 20));
  const ProcessResult r = Varel({"list", "short.psarc"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "short.psarc: a psarc header cut at 20 bytes")) << r.err;
}

// The listing holds 255 bytes of a name: a longer name is cut there, which varel says once,
// while a name of exactly 255 bytes is whole. The archive is not damaged: exit 0.
TEST_F(VarelRun, NamesCutToTheFieldAreReportedOnce) {
  const std::string whole(255, 'w');
  PsarcLayout layout = LayoutWithManifest("short\n" + std::string(300, 'n') + "\n" + whole + "\n" +
                                          std::string(256, 'm'));
  for (int i = 0; i < 4; ++i)
    AppendPsarcEntry(&layout, 1, {PlainBlock(BytesOf(std::to_string(i)))});
  WriteFile("long.psarc", WritePsarcLayout(layout));

  ProcessResult r = Varel({"list", "long.psarc"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(TextOf(r.err),
            "varel list: long.psarc: 2 names were cut to the 255 bytes a listing holds "
            "(entries 2, 4)\n");
  r = Varel({"extract", "long.psarc", "-o", "out"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(Count(TextOf(r.err), "2 names were cut"), 1u) << r.err;
  const FileTree back = ReadTree(At("out"));
  EXPECT_EQ(back.count(std::string(255, 'n')), 1u);
  EXPECT_EQ(back.count(std::string(255, 'm')), 1u);
  EXPECT_EQ(back.count(whole), 1u);
  // A pattern that leaves the cut names out leaves the note out.
  r = Varel({"list", "long.psarc", "short"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(TextOf(r.err), "");
}

// Under a double-byte code page (the cp932 run) the listing never splits a character, so a
// name whose 255th byte starts one is cut to 254 bytes; under 1252 to 255. Either way the
// cut is found and reported.
TEST_F(VarelRun, NameCutShortOfTheFieldIsReportedCp932) {
  // 254 single bytes, then a double-byte character in 932 (two characters in 1252).
  const std::string name = std::string(254, 'a') + "\x82\xa0" + "tail";
  PsarcLayout layout = LayoutWithManifest(name + "\n" + std::string(254, 'b'));
  for (int i = 0; i < 2; ++i) AppendPsarcEntry(&layout, 1, {PlainBlock(BytesOf("x"))});
  WriteFile("dbcs.psarc", WritePsarcLayout(layout));
  const ProcessResult r = Varel({"list", "dbcs.psarc"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(TextOf(r.err),
            "varel list: dbcs.psarc: 1 name was cut to the 255 bytes a listing holds (entry 1)\n");
}

// The same in the later layout, where each record takes the name whose digest is its
// own: entry 2 holds the cut name, entry 1 a name of 254 bytes that is whole.
TEST_F(VarelRun, NameCutInTheLaterLayoutIsReportedCp932) {
  const std::string name = std::string(254, 'a') + "\x82\xa0" + "tail";
  const std::string whole(254, 'b');
  PsarcLayout layout = LayoutWithManifest(name + '\0' + whole);
  layout.flags = kPsarcFlagTocByDigest | kPsarcFlagZeroSeparated;
  for (const std::string* n : {&whole, &name}) {
    const size_t i = AppendPsarcEntry(&layout, 1, {PlainBlock(BytesOf("x"))});
    PsarcNameDigest(*n, layout.entries[i].digest);
  }
  WriteFile("later.psarc", WritePsarcLayout(layout));
  const ProcessResult r = Varel({"list", "later.psarc"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_EQ(TextOf(r.err),
            "varel list: later.psarc: 1 name was cut to the 255 bytes a listing holds (entry 2)\n");
}

}  // namespace
