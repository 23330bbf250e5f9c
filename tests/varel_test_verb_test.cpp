// End to end: varel test. Whole archives of each format and layout test OK on any number
// of threads; each fault, made by editing a good archive's bytes, is reported on its entry
// with its reason and fails the run; the output is the same for every number of jobs;
// --json gives one parseable object per entry.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bytes/byte_order.h"
#include "pkg/pkg.h"
#include "psarc/psarc.h"
#include "tests/support/archive_cases.h"
#include "tests/support/psarc_test_support.h"
#include "tests/varel_test_support.h"
#include "tools/util/format.h"
#include "tools/writers/byte_writer.h"

namespace {

// ---- What varel test prints ----

// One entry as the text output shows it: "FAULT  7  name" (or "OK"), then its findings.
struct ShownEntry {
  std::string status;
  size_t index = 0;
  std::string name;
  std::vector<std::string> findings;  // "kind: message", "note kind: message"
};

struct Shown {
  std::vector<std::string> archiveFaults;  // "kind: message"
  std::vector<ShownEntry> entries;
  std::string summary;
};

Shown ParseShown(const std::string& out) {
  Shown shown;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    if (line.compare(0, 9, "archive: ") == 0) {
      shown.archiveFaults.push_back(line.substr(9));
    } else if (line.compare(0, 2, "OK") == 0 || line.compare(0, 5, "FAULT") == 0) {
      ShownEntry e;
      e.status = line.substr(0, line.find(' '));
      size_t p = line.find_first_not_of(' ', e.status.size());
      const size_t q = line.find("  ", p);
      e.index = std::stoul(line.substr(p, q - p));
      e.name = q == std::string::npos ? "" : line.substr(q + 2);
      shown.entries.push_back(e);
    } else if (line.compare(0, 2, "  ") == 0 && !shown.entries.empty()) {
      shown.entries.back().findings.push_back(line.substr(2));
    } else if (line.compare(0, 7, "tested ") == 0) {
      shown.summary = line;
    } else {
      ADD_FAILURE() << "a line varel test does not print: " << line;
    }
  }
  return shown;
}

// ---- A small JSON reader, enough to check the structure of --json ----

struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;
  const Json* Get(const std::string& key) const {
    for (const auto& m : members) {
      if (m.first == key) return &m.second;
    }
    return nullptr;
  }
};

class CJsonReader {
 public:
  explicit CJsonReader(const std::string& text) : s_(text) {}
  // The whole text as one value; false on anything JSON does not allow.
  bool Read(Json* out) {
    if (!Value(out)) return false;
    Space();
    return at_ == s_.size();
  }

 private:
  void Space() {
    while (at_ < s_.size() && std::strchr(" \t\r\n", s_[at_]) != nullptr) ++at_;
  }
  bool Eat(char c) {
    Space();
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(const char* w) {
    const size_t n = std::strlen(w);
    if (s_.compare(at_, n, w) != 0) return false;
    at_ += n;
    return true;
  }
  bool Hex4(uint32_t* v) {
    if (at_ + 4 > s_.size()) return false;
    *v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[at_++];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return false;
      *v = *v * 16 + static_cast<uint32_t>(d);
    }
    return true;
  }
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (at_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;  // control characters must be escaped
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        continue;
      }
      if (at_ >= s_.size()) return false;
      const char e = s_[at_++];
      const char* plain = std::strchr("\"\\/bfnrt", e);
      if (e != 'u') {
        if (plain == nullptr || e == 0) return false;
        out->push_back("\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"]);
        continue;
      }
      uint32_t u = 0;
      if (!Hex4(&u)) return false;
      if (u >= 0xD800 && u < 0xDC00) {
        uint32_t low = 0;
        if (!Word("\\u") || !Hex4(&low) || low < 0xDC00 || low >= 0xE000) return false;
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      }
      AppendUtf8(u, out);
    }
    return false;
  }
  static void AppendUtf8(uint32_t u, std::string* out) {
    if (u < 0x80) {
      out->push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (u >> 6)));
      out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else if (u < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (u >> 12)));
      out->push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (u >> 18)));
      out->push_back(static_cast<char>(0x80 | ((u >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  bool Value(Json* out) {
    Space();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '"') {
      out->type = Json::kString;
      return String(&out->text);
    }
    if (c == '{') {
      ++at_;
      out->type = Json::kObject;
      if (Eat('}')) return true;
      do {
        std::string key;
        Json value;
        if (!String(&key) || !Eat(':') || !Value(&value)) return false;
        out->members.emplace_back(key, value);
      } while (Eat(','));
      return Eat('}');
    }
    if (c == '[') {
      ++at_;
      out->type = Json::kArray;
      if (Eat(']')) return true;
      do {
        Json value;
        if (!Value(&value)) return false;
        out->items.push_back(value);
      } while (Eat(','));
      return Eat(']');
    }
    if (Word("null")) return true;
    if (Word("true") || Word("false")) {
      out->type = Json::kBool;
      out->boolean = s_[at_ - 1] == 'e' && s_[at_ - 2] == 'u';
      return true;
    }
    size_t used = 0;
    try {
      out->number = std::stod(s_.substr(at_, 32), &used);
    } catch (...) {
      return false;
    }
    out->type = Json::kNumber;
    at_ += used;
    return used != 0;
  }

  const std::string& s_;
  size_t at_ = 0;
};

// ---- Archives, and the fields the faults are made in ----

// An LZ stream of escape byte 0xFF, its end offset its own length.
Bytes Lz(int32_t decodedLength, const Bytes& tokens) {
  return LzStream(0xFF, decodedLength, static_cast<int32_t>(12 + tokens.size()), tokens);
}

// ---- Whole archives ----

struct WholeArchive {
  const char* what;
  Bytes archive;
  size_t entries;
};

std::vector<WholeArchive> WholeArchives() {
  std::vector<WholeArchive> cases;
  cases.push_back({"psarc, first layout", PackPsarc(MixedInputs()), 8});
  for (const PsarcLayoutCase& layout : LaterPsarcLayouts()) {
    cases.push_back({layout.what, PackPsarcWith(MixedInputs(), layout.options), 8});
  }
  PsarcWriterOptions o;
  o.tocByDigest = true;
  o.shareIdentical = true;
  std::vector<ArchiveInput> twins = MixedInputs();
  twins.push_back({"copy/a.txt", TextBytes(2 * 65536 + 5000)});
  cases.push_back({"psarc, identical contents stored once", PackPsarcWith(twins, o), 9});
  cases.push_back({"pkg, coded where smaller", PackPkg(MixedInputs()), 7});
  cases.push_back({"pkg, all stored", PackPkg(MixedInputs(), PkgCompression::kNever), 7});
  cases.push_back({"pkg, all coded", PackPkg(MixedInputs(), PkgCompression::kAlways), 7});
  return cases;
}

TEST_F(VarelRun, TestWholeArchivesOfEachFormatAndLayoutAreOk) {
  for (const WholeArchive& w : WholeArchives()) {
    SCOPED_TRACE(w.what);
    WriteFile("a", w.archive);
    for (const char* jobs : {"-j1", "-j8"}) {
      ProcessResult r = Varel({"test", "a", jobs});
      EXPECT_EQ(r.exitCode, 0) << Describe(r);
      EXPECT_EQ(r.err, "") << Describe(r);
      const Shown quiet = ParseShown(TextOf(r.out));
      EXPECT_TRUE(quiet.entries.empty()) << Describe(r);
      EXPECT_TRUE(Contains(quiet.summary, Format("tested %zu entries", w.entries)) &&
                  Contains(quiet.summary, ": all OK"))
          << Describe(r);

      r = Varel({"test", "-v", "a", jobs});
      EXPECT_EQ(r.exitCode, 0) << Describe(r);
      const Shown verbose = ParseShown(TextOf(r.out));
      ASSERT_EQ(verbose.entries.size(), w.entries) << Describe(r);
      for (size_t i = 0; i < w.entries; ++i) {
        EXPECT_EQ(verbose.entries[i].status, "OK");
        EXPECT_EQ(verbose.entries[i].index, i);
      }
      r = Varel({"test", "-q", "a", jobs});
      EXPECT_EQ(r.exitCode, 0) << Describe(r);
      EXPECT_EQ(r.out + r.err, "");
    }
  }
  // Entries sharing their stored bytes are noted, not damaged: -v shows the notes.
  for (const WholeArchive& w : WholeArchives()) {
    if (std::string(w.what) == "psarc, identical contents stored once") WriteFile("a", w.archive);
  }
  ProcessResult r = Varel({"test", "-v", "a"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(Contains(r.out, "  note shared: stored bytes shared with entry ")) << Describe(r);
  r = Varel({"test", "a"});
  EXPECT_TRUE(Contains(r.out, "(2 OK with notes: -v shows them)")) << Describe(r);
}

// Thousands of entries, past every window and count of the pool: each one listed, in order,
// and the output is the same on one thread and on eight.
TEST_F(VarelRun, TestThousandsOfEntriesOnEightThreadsAsOnOne) {
  std::vector<ArchiveInput> inputs;
  for (size_t i = 0; i < 3000; ++i) {
    inputs.push_back(
        {Format("d%zu/f%05zu.txt", i % 7, i),
         i % 3 == 0 ? NoiseBytes(100 + i, static_cast<uint32_t>(i)) : TextBytes(200 + i % 5000)});
  }
  WriteFile("many.psarc", PackPsarc(inputs));
  WriteFile("many.pkg", PackPkg(inputs));
  for (const char* name : {"many.psarc", "many.pkg"}) {
    SCOPED_TRACE(name);
    const ProcessResult one = Varel({"test", "-v", "-j", "1", name});
    const ProcessResult eight = Varel({"test", "-v", "-j", "8", name});
    EXPECT_EQ(one.exitCode, 0) << Describe(one);
    EXPECT_EQ(eight.exitCode, 0) << Describe(eight);
    EXPECT_EQ(one.out, eight.out);
    const Shown shown = ParseShown(TextOf(eight.out));
    ASSERT_EQ(shown.entries.size(), std::string(name) == "many.psarc" ? 3001u : 3000u);
    for (size_t k = 0; k < shown.entries.size(); ++k) {
      ASSERT_EQ(shown.entries[k].index, k);
      ASSERT_EQ(shown.entries[k].status, "OK");
    }
  }
  // A damaged entry in the middle is reported in its place on eight threads too.
  Bytes pkg = PackPkg(inputs);
  SetPkgField(&pkg, 1501, kPkgDirSizeAt, PkgField(pkg, 1501, kPkgDirSizeAt) + 1);
  WriteFile("bad.pkg", pkg);
  const ProcessResult r = Varel({"test", "-j8", "bad.pkg"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  const Shown shown = ParseShown(TextOf(r.out));
  ASSERT_EQ(shown.entries.size(), 1u) << Describe(r);
  EXPECT_EQ(shown.entries[0].index, 1501u);
  EXPECT_EQ(shown.entries[0].name, inputs[1501].name);
}

// ---- One case per fault ----

struct FaultCase {
  const char* what;
  bool pkg;  // edits the PKG of MixedInputs(), else the PSARC
  std::function<void(Bytes*)> edit;
  // Each damaged entry: its index and a part of one of its findings; no other is damaged.
  std::vector<std::pair<size_t, std::string>> damaged;
  const char* archiveFault;  // a part of the archive's fault, or nullptr
};

std::vector<FaultCase> FaultCases() {
  return {
      {"a flipped bit in a compressed block",
       false,
       [](Bytes* a) {
         const uint32_t p = Param(*a, 1);
         (*a)[Offset(*a, 1) + Value(*a, p) + Value(*a, p + 1) / 2] ^= 0x10;
       },
       {{1, "block: block 2 of 3 "}},
       nullptr},
      {"a cut stream (its table value one short)",
       false,
       [](Bytes* a) { SetValue(a, Param(*a, 3), Value(*a, Param(*a, 3)) - 1); },
       {{3, "block: block 1 of 1 is cut: its "}},
       nullptr},
      {"a table value one long",
       false,
       [](Bytes* a) { SetValue(a, Param(*a, 3), Value(*a, Param(*a, 3)) + 1); },
       {{3, "block: block 1 of 1 ends its zlib stream after "}},
       nullptr},
      {"a plain block's table value one short",
       false,
       [](Bytes* a) { SetValue(a, Param(*a, 2), 999); },
       {{2, "block: block 1 of 1 is a plain block of 999 bytes but stands for 1000"}},
       nullptr},
      {"a swapped pair of names",
       false,
       [](Bytes* a) {
         for (size_t k = 0; k < 16; ++k) std::swap((*a)[Row(1) + k], (*a)[Row(2) + k]);
       },
       {{1, "digest: "}, {2, "digest: "}},
       nullptr},
      // Said once, by the strict check, though the host's check of the listing finds it too.
      {"the file cut inside the last entry",
       false,
       [](Bytes* a) { a->resize(Offset(*a, 7) + 100); },
       {{7, "stored-bytes: stored bytes cut by the end of the file"}},
       nullptr},
      {"a header that counts one entry more",
       false,
       [](Bytes* a) { PutBe(a, kPsarcHeaderTocEntryCountAt, 9, 4); },
       {},
       "tables: the header counts 9 entries"},
      {"a PKG stream one byte short",
       true,
       [](Bytes* a) {
         SetPkgField(a, 0, kPkgDirPackedSizeAt, PkgField(*a, 0, kPkgDirPackedSizeAt) - 1);
       },
       {{0, "lz-stream: its LZ stream ends at byte "}},
       nullptr},
      {"a PKG stored entry one byte long",
       true,
       [](Bytes* a) { SetPkgField(a, 1, kPkgDirSizeAt, 1001); },
       {{1, "stored-size: a stored entry of 1001 plain bytes with 1000 stored bytes"}},
       nullptr},
      {"a PKG offset into the directory",
       true,
       [](Bytes* a) { SetPkgField(a, 3, kPkgDirOffsetAt, 8); },
       {{3, "stored-bytes: "}},
       nullptr},
  };
}

void ExpectReported(const ProcessResult& r,
                    const std::vector<std::pair<size_t, std::string>>& damaged,
                    const char* archiveFault, const std::vector<std::string>& names) {
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  const Shown shown = ParseShown(TextOf(r.out));
  if (archiveFault != nullptr) {
    ASSERT_FALSE(shown.archiveFaults.empty()) << Describe(r);
    EXPECT_TRUE(Contains(shown.archiveFaults[0], archiveFault)) << Describe(r);
  }
  if (archiveFault != nullptr && damaged.empty()) return;  // its entries may follow suit
  ASSERT_EQ(shown.entries.size(), damaged.size()) << Describe(r);
  for (size_t k = 0; k < damaged.size(); ++k) {
    const ShownEntry& e = shown.entries[k];
    EXPECT_EQ(e.status, "FAULT");
    EXPECT_EQ(e.index, damaged[k].first);
    EXPECT_EQ(e.name, names[e.index]);
    ASSERT_EQ(e.findings.size(), 1u) << Describe(r);  // each said once, by one check
    EXPECT_TRUE(Contains(e.findings[0], damaged[k].second)) << Describe(r);
  }
  EXPECT_TRUE(Contains(shown.summary, Format(": %zu damaged", damaged.size()))) << Describe(r);
}

TEST_F(VarelRun, TestReportsEachFaultOnItsEntryWithItsReason) {
  const Bytes psarc = PackPsarc(MixedInputs());
  const Bytes pkg = PackPkg(MixedInputs());
  ASSERT_EQ(PkgField(pkg, 0, kPkgDirCompressedAt), kPkgCompressedLz);
  ASSERT_EQ(PkgField(pkg, 1, kPkgDirCompressedAt), 0u);
  std::vector<std::string> psarcNames = {"NamesBlock.bin"};
  std::vector<std::string> pkgNames;
  for (const ArchiveInput& in : MixedInputs()) {
    psarcNames.push_back(in.name);
    pkgNames.push_back(in.name);
  }
  for (const FaultCase& f : FaultCases()) {
    SCOPED_TRACE(f.what);
    Bytes edited = f.pkg ? pkg : psarc;
    f.edit(&edited);
    WriteFile("bad", edited);
    for (const char* jobs : {"-j1", "-j8"}) {
      const ProcessResult r = Varel({"test", jobs, "bad"});
      ExpectReported(r, f.damaged, f.archiveFault, f.pkg ? pkgNames : psarcNames);
    }
  }
}

// Streams made token by token, each between two whole entries.
TEST_F(VarelRun, TestReportsLzStreamsThatAreNotWhole) {
  const Bytes whole = Lz(6, {0x41, 0x42, 0xFF, 0x02, 0x04});  // "ABABAB"
  struct StreamCase {
    const char* what;
    Bytes stream;
    int32_t size;
    const char* says;
  } cases[] = {
      {"a back-reference before the start", Lz(4, {0x41, 0xFF, 0x05, 0x03}), 4,
       "lz-stream: a copy at plain byte 1 reaches 5 bytes back, before the first plain byte"},
      {"a stream one byte short", Lz(4, {0x41, 0x42, 0x43}), 4,
       "lz-stream: the LZ stream ends after 3 of its 4 plain bytes"},
  };
  for (const StreamCase& s : cases) {
    SCOPED_TRACE(s.what);
    WriteFile("lz.pkg",
              PkgOf({{"before", whole, 6}, {"it", s.stream, s.size}, {"after", whole, 6}}));
    const ProcessResult r = Varel({"test", "-v", "lz.pkg"});
    EXPECT_EQ(r.exitCode, 1) << Describe(r);
    const Shown shown = ParseShown(TextOf(r.out));
    ASSERT_EQ(shown.entries.size(), 3u) << Describe(r);
    EXPECT_EQ(shown.entries[0].status, "OK");
    EXPECT_EQ(shown.entries[2].status, "OK");
    EXPECT_EQ(shown.entries[1].status, "FAULT");
    EXPECT_EQ(shown.entries[1].name, "it");
    ASSERT_EQ(shown.entries[1].findings.size(), 1u) << Describe(r);
    EXPECT_TRUE(Contains(shown.entries[1].findings[0], s.says)) << Describe(r);
  }
}

// ---- Selection, JSON, usage ----

TEST_F(VarelRun, TestSelectsAsExtractDoes) {
  Bytes psarc = PackPsarc(MixedInputs());
  // Entry 1 damaged: only a selection that holds it fails.
  const uint32_t p = Param(psarc, 1);
  psarc[Offset(psarc, 1) + Value(psarc, p) + 10] ^= 0x01;
  WriteFile("a.psarc", psarc);
  // Case-sensitive on both platforms (Windows ignores case by default): "dir" is not "Dir".
  ProcessResult r = Varel({"test", "-v", "--case-sensitive", "a.psarc", "dir", "#2"});
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  Shown shown = ParseShown(TextOf(r.out));
  ASSERT_EQ(shown.entries.size(), 3u) << Describe(r);
  EXPECT_EQ(shown.entries[0].name, "b.bin");
  EXPECT_EQ(shown.entries[1].name, "dir/d.txt");
  EXPECT_EQ(shown.entries[2].name, "dir/e.bin");
  r = Varel({"test", "a.psarc", "--ignore-case", "A.TXT"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  shown = ParseShown(TextOf(r.out));
  ASSERT_EQ(shown.entries.size(), 1u) << Describe(r);
  EXPECT_EQ(shown.entries[0].index, 1u);
  // A pattern that selects nothing is reported and fails the run, as in extract.
  r = Varel({"test", "a.psarc", "b.bin", "nothing*"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  EXPECT_TRUE(Contains(r.err, "no entry matches 'nothing*'")) << Describe(r);
  EXPECT_TRUE(Contains(r.out, "tested 1 entry")) << Describe(r);
}

TEST_F(VarelRun, TestJsonIsOneObjectPerEntryPerLine) {
  std::vector<ArchiveInput> inputs = MixedInputs();
  inputs.push_back({"caf\xC3\xA9/q\"uote \xE2\x82\xAC.txt", TextBytes(100)});  // café/q"uote €
  Bytes psarc = PackPsarc(inputs);
  const uint32_t p = Param(psarc, 1);
  psarc[Offset(psarc, 1) + Value(psarc, p) + 10] ^= 0x01;
  WriteFile("a.psarc", psarc);
  const ProcessResult r = Varel({"test", "--json", "-j8", "a.psarc"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  const std::string out = TextOf(r.out);
  std::vector<Json> objects;
  for (size_t at = 0, end; at < out.size(); at = end + 1) {
    end = out.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "the last line ends with a line break";
    Json j;
    ASSERT_TRUE(CJsonReader(out.substr(at, end - at)).Read(&j)) << out.substr(at, end - at);
    objects.push_back(j);
  }
  ASSERT_EQ(objects.size(), inputs.size() + 1);
  for (size_t i = 0; i < objects.size(); ++i) {
    const Json& o = objects[i];
    ASSERT_EQ(o.type, Json::kObject);
    const Json* index = o.Get("index");
    const Json* name = o.Get("name");
    const Json* ok = o.Get("ok");
    const Json* faults = o.Get("faults");
    const Json* notes = o.Get("notes");
    ASSERT_TRUE(index && name && ok && faults && notes) << out;
    EXPECT_EQ(index->type, Json::kNumber);
    EXPECT_EQ(index->number, static_cast<double>(i));
    EXPECT_EQ(name->type, Json::kString);
    EXPECT_EQ(ok->type, Json::kBool);
    ASSERT_EQ(faults->type, Json::kArray);
    EXPECT_EQ(notes->type, Json::kArray);
    EXPECT_EQ(ok->boolean, i != 1);
    EXPECT_EQ(faults->items.size(), i == 1 ? 1u : 0u);
    for (const Json& f : faults->items) {
      ASSERT_EQ(f.type, Json::kObject);
      ASSERT_TRUE(f.Get("kind") && f.Get("message"));
      EXPECT_EQ(f.Get("kind")->text, "block");
      EXPECT_TRUE(Contains(f.Get("message")->text, "block 2 of 3 ")) << f.Get("message")->text;
    }
  }
  EXPECT_EQ(objects[1].Get("name")->text, "a.txt");
  EXPECT_EQ(objects.back().Get("name")->text, inputs.back().name);

  // The archive's own faults come first, in an object of the same shape whose index is null.
  PutBe(&psarc, kPsarcHeaderTocEntryCountAt, 10, 4);
  WriteFile("b.psarc", psarc);
  const ProcessResult b = Varel({"test", "--json", "b.psarc"});
  EXPECT_EQ(b.exitCode, 1) << Describe(b);
  const std::string first = TextOf(b.out).substr(0, TextOf(b.out).find('\n'));
  Json j;
  ASSERT_TRUE(CJsonReader(first).Read(&j)) << first;
  ASSERT_TRUE(j.Get("index") && j.Get("faults"));
  EXPECT_EQ(j.Get("index")->type, Json::kNull);
  ASSERT_FALSE(j.Get("faults")->items.empty());
  EXPECT_EQ(j.Get("faults")->items[0].Get("kind")->text, "tables");
}

TEST_F(VarelRun, TestUsageErrorsExitTwo) {
  WriteFile("a.pkg", PackPkg(MixedInputs()));
  const std::vector<std::vector<std::string>> cases = {
      {"test"},
      {"test", "a.pkg", "--bogus"},
      {"test", "a.pkg", "-j0"},
      {"test", "a.pkg", "-j", "33"},
      {"test", "a.pkg", "--json", "-q"},
      {"test", "a.pkg", "--ignore-case", "--case-sensitive"},
      {"test", "a.pkg", "-j"},
  };
  for (const std::vector<std::string>& args : cases) {
    const ProcessResult r = Varel(args);
    EXPECT_EQ(r.exitCode, 2) << args.back() << "\n" << Describe(r);
    EXPECT_TRUE(Contains(r.err, "varel test: ")) << Describe(r);
  }
  ProcessResult r = Varel({"test", "--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Contains(r.out, "usage: varel test ARCHIVE")) << Describe(r);
  // Not an archive, or no file: a failure, not a usage error.
  WriteFile("text.txt", BytesOf("not an archive"));
  r = Varel({"test", "text.txt"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
  r = Varel({"test", "missing.psarc"});
  EXPECT_EQ(r.exitCode, 1) << Describe(r);
}

// Standard input: copied to a temporary file, tested, and the copy removed.
TEST_F(VarelRun, TestReadsStandardInput) {
  const Bytes pkg = PackPkg(MixedInputs());
  WriteFile("a.pkg", pkg);
  UseTemporaryFolder("tmp");
  ProcessStreams streams;
  streams.pipeInput = true;
  streams.input.assign(pkg.begin(), pkg.end());
  const ProcessResult r = Varel({"test", "-"}, streams);
  EXPECT_EQ(r.exitCode, 0) << Describe(r);
  EXPECT_TRUE(Contains(r.out, "tested 7 entries")) << Describe(r);
  EXPECT_TRUE(VarelTemporaries(At("tmp")).empty());
}

}  // namespace
