// The stand-alone benchmark program: the Windows figures (run under Wine), and the same
// cases natively for comparison. Every case's variants are timed in interleaved rounds, so
// that a burst of load from elsewhere hits all of them alike; each figure is the median of
// the rounds, and each ratio divides two medians of this process on the same input.
//
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_cases.h"

namespace {

struct HarnessOptions {
  BenchOptions cases;
  unsigned rounds = 7;
  double minSeconds = 0.03;  // one round of one variant runs at least this long
  std::string json;
};

const char kUsage[] =
    "usage: varel_bench [--filter=TEXT] [--rounds=N] [--min-ms=N] [--entries=N] [--json=FILE]\n"
    "  --filter=TEXT  only the cases whose name (group/data/size) holds TEXT\n"
    "  --rounds=N     interleaved rounds per case (default 7); each figure is their median\n"
    "  --min-ms=N     the least time one round of one variant runs (default 30)\n"
    "  --entries=N    entries of the listing archives (default 100000)\n"
    "  --json=FILE    also write one JSON line per data kind and per variant\n";

// False, with a message, on an unknown argument; --help prints the usage and exits.
bool ParseArgs(int argc, char** argv, HarnessOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&a](const char* key) -> const char* {
      const size_t n = std::strlen(key);
      return a.compare(0, n, key) == 0 ? a.c_str() + n : nullptr;
    };
    if (const char* v = value("--filter=")) {
      o->cases.filter = v;
    } else if (const char* v = value("--rounds=")) {
      o->rounds = static_cast<unsigned>(std::max(1, std::atoi(v)));
    } else if (const char* v = value("--min-ms=")) {
      o->minSeconds = std::max(1, std::atoi(v)) / 1000.0;
    } else if (const char* v = value("--entries=")) {
      o->cases.listingEntries = static_cast<uint32_t>(std::max(2, std::atoi(v)));
    } else if (const char* v = value("--json=")) {
      o->json = v;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      std::fprintf(stderr, "varel_bench: unknown argument %s\n%s", a.c_str(), kUsage);
      return false;
    }
  }
  return true;
}

double Seconds(const std::chrono::steady_clock::time_point& from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// Seconds per operation over `iterations` back-to-back runs.
double TimeRuns(const BenchVariant& v, uint64_t iterations) {
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t i = 0; i < iterations; ++i) v.run();
  return Seconds(start) / static_cast<double>(iterations);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

#if defined(_WIN32)
const char kPlatform[] = "win32";
#else
const char kPlatform[] = "linux32";
#endif

// Times every variant of one case in interleaved rounds; samples[v] holds its rounds.
std::vector<std::vector<double>> TimeCase(const BenchCase& c, const HarnessOptions& options,
                                          std::vector<uint64_t>* iterations) {
  const size_t nv = c.variants.size();
  // Calibration: one warm-up run, then enough iterations to fill the minimum round time.
  iterations->assign(nv, 1);
  for (size_t v = 0; v < nv; ++v) {
    const double once = TimeRuns(c.variants[v], 1);
    (*iterations)[v] =
        std::max<uint64_t>(1, static_cast<uint64_t>(options.minSeconds / std::max(once, 1e-9)));
  }
  std::vector<std::vector<double>> samples(nv);
  for (unsigned r = 0; r < options.rounds; ++r) {
    for (size_t k = 0; k < nv; ++k) {
      const size_t v = (k + r) % nv;  // rotate the order: no variant always runs first
      samples[v].push_back(TimeRuns(c.variants[v], (*iterations)[v]));
    }
  }
  return samples;
}

void WriteJson(FILE* json, const BenchCase& c, const BenchVariant& v, double median,
               unsigned rounds, uint64_t iterations, const std::vector<double>& samples) {
  std::fprintf(json,
               "{\"kind\":\"case\",\"platform\":\"%s\",\"group\":\"%s\",\"data\":\"%s\","
               "\"size\":%llu,\"bytes\":%llu,\"stored\":%llu,\"variant\":\"%s\",\"median_s\":%.9g,"
               "\"rounds\":%u,\"iterations\":%llu,\"samples\":[",
               kPlatform, c.group.c_str(), c.data.c_str(), static_cast<unsigned long long>(c.size),
               static_cast<unsigned long long>(c.bytes), static_cast<unsigned long long>(c.stored),
               v.name.c_str(), median, rounds, static_cast<unsigned long long>(iterations));
  for (size_t i = 0; i < samples.size(); ++i) {
    std::fprintf(json, "%s%.9g", i == 0 ? "" : ",", samples[i]);
  }
  std::fprintf(json, "]}\n");
}

}  // namespace

int main(int argc, char** argv) {
  HarnessOptions options;
  if (!ParseArgs(argc, argv, &options)) return 2;
  FILE* json = nullptr;
  if (!options.json.empty()) {
    json = std::fopen(options.json.c_str(), "w");
    if (json == nullptr) {
      std::fprintf(stderr, "varel_bench: cannot write %s\n", options.json.c_str());
      return 2;
    }
  }
  for (const auto& sum : DataChecksums(options.cases)) {
    std::printf("data %-6s crc32 %08X\n", sum.first.c_str(), static_cast<unsigned>(sum.second));
    if (json != nullptr) {
      std::fprintf(json, "{\"kind\":\"data\",\"data\":\"%s\",\"crc32\":\"%08X\"}\n",
                   sum.first.c_str(), static_cast<unsigned>(sum.second));
    }
  }
  std::fflush(stdout);

  const std::vector<BenchCase> cases = BuildBenchCases(options.cases);
  std::printf("%-32s %-16s %12s %10s %8s\n", "case", "variant", "median us", "MB/s", "ratio");
  for (const BenchCase& c : cases) {
    std::vector<uint64_t> iterations;
    const std::vector<std::vector<double>> samples = TimeCase(c, options, &iterations);
    const double first = Median(samples[0]);
    for (size_t v = 0; v < c.variants.size(); ++v) {
      const double median = Median(samples[v]);
      const double mbps = static_cast<double>(c.bytes) / median / 1e6;
      // ratio: this variant's median time over the plug-in's, i.e. the plug-in's speed
      // relative to this baseline (above 1: the plug-in is faster).
      std::printf("%-32s %-16s %12.1f %10.1f %8.3f\n", CaseName(c).c_str(),
                  c.variants[v].name.c_str(), median * 1e6, mbps, median / first);
      if (json != nullptr) {
        WriteJson(json, c, c.variants[v], median, options.rounds, iterations[v], samples[v]);
      }
    }
    std::fflush(stdout);
  }
  if (json != nullptr) std::fclose(json);
  return 0;
}
