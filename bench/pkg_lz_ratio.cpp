// How small the PKG encoder codes a file, against what the format allows: greedy, lazy and
// optimal parsing, each over hash chains (what the writer does) and over every distance of
// the 254-byte window. The optimal parse over every distance of the whole entry at once is
// the fewest bytes the escape-byte format can code the file in, for that escape byte. The
// PSARC writer's zlib blocks are shown beside it. Single-threaded MB/s give the cost.
//
//   varel_pkg_lz_ratio [--generated=BYTES] [FILE...]
//     --generated=BYTES   also the bench data kinds (text, words, binary, runs), BYTES each
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "tools/os/files.h"
#include "tools/writers/pkg_lz_encoder.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Variant {
  const char* name;
  PkgLzParse parse;
  bool everyDistance;
  bool wholeEntry;
};

const Variant kVariants[] = {
    {"greedy, chains", PkgLzParse::kGreedy, false, false},
    {"lazy, chains", PkgLzParse::kLazy, false, false},
    {"optimal, chains (the writer)", PkgLzParse::kOptimal, false, false},
    {"greedy, every distance", PkgLzParse::kGreedy, true, false},
    {"lazy, every distance", PkgLzParse::kLazy, true, false},
    {"optimal, every distance", PkgLzParse::kOptimal, true, false},
    {"optimal, every distance, one segment (the format's best)", PkgLzParse::kOptimal, true, true},
};

double Percent(size_t part, size_t whole) { return whole == 0 ? 0 : 100.0 * part / whole; }

void Report(const std::string& name, const Bytes& data) {
  size_t zlibBytes = 0;
  for (const PsarcBlock& b : PsarcBlocksOf(data.data(), data.size(), 9))
    zlibBytes += b.bytes.size();
  uint64_t counts[256] = {};
  CountByteValues(data.data(), data.size(), counts);
  const uint8_t escape = PkgLzEscapeOf(counts);
  std::printf(
      "\n%s: %zu bytes; escape byte 0x%02X occurs %llu times; PSARC zlib level 9: %.2f%%\n\n",
      name.c_str(), data.size(), escape, static_cast<unsigned long long>(counts[escape]),
      Percent(zlibBytes, data.size()));
  std::printf("| PKG parse | coded bytes | of the file | MB/s |\n|---|---|---|---|\n");
  for (const Variant& v : kVariants) {
    PkgLzSettings settings;
    settings.parse = v.parse;
    settings.everyDistance = v.everyDistance;
    if (v.wholeEntry) settings.segmentBytes = 0;
    const auto start = std::chrono::steady_clock::now();
    const Bytes coded = EncodePkgLz(data.data(), data.size(), settings);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("| %s | %zu | %.2f%% | %.1f |\n", v.name, coded.size(),
                Percent(coded.size(), data.size()), data.size() / 1e6 / seconds);
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t generated = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--generated=", 12) == 0) {
      generated = std::strtoul(argv[i] + 12, nullptr, 10);
      continue;
    }
    Bytes data;
    std::string error;
    if (!ReadWholeFile(argv[i], &data, &error)) {
      std::fprintf(stderr, "varel_pkg_lz_ratio: %s\n", error.c_str());
      return 1;
    }
    Report(argv[i], data);
  }
  if (generated != 0) {
    for (DataKind kind : kAllDataKinds) {
      Report(std::string("generated ") + DataKindName(kind), GenerateData(kind, generated));
    }
  }
  return 0;
}
