// PSARC names in the later layout, through the real module: each entry named by the
// manifest name whose digest is its own, zero-separated manifests, the names an entry
// whose digest is no name's keeps, and the bound on the names sought. Every expected name
// is also held to the definition in reference/, which the names fuzz target checks against.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

#include "bytes/byte_order.h"
#include "digest/md5.h"
#include "platform/win32_api.h"
#include "psarc/psarc.h"
#include "reference/reference.h"
#include "tests/support/psarc_test_support.h"

namespace {

typedef std::array<uint8_t, 16> Digest;

Digest Md5Of(const std::string& s) {
  Digest d;
  Md5Digest(s.data(), s.size(), d.data());
  return d;
}

const Digest kZero = {};
// The digest of no name in any manifest below.
const Digest kNoName = Md5Of("\x01 no name");

// Entry 0 holds the manifest, in blocks as the writer stores them; one empty entry
// follows per digest.
Bytes NamedArchive(const std::string& manifest, uint32_t flags,
                   const std::vector<Digest>& digests) {
  PsarcLayout l;
  l.flags = flags;
  const auto* text = reinterpret_cast<const uint8_t*>(manifest.data());
  AppendPsarcEntry(&l, manifest.size(), PsarcBlocksOf(text, manifest.size(), 9));
  for (const Digest& d : digests) {
    const size_t i = AppendPsarcEntry(&l, 0, {});
    std::memcpy(l.entries[i].digest, d.data(), d.size());
  }
  return WritePsarcLayout(l);
}

// The names the definition gives for the manifest laid out above.
std::vector<std::string> DefinedNames(const std::string& manifest, uint32_t flags,
                                      const std::vector<Digest>& digests) {
  Bytes buffer = BytesOf(manifest);
  buffer.resize(manifest.size() + kPsarcWorkMargin, 0);
  std::vector<Digest> all = {kZero};
  all.insert(all.end(), digests.begin(), digests.end());
  return PsarcNamesDefinition(buffer.data(), buffer.size(), manifest.size(), flags, all);
}

struct NameCase {
  const char* what;
  uint32_t flags;
  std::string manifest;
  std::vector<Digest> digests;  // of entries 1 onward
  std::vector<std::string> names;
};

std::string Z(const char* s, size_t n) { return std::string(s, n); }

TEST(PsarcNamesByDigest, EachEntryTakesTheNameWhoseDigestIsItsOwn) {
  const Digest a = Md5Of("a"), b = Md5Of("b"), c = Md5Of("c");
  const NameCase cases[] = {
      {"0x04: table in digest order, lines in the order written",
       0x04,
       "a\nb\nc",
       {c, a, b},
       {"c", "a", "b"}},
      {"0x08: zero-separated", 0x08, Z("a\0b\0c", 5), {b, c, a}, {"b", "c", "a"}},
      {"0x08: a zero after the last name", 0x08, Z("a\0b\0c\0", 6), {c, b, a}, {"c", "b", "a"}},
      {"0x0C: both", 0x0C, Z("a\0b\0c", 5), {c, a, b}, {"c", "a", "b"}},
      {"0x05: upper-cased digests",
       0x05,
       "Dir/A.txt\nb.TXT",
       {Md5Of("B.TXT"), Md5Of("DIR/A.TXT")},
       {"b.TXT", "Dir/A.txt"}},
      {"0x06: names with '/', digests with and without it",
       0x06,
       "/x/a\n/y/b",
       {Md5Of("/y/b"), Md5Of("x/a")},
       {"/y/b", "/x/a"}},
      {"0x0F: everything",
       0x0F,
       Z("/Q/one\0/q/two", 13),
       {Md5Of("Q/TWO"), Md5Of("Q/ONE")},
       {"/q/two", "/Q/one"}},
      {"0x09, no 0x02: a name matched only without its '/'",
       0x09,
       Z("/a\0/b", 5),
       {Md5Of("b"), Md5Of("a")},
       {"/b", "/a"}},
      {"a digest that is no name's: the name at its position",
       0x04,
       "a\nb\nc",
       {c, kNoName, a},
       {"c", "b", "a"}},
      {"two entries with one digest", 0x04, "a\nb", {b, b}, {"b", "b"}},
      {"a name twice", 0x04, "a\na\nb", {a, kNoName, b, a}, {"a", "a", "b", "a"}},
      {"more names than entries", 0x04, "a\nb\nc\nd\ne", {Md5Of("e"), Md5Of("d")}, {"e", "d"}},
      {"fewer names than entries: the last line again",
       0x04,
       "a\nb",
       {b, kNoName, kNoName, a},
       {"b", "b", "b", "a"}},
      {"fewer names, a final line break: empty names",
       0x04,
       "a\nb\n",
       {kNoName, kNoName, kNoName},
       {"a", "b", ""}},
      {"fewer names, zero-separated: the last name again",
       0x08,
       Z("a\0b\0", 4),
       {kNoName, b, kNoName},
       {"a", "b", "b"}},
      {"all digests zero: by position", 0x04, "a\nb\nc", {kZero, kZero, kZero}, {"a", "b", "c"}},
      {"all digests zero, zero-separated",
       0x08,
       Z("c\0a\0b", 5),
       {kZero, kZero, kZero},
       {"c", "a", "b"}},
      {"the name as it stands before the name without '/'", 0x04, "/x\nx", {Md5Of("x")}, {"x"}},
      {"as it stands before upper-cased", 0x05, "a.txt\nA.TXT", {Md5Of("A.TXT")}, {"A.TXT"}},
      {"among upper-cased forms, the first name",
       0x05,
       "a.txt\nA.txt",
       {Md5Of("A.TXT")},
       {"a.txt"}},
      {"0x04, zeros and no line break: split at zeros", 0x04, Z("a\0b", 3), {b, a}, {"b", "a"}},
      {"0x04, a line break and a zero: the text ends at the zero",
       0x04,
       Z("a\nb\0c\nd", 7),
       {Md5Of("c"), Md5Of("d")},
       {"a", "b"}},
      {"0x08 without a zero: split at line breaks", 0x08, "a\nb", {b, a}, {"b", "a"}},
      {"0x08 with zeros and line breaks: names hold the line breaks",
       0x08,
       Z("x\ny\0z", 5),
       {Md5Of("z"), Md5Of("x\ny")},
       {"z", "x\ny"}},
      {"0x01 alone: by position", 0x01, "a\nb", {b, a}, {"a", "b"}},
      {"0x02 alone: by position", 0x02, "a\nb", {b, a}, {"a", "b"}},
      {"0x03 alone: by position, zeros end the text", 0x03, Z("a\0b", 3), {b, a}, {"a", "a"}},
      {"an empty manifest", 0x0C, "", {Md5Of(""), kNoName}, {"", ""}},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.digests.size(), c.names.size());
    EXPECT_EQ(DefinedNames(c.manifest, c.flags, c.digests), c.names) << "the definition";
    HostListing listing = ListArchive(NamedArchive(c.manifest, c.flags, c.digests));
    ASSERT_EQ(listing.result, 0);
    ASSERT_EQ(listing.count, static_cast<int32_t>(c.names.size() + 1));
    EXPECT_STREQ(listing.entries[0].name, "NamesBlock.bin");
    for (size_t j = 1; j <= c.names.size(); ++j) {
      // The name and its terminator over the generated name, nothing more.
      const std::string field = PsarcNameField(static_cast<uint32_t>(j), c.names[j - 1], GetACP());
      EXPECT_EQ(std::string(listing.entries[j].name, sizeof(listing.entries[j].name)), field)
          << "entry " << j;
    }
  }
}

// Inputs whose names sort, and whose digests sort, in other orders than given; upper- and
// lower-case names; three entries sharing one content and two another.
std::vector<ArchiveInput> LaterLayoutInputs(size_t count) {
  std::vector<ArchiveInput> inputs;
  for (size_t i = 0; i < count; ++i) {
    std::string name = (i % 3 == 0 ? "Data/" : "data/") + std::to_string((i * 7919) % 10007);
    name += i % 2 == 0 ? ".BIN" : ".txt";
    Bytes data = i % 13 == 5   ? BytesOf("shared")
                 : i % 17 == 3 ? NoiseBytes(900, 17)
                               : TextBytes(i * 31 + 1);
    inputs.push_back({name, data});
  }
  return inputs;
}

// Lists an archive of the later layout written with `flags` and checks that every entry
// has the name of the input whose digest its row holds, and that input's contents. Returns
// how many entries a listing by position alone would have named otherwise.
size_t CheckLaterLayout(const std::vector<ArchiveInput>& inputs, uint32_t flags,
                        bool digestWithoutSlash) {
  PsarcWriterOptions options;
  options.upperCaseDigests = (flags & kPsarcFlagUpperCaseDigests) != 0;
  options.leadingSlash = (flags & kPsarcFlagLeadingSlash) != 0;
  options.tocByDigest = (flags & kPsarcFlagTocByDigest) != 0;
  options.zeroSeparated = (flags & kPsarcFlagZeroSeparated) != 0;
  options.digestWithoutSlash = digestWithoutSlash;
  options.shareIdentical = true;
  Bytes archive;
  std::string error;
  EXPECT_TRUE(WritePsarc(inputs, options, &archive, &error)) << error;
  std::map<Digest, size_t> byDigest;
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::string name = options.leadingSlash && !digestWithoutSlash ? "/" : "";
    name += options.upperCaseDigests ? PsarcUpperCased(inputs[i].name) : inputs[i].name;
    byDigest[Md5Of(name)] = i;
  }
  PsarcRoundTrip trip = ListAndExtractAll(archive);
  EXPECT_EQ(trip.listing.result, 0);
  EXPECT_EQ(trip.listing.count, static_cast<int32_t>(inputs.size() + 1));
  if (trip.listing.count != static_cast<int32_t>(inputs.size() + 1)) return 0;
  // The lines by position, as the listing used to name the entries.
  std::vector<std::string> lines;
  std::string line;
  for (uint8_t ch : trip.contents[0]) {
    if (ch == (options.zeroSeparated ? 0 : '\n')) {
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(ch);
    }
  }
  lines.push_back(line);
  size_t otherwise = 0;
  for (size_t row = 1; row <= inputs.size(); ++row) {
    Digest d;
    std::memcpy(d.data(), archive.data() + 32 + 30 * row, 16);
    const auto at = byDigest.find(d);
    EXPECT_NE(at, byDigest.end()) << "row " << row;
    if (at == byDigest.end()) continue;
    const ArchiveInput& in = inputs[at->second];
    const std::string written = (options.leadingSlash ? "/" : "") + in.name;
    EXPECT_EQ(std::string(trip.listing.entries[row].name), written) << "row " << row;
    EXPECT_EQ(trip.contents[row], in.data) << written;
    if (lines[row - 1] != written) ++otherwise;
  }
  return otherwise;
}

TEST(PsarcNamesByDigest, EveryFlagCombinationThroughTheWriters) {
  const std::vector<ArchiveInput> inputs = LaterLayoutInputs(41);
  for (uint32_t flags = 0; flags < 16; ++flags) {
    for (bool withoutSlash : {false, true}) {
      if (withoutSlash && (flags & kPsarcFlagLeadingSlash) == 0) continue;
      SCOPED_TRACE(::testing::Message() << "flags " << flags << (withoutSlash ? ", no '/'" : ""));
      const size_t otherwise = CheckLaterLayout(inputs, flags, withoutSlash);
      // Where the table or the manifest is sorted, naming by position alone fails, as it
      // did: 40 of 41 entries in a digest-ordered table.
      if ((flags & (kPsarcFlagTocByDigest | kPsarcFlagZeroSeparated)) != 0) {
        EXPECT_GE(otherwise, 30u);
      } else {
        EXPECT_EQ(otherwise, 0u);
      }
    }
  }
}

TEST(PsarcNamesByDigest, TwoThousandEntries) {
  const std::vector<ArchiveInput> inputs = LaterLayoutInputs(2000);
  EXPECT_GE(CheckLaterLayout(inputs, 0x0F, true), 1900u);
  EXPECT_GE(CheckLaterLayout(inputs, 0x04, false), 1900u);
}

// One family of writers marks an encrypted table of contents with 0x04: its digests are
// no name's, and such an archive lists as it would without the flag.
TEST(PsarcNamesByDigest, DigestsOfNoNameListAsWithoutTheFlagOverTheCorpus) {
  for (const PsarcCorpusCase& c : PsarcCorpus()) {
    SCOPED_TRACE(c.name);
    Bytes scrambled = c.archive;
    const uint32_t count = be32(scrambled.data() + kPsarcHeaderTocEntryCountAt);
    for (uint64_t i = 1; i < count && 32 + 30 * (i + 1) <= scrambled.size(); ++i) {
      for (size_t k = 0; k < 16; ++k) scrambled[32 + 30 * i + k] ^= 0x5A;
    }
    const HostListing plain = ListArchive(scrambled);
    scrambled[kPsarcHeaderFlagsAt + 3] |= kPsarcFlagTocByDigest;
    const HostListing flagged = ListArchive(scrambled);
    ASSERT_EQ(plain.result, 0);
    ASSERT_EQ(flagged.result, 0);
    ASSERT_EQ(flagged.count, plain.count);
    for (int32_t i = 0; i < plain.count; ++i) {
      ASSERT_EQ(std::memcmp(&flagged.entries[i], &plain.entries[i], sizeof(ArchiveEntry)), 0)
          << "entry " << i;
    }
  }
}

// Whatever the flags, every name field is the definition's: the writers' archives and the
// hostile ones of the corpus, as they are (no flag: by position, as before) and with the
// later layout's flags set over the same bytes.
TEST(PsarcNamesByDigest, EveryNameIsTheDefinitionsOverTheCorpus) {
  for (const PsarcCorpusCase& c : PsarcCorpus()) {
    for (uint32_t flags : {0u, 0x04u, 0x08u, 0x0Fu}) {
      SCOPED_TRACE(c.name + ", flags " + std::to_string(flags));
      Bytes archive = c.archive;
      archive[kPsarcHeaderFlagsAt + 3] = static_cast<uint8_t>(flags);
      CArchiveFile file(archive);
      const HostListing listing = ListArchive(file.source());
      ASSERT_EQ(listing.result, 0);
      if (listing.count < 2) continue;
      const ArchiveEntry& manifest = listing.entries[0];
      const BlockTable* table = manifest.blockTable;
      Cbuffer text;
      DecodeEntryFromFile(file.source(), &text, table->storedSizes, table->blockSize, &manifest);
      ASSERT_NE(text.data, nullptr);
      std::vector<Digest> digests(listing.count);
      for (int32_t i = 1; i < listing.count; ++i) {
        if (32 + 30 * size_t(i) + 16 <= archive.size()) {
          std::memcpy(digests[i].data(), archive.data() + 32 + 30 * i, 16);
        }
      }
      const std::vector<std::string> names = PsarcNamesDefinition(
          text.data, text.length, text.length - kPsarcWorkMargin, flags, digests);
      for (int32_t j = 1; j < listing.count; ++j) {
        ASSERT_EQ(std::string(listing.entries[j].name, 256),
                  PsarcNameField(static_cast<uint32_t>(j), names[j - 1], GetACP()))
            << "entry " << j;
      }
    }
  }
}

TEST(PsarcNamesByDigest, NamesPastTheBoundAreNotSought) {
  // Two entries: the first 65536 names are sought, the 65537th is not.
  std::string manifest;
  for (uint32_t k = 0; k <= kPsarcDigestNamesAtLeast; ++k) {
    if (k != 0) manifest += '\0';
    manifest += "n" + std::to_string(k);
  }
  const std::vector<Digest> digests = {Md5Of("n65535"), Md5Of("n65536")};
  const std::vector<std::string> names = {"n65535", "n1"};
  EXPECT_EQ(DefinedNames(manifest, 0x08, digests), names);
  HostListing listing = ListArchive(NamedArchive(manifest, 0x08, digests));
  ASSERT_EQ(listing.count, 3);
  EXPECT_EQ(std::string(listing.entries[1].name), names[0]);
  EXPECT_EQ(std::string(listing.entries[2].name), names[1]) << "by position";
}

TEST(PsarcNamesCp932, ZeroSeparatedNamesAreCutWithoutSplittingACharacter) {
  if (GetACP() != 932) GTEST_SKIP() << "needs the double-byte code page 932";
  const std::string exact = std::string(253, 'b') + "\x82\xA0";           // 255 bytes: whole
  const std::string longer = std::string(254, 'a') + "\x82\xA0\x82\xA2";  // lead byte at 254
  const std::string manifest = longer + '\0' + exact + '\0';
  HostListing listing =
      ListArchive(NamedArchive(manifest, 0x0C, {Md5Of(exact), Md5Of(longer), kNoName}));
  ASSERT_EQ(listing.count, 4);
  EXPECT_EQ(std::string(listing.entries[1].name), exact);
  EXPECT_EQ(std::string(listing.entries[2].name), std::string(254, 'a'));
  EXPECT_EQ(std::string(listing.entries[3].name), exact) << "by position: the last name again";
}

TEST(PsarcNamesAnsi, ZeroSeparatedNamesAreCutAtExactly255) {
  if (GetACP() == 932) GTEST_SKIP() << "the double-byte case is covered above";
  const std::string longer = std::string(254, 'a') + "\x82\xA0\x82\xA2";
  HostListing listing = ListArchive(NamedArchive(longer + '\0', 0x08, {Md5Of(longer)}));
  ASSERT_EQ(listing.count, 2);
  EXPECT_EQ(std::string(listing.entries[1].name), std::string(254, 'a') + "\x82");
}

}  // namespace
