#include "bench/bench_data.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

constexpr uint64_t kSeed = 0x7661726C62656E63ull;

const char* const kSyllables[] = {
    "ka",  "ne",  "ri", "to", "mu", "sa",  "el", "an",  "or", "in", "at",  "es", "lo", "ve", "di",
    "pra", "str", "qu", "th", "sh", "ion", "er", "ing", "ed", "ly", "con", "de", "re", "un", "po",
    "ma",  "li",  "ta", "co", "ba", "fi",  "ge", "ha",  "jo", "wa", "ys",  "ex", "ob", "ul",
};
constexpr uint32_t kSyllableCount = sizeof(kSyllables) / sizeof(kSyllables[0]);

// The most frequent words of English prose lead the vocabulary, so the Zipf head looks real.
const char* const kFunctionWords[] = {
    "the",  "of",   "and",  "to", "a",     "in",  "is",   "that", "it",    "was",
    "for",  "on",   "are",  "as", "with",  "his", "they", "at",   "be",    "this",
    "from", "I",    "have", "or", "by",    "one", "had",  "not",  "but",   "what",
    "all",  "were", "when", "we", "there", "can", "an",   "your", "which", "their",
};

const char* const kKeywords[] = {
    "int",     "const",  "return",   "if",     "else",   "for",     "while", "static",
    "void",    "struct", "uint32_t", "size_t", "bool",   "auto",    "case",  "break",
    "nullptr", "true",   "false",    "sizeof", "switch", "uint8_t", "char",  "unsigned",
};
constexpr uint32_t kKeywordCount = sizeof(kKeywords) / sizeof(kKeywords[0]);

std::string MakeWord(CBenchRandom& random, uint32_t syllables) {
  std::string w;
  for (uint32_t i = 0; i < syllables; ++i) w += kSyllables[random.Below(kSyllableCount)];
  return w;
}

std::vector<std::string> Vocabulary(CBenchRandom& random, uint32_t n) {
  std::vector<std::string> words(std::begin(kFunctionWords), std::end(kFunctionWords));
  while (words.size() < n) words.push_back(MakeWord(random, 1 + random.Below(4)));
  return words;
}

// camelCase and snake_case names built from the same syllables.
std::vector<std::string> Identifiers(CBenchRandom& random, uint32_t n) {
  std::vector<std::string> ids;
  while (ids.size() < n) {
    std::string id = MakeWord(random, 1 + random.Below(2));
    const uint32_t parts = random.Below(3);
    const bool snake = random.Below(3) == 0;
    for (uint32_t p = 0; p < parts; ++p) {
      std::string w = MakeWord(random, 1 + random.Below(2));
      if (snake) {
        id += "_" + w;
      } else {
        w[0] = static_cast<char>(w[0] - 'a' + 'A');
        id += w;
      }
    }
    ids.push_back(id);
  }
  return ids;
}

void Append(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
}

void GenerateSource(std::vector<uint8_t>& out, size_t length) {
  CBenchRandom random(kSeed ^ 1);
  const std::vector<std::string> ids = Identifiers(random, 1500);
  const std::vector<std::string> words = Vocabulary(random, 2000);
  const CZipfTable idRank(static_cast<uint32_t>(ids.size()));
  const CZipfTable wordRank(static_cast<uint32_t>(words.size()));
  auto id = [&] { return ids[idRank.Draw(random)]; };
  auto keyword = [&] { return std::string(kKeywords[random.Below(kKeywordCount)]); };
  auto number = [&] {
    return std::to_string(random.Below(8) == 0 ? random.Below(65536) : random.Below(16));
  };
  int depth = 0;
  while (out.size() < length) {
    if (depth == 0) {
      if (random.Below(2) == 0) {
        Append(out, "// ");
        const uint32_t n = 4 + random.Below(10);
        for (uint32_t i = 0; i < n; ++i)
          Append(out, words[wordRank.Draw(random)] + (i + 1 < n ? " " : ".\n"));
      }
      Append(out, "static " + keyword() + " " + id() + "(const " + keyword() + "* " + id() +
                      ", size_t " + id() + ") {\n");
      depth = 1;
      continue;
    }
    const std::string indent(2 * depth, ' ');
    switch (random.Below(10)) {
      case 0:
        if (depth < 4) {
          Append(out, indent + "if (" + id() + " != " + id() + ") {\n");
          ++depth;
          break;
        }
        // fall through
      case 1:
        if (depth < 4) {
          Append(out, indent + "for (" + keyword() + " " + id() + " = 0; " + id() + " < " +
                          number() + "; ++" + id() + ") {\n");
          ++depth;
          break;
        }
        // fall through
      case 2:
      case 3:
        Append(out, indent + id() + " = " + id() + "(" + id() + ", " + number() + ");\n");
        break;
      case 4:
        Append(out, indent + "const " + keyword() + " " + id() + " = " + id() + "[" + id() +
                        "] + " + number() + ";\n");
        break;
      case 5:
        Append(out, indent + "// " + words[wordRank.Draw(random)] + " " +
                        words[wordRank.Draw(random)] + " " + words[wordRank.Draw(random)] + "\n");
        break;
      case 6:
        Append(out, indent + "return " + id() + ";\n");
        // fall through
      default:
        --depth;
        Append(out, std::string(2 * depth, ' ') + "}\n");
        if (depth == 0) Append(out, "\n");
        break;
    }
  }
}

void GenerateWords(std::vector<uint8_t>& out, size_t length) {
  CBenchRandom random(kSeed ^ 2);
  const std::vector<std::string> words = Vocabulary(random, 6000);
  const CZipfTable rank(static_cast<uint32_t>(words.size()));
  size_t column = 0;
  uint32_t sentences = 0;
  while (out.size() < length) {
    const uint32_t n = 5 + random.Below(20);
    for (uint32_t i = 0; i < n; ++i) {
      std::string w = words[rank.Draw(random)];
      if (i == 0 && w[0] >= 'a' && w[0] <= 'z') w[0] = static_cast<char>(w[0] - 'a' + 'A');
      if (i + 1 == n) {
        w += random.Below(8) == 0 ? "?" : ".";
      } else if (random.Below(9) == 0) {
        w += ",";
      }
      if (column + w.size() + 1 > 72) {
        out.push_back('\n');
        column = 0;
      } else if (column != 0) {
        out.push_back(' ');
        ++column;
      }
      Append(out, w);
      column += w.size();
    }
    if (++sentences % (3 + random.Below(6)) == 0) {
      Append(out, "\n\n");
      column = 0;
    }
  }
}

void Le32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) {
  out.insert(out.end(), bytes);  // a braced list is evaluated left to right
}

constexpr uint32_t kImageBase = 0x10001000u;

// One instruction of a common 32-bit shape, on a local slot, an argument or a global.
void AppendInstruction(std::vector<uint8_t>& out, CBenchRandom& random, const CZipfTable& localRank,
                       const CZipfTable& globalRank) {
  const uint8_t local = static_cast<uint8_t>(0x100 - 4 * (1 + localRank.Draw(random)));
  switch (random.Below(12)) {
    case 0: Put(out, {0x8B, 0x45, local}); break;
    case 1: Put(out, {0x89, 0x45, local}); break;
    case 2: Put(out, {0x8B, 0x4D, static_cast<uint8_t>(8 + 4 * random.Below(4))}); break;
    case 3:
      out.push_back(0xE8);
      Le32(out, static_cast<uint32_t>(-static_cast<int32_t>(random.Below(0x40000))));
      break;
    case 4:
      Put(out, {0x85, 0xC0, static_cast<uint8_t>(0x74 + random.Below(2)),
                static_cast<uint8_t>(random.Below(0x40))});
      break;
    case 5:
      out.push_back(0xA1);
      Le32(out, kImageBase + 0x30000 + 4 * globalRank.Draw(random));
      break;
    case 6:
      out.push_back(0xB8);
      Le32(out, random.Below(4) == 0 ? random.Below(0x10000) : random.Below(8));
      break;
    case 7: out.push_back(0x50 + random.Below(8)); break;  // push reg
    case 8: Put(out, {0x83, 0xC4, static_cast<uint8_t>(4 * (1 + random.Below(6)))}); break;
    case 9: Put(out, {0x33, 0xC0}); break;
    case 10: Put(out, {0x8D, 0x45, local}); break;
    default: Put(out, {0x3B, 0x45, local, 0x7C, static_cast<uint8_t>(random.Below(0x80))}); break;
  }
}

// Functions of common 32-bit instruction shapes, int3-padded to 16 bytes, followed now and
// then by a table of pointers, a string pool or page padding, as in a linked image.
void GenerateBinary(std::vector<uint8_t>& out, size_t length) {
  CBenchRandom random(kSeed ^ 3);
  const std::vector<std::string> words = Vocabulary(random, 800);
  const CZipfTable wordRank(static_cast<uint32_t>(words.size()));
  const CZipfTable localRank(32);
  const CZipfTable globalRank(400);
  while (out.size() < length) {
    const uint32_t section = random.Below(20);
    if (section < 16) {             // one function
      Append(out, "\x55\x8B\xEC");  // push ebp; mov ebp, esp
      if (random.Below(2)) {
        Put(out, {0x83, 0xEC, static_cast<uint8_t>(4 * (1 + random.Below(16)))});  // sub esp
      }
      const uint32_t n = 5 + random.Below(60);
      for (uint32_t i = 0; i < n; ++i) AppendInstruction(out, random, localRank, globalRank);
      Append(out, "\x8B\xE5\x5D\xC3");  // mov esp, ebp; pop ebp; ret
      while (out.size() % 16 != 0) out.push_back(0xCC);
    } else if (section < 18) {  // pointer table into the image
      const uint32_t n = 8 + random.Below(64);
      uint32_t p = kImageBase + 16 * random.Below(0x2000);
      for (uint32_t i = 0; i < n; ++i) {
        Le32(out, p);
        p += 16 * (1 + random.Below(12));
      }
    } else if (section == 18) {  // string pool
      const uint32_t n = 4 + random.Below(24);
      for (uint32_t i = 0; i < n; ++i) {
        Append(out, words[wordRank.Draw(random)] + "_" + words[wordRank.Draw(random)]);
        out.push_back(0);
      }
    } else {  // padding to the next 512-byte boundary
      out.resize((out.size() / 512 + 1) * 512, 0);
    }
  }
}

// Runs of a handful of byte values alternating with tables of 24-byte records whose fields
// barely change from one record to the next.
void GenerateLowEntropy(std::vector<uint8_t>& out, size_t length) {
  CBenchRandom random(kSeed ^ 4);
  const uint8_t values[] = {0x00, 0xFF, 0x20, 0x01};
  uint32_t id = 1000;
  uint32_t stamp = 0x5F000000u;
  while (out.size() < length) {
    if (random.Below(2) == 0) {
      const uint32_t runs = 1 + random.Below(30);
      for (uint32_t r = 0; r < runs; ++r) {
        const uint8_t v = values[random.Below(4)];
        out.insert(out.end(), 1 + random.Below(300), v);
      }
    } else {
      const uint32_t n = 16 + random.Below(400);
      const uint32_t type = random.Below(6);
      for (uint32_t i = 0; i < n; ++i) {
        Le32(out, id++);
        Le32(out, random.Below(16) == 0 ? 3u : 1u);  // flags
        out.push_back(static_cast<uint8_t>(type));
        out.push_back(0);
        out.insert(out.end(), 6, 0);
        stamp += random.Below(4);
        Le32(out, stamp);
        Le32(out, random.Below(8) == 0 ? random.Below(100) : 0u);
      }
    }
  }
}

}  // namespace

CZipfTable::CZipfTable(uint32_t n) : cumulative_(n) {
  uint64_t sum = 0;
  for (uint32_t k = 0; k < n; ++k) {
    sum += (1ull << 32) / (k + 1);
    cumulative_[k] = sum;
  }
}

uint32_t CZipfTable::Draw(CBenchRandom& random) const {
  const uint64_t u = random.Next() % cumulative_.back();
  return static_cast<uint32_t>(std::upper_bound(cumulative_.begin(), cumulative_.end(), u) -
                               cumulative_.begin());
}

const char* DataKindName(DataKind kind) {
  switch (kind) {
    case DataKind::kSource: return "text";
    case DataKind::kWords: return "words";
    case DataKind::kBinary: return "binary";
    case DataKind::kLowEntropy: return "runs";
  }
  return "?";
}

std::vector<uint8_t> GenerateData(DataKind kind, size_t length) {
  std::vector<uint8_t> out;
  out.reserve(length + 4096);
  switch (kind) {
    case DataKind::kSource: GenerateSource(out, length); break;
    case DataKind::kWords: GenerateWords(out, length); break;
    case DataKind::kBinary: GenerateBinary(out, length); break;
    case DataKind::kLowEntropy: GenerateLowEntropy(out, length); break;
  }
  out.resize(length);
  return out;
}
