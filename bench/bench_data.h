// Deterministic benchmark inputs, generated in code: the same seed gives the same bytes on
// every platform, so native and Windows figures are taken on identical data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class DataKind {
  kSource,      // program source text: identifiers, keywords, indentation, comments
  kWords,       // English-like prose: a Zipf-distributed vocabulary in sentences
  kBinary,      // an executable image: instruction bytes, pointer tables, strings, padding
  kLowEntropy,  // runs of a few byte values and tables of fixed-size records
};

constexpr DataKind kAllDataKinds[] = {DataKind::kSource, DataKind::kWords, DataKind::kBinary,
                                      DataKind::kLowEntropy};

// Short name used in benchmark names and the report ("text", "words", "binary", "runs").
const char* DataKindName(DataKind kind);

// `length` bytes of the given kind. A shorter request gives a prefix of a longer one.
std::vector<uint8_t> GenerateData(DataKind kind, size_t length);

// A small, fast, seedable generator (splitmix64); std::mt19937 differs in nothing that
// matters here but is slower and its distributions are not portable across libraries.
class CBenchRandom {
 public:
  explicit CBenchRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n > 0.
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>((Next() >> 32) * n >> 32); }

 private:
  uint64_t state_;
};

// Ranks in [0, n) drawn with probability proportional to 1 / (rank + 1), as words and
// identifiers are used. Integer weights only, so every platform draws the same ranks.
class CZipfTable {
 public:
  explicit CZipfTable(uint32_t n);
  uint32_t Draw(CBenchRandom& random) const;

 private:
  std::vector<uint64_t> cumulative_;  // cumulative_[k]: sum of the weights of ranks 0..k
};
