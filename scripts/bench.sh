#!/usr/bin/env bash
# Builds the benchmarks (32-bit Linux and Windows), runs them all and writes
# docs/performance.md and docs/performance.png. Slow (several minutes) and sensitive to other
# load: run it on a quiet machine. The test suite never runs it.
#
#   scripts/bench.sh [--quick] [--native-harness]
#     --quick           fewer rounds and repetitions (a smoke run; figures are noisier)
#     --native-harness  also run the stand-alone harness natively, beside Google Benchmark
#
# Build folders: build/bench-linux32 and build/bench-win32 (BENCH_BUILD_PREFIX overrides
# "build/bench"). BENCH_FILTER=TEXT runs only the cases whose name holds TEXT.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
native_harness=0
for a in "$@"; do
  case "$a" in
    --quick) quick=1 ;;
    --native-harness) native_harness=1 ;;
    *) echo "bench.sh: unknown argument $a" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh

prefix=${BENCH_BUILD_PREFIX:-build/bench}
native=$prefix-linux32
windows=$prefix-win32
out=$prefix-results
mkdir -p "$out" docs

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p >/dev/null 2>&1 </dev/null || true

echo "== build"
cmake --preset linux32 -B "$native" -DVAREL_WERROR=ON -DVAREL_TESTS=OFF >/dev/null
cmake --build "$native" --target varel_bench varel_gbench varel_bench_peak
cmake --preset win32 -B "$windows" -DVAREL_WERROR=ON -DVAREL_TESTS=OFF >/dev/null
cmake --build "$windows" --target varel_bench

if [ "$quick" -eq 1 ]; then
  rounds=3
  reps=3
  min_time=0.05
else
  rounds=9
  reps=9
  min_time=0.2
fi

facts=$PWD/$out/facts.tsv
filter=${BENCH_FILTER:-}
gfilter=()
hfilter=()
if [ -n "$filter" ]; then
  gfilter=(--cases="$filter")
  hfilter=(--filter="$filter")
fi
{
  printf 'date\t%s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
  printf 'commit\t%s\n' "$(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  printf 'machine\t%s cores, %s; %s\n' "$(nproc)" \
    "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')" \
    "$(wine --version 2>/dev/null || echo 'no wine')"
  printf 'load_before\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
} >"$facts"

# Each command is recorded as it is run, relative to the repository, for the report.
run() {
  local key=$1
  shift
  printf '%s\t%s\n' "$key" "$*" >>"$facts"
  echo "== $*"
  "$@"
}

run cmd_gbench "$native/bin/varel_gbench" "${gfilter[@]}" --benchmark_repetitions=$reps \
  --benchmark_enable_random_interleaving=true --benchmark_min_time=$min_time \
  --benchmark_report_aggregates_only=true --benchmark_out_format=json \
  --benchmark_out="$out/gbench.json"
# The Windows harness writes its JSON lines where Wine can reach them: the current folder.
exe=../$(basename "$windows")/bin/varel_bench.exe
printf 'cmd_wine\tcd %s && wine %s --rounds=%s --json=wine.jsonl\n' "$out" "$exe" "$rounds" \
  >>"$facts"
echo "== wine $exe"
(cd "$out" && wine "$exe" "${hfilter[@]}" --rounds=$rounds --json=wine.jsonl)
if [ "$native_harness" -eq 1 ]; then
  run cmd_native "$native/bin/varel_bench" "${hfilter[@]}" --rounds=$rounds --json="$out/native.jsonl"
fi
run cmd_peak "$native/bin/varel_bench_peak" "${hfilter[@]}" --json="$out/peak.jsonl"

printf 'load_after\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)" >>"$facts"
if [ -f bench/notes.md ]; then printf 'notes_file\t%s\n' bench/notes.md >>"$facts"; fi

native_arg=()
if [ "$native_harness" -eq 1 ]; then native_arg=(--native-harness "$out/native.jsonl"); fi
python3 bench/report.py --gbench "$out/gbench.json" --wine "$out/wine.jsonl" \
  --peak "$out/peak.jsonl" "${native_arg[@]}" --facts "$facts" --out docs/performance.md \
  --plot-data "$out/plot.dat" --plot-script "$out/plot.gp"
gnuplot "$out/plot.gp"
echo "== wrote docs/performance.md and docs/performance.png"
