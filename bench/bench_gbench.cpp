// The native benchmarks with Google Benchmark: every variant of every case is registered as
// "group/data/size/variant". Each reports bytes per second; ratios are taken by the report
// from the medians of repetitions of one run of this program.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_cases.h"

int main(int argc, char** argv) {
  BenchOptions options;
  // Our own flag, taken out before Google Benchmark sees the rest.
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strncmp(argv[i], "--cases=", 8) == 0) {
      options.filter = argv[i] + 8;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());

  for (const auto& sum : DataChecksums(options)) {
    benchmark::AddCustomContext("crc32 " + sum.first, [&sum] {
      char hex[9];
      std::snprintf(hex, sizeof(hex), "%08X", static_cast<unsigned>(sum.second));
      return std::string(hex);
    }());
  }
  static const std::vector<BenchCase> cases = BuildBenchCases(options);
  for (const BenchCase& c : cases) {
    for (const BenchVariant& v : c.variants) {
      const BenchVariant* variant = &v;
      const uint64_t bytes = c.bytes;
      const double stored = static_cast<double>(c.stored);
      benchmark::RegisterBenchmark((CaseName(c) + "/" + v.name).c_str(),
                                   [variant, bytes, stored](benchmark::State& state) {
                                     for (auto _ : state) variant->run();
                                     state.SetBytesProcessed(static_cast<int64_t>(
                                         bytes * static_cast<uint64_t>(state.iterations())));
                                     state.counters["stored"] = stored;
                                   })
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
