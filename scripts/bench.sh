#!/usr/bin/env bash
# Builds the benchmarks (native Linux, and Windows where Wine runs), runs them all and writes
# docs/performance.md and docs/performance.png. Slow (several minutes) and sensitive to other
# load: run it on a quiet machine. The test suite never runs it.
#
#   scripts/bench.sh [--quick] [--native-harness] [--native=PRESET] [--no-wine] [--out=FILE]
#     --quick           fewer rounds and repetitions (a smoke run; figures are noisier)
#     --native-harness  also run the stand-alone harness natively, beside Google Benchmark
#     --native=PRESET   the native build: linux32 (i386) or linux64 (x86-64). Default (or
#                       BENCH_NATIVE): linux32 where this kernel runs i386 programs itself,
#                       linux64 where it does not
#     --no-wine         leave out the Windows build under Wine; it is left out anyway where
#                       i386 programs do not run natively, since Wine here is 32-bit
#     --out=FILE        the report (default docs/performance.md; the plot beside it)
#
# Build folders: build/bench-PRESET and build/bench-win32 (BENCH_BUILD_PREFIX overrides
# "build/bench"). BENCH_FILTER=TEXT runs only the cases whose name holds TEXT.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
native_harness=0
native_preset=${BENCH_NATIVE:-}
use_wine=1
report=docs/performance.md
for a in "$@"; do
  case "$a" in
    --quick) quick=1 ;;
    --native-harness) native_harness=1 ;;
    --native=linux32 | --native=linux64) native_preset=${a#--native=} ;;
    --no-wine) use_wine=0 ;;
    --out=?*) report=${a#--out=} ;;
    *) echo "bench.sh: unknown argument $a" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh

# The 32-bit builds are timed only where the kernel runs i386 programs itself and no
# emulator (qemu-user) is registered for them, which would run them (and Wine) emulated.
source scripts/i386.sh
i386_runs_natively() {
  [ "$(VAREL_I386=auto i386_mode 2>/dev/null)" = native ] && ! i386_emulator_registered
}
i386_native=0
if i386_runs_natively; then i386_native=1; fi
if [ -z "$native_preset" ]; then
  if [ "$i386_native" -eq 1 ]; then native_preset=linux32; else native_preset=linux64; fi
fi
case "$native_preset" in
  linux32 | linux64) ;;
  *) echo "bench.sh: BENCH_NATIVE must be linux32 or linux64, not $native_preset" >&2; exit 2 ;;
esac
if [ "$use_wine" -eq 1 ] && [ "$i386_native" -eq 0 ]; then
  echo "bench.sh: i386 programs do not run natively here: the Windows figures are left out" >&2
  use_wine=0
fi

prefix=${BENCH_BUILD_PREFIX:-build/bench}
native=$prefix-$native_preset
windows=$prefix-win32
out=$prefix-results
mkdir -p "$out" "$(dirname "$report")"
# Results of an earlier run must not stand in for a part this run leaves out.
rm -f "$out/gbench.json" "$out/wine.jsonl" "$out/native.jsonl" "$out/peak.jsonl"

if [ "$use_wine" -eq 1 ]; then
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineserver -p >/dev/null 2>&1 </dev/null || true
fi

echo "== build"
cmake --preset "$native_preset" -B "$native" -DVAREL_WERROR=ON -DVAREL_TESTS=OFF >/dev/null
cmake --build "$native" --target varel_bench varel_gbench varel_bench_peak
if [ "$use_wine" -eq 1 ]; then
  cmake --preset win32 -B "$windows" -DVAREL_WERROR=ON -DVAREL_TESTS=OFF >/dev/null
  cmake --build "$windows" --target varel_bench
fi

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
    "$( ([ "$use_wine" -eq 1 ] && wine --version 2>/dev/null) || echo 'Wine not run')"
  printf 'native_build\t%s\n' "$native_preset"
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
if [ "$use_wine" -eq 1 ]; then
  exe=../$(basename "$windows")/bin/varel_bench.exe
  printf 'cmd_wine\tcd %s && wine %s --rounds=%s --json=wine.jsonl\n' "$out" "$exe" "$rounds" \
    >>"$facts"
  echo "== wine $exe"
  (cd "$out" && wine "$exe" "${hfilter[@]}" --rounds=$rounds --json=wine.jsonl)
fi
if [ "$native_harness" -eq 1 ]; then
  run cmd_native "$native/bin/varel_bench" "${hfilter[@]}" --rounds=$rounds --json="$out/native.jsonl"
fi
run cmd_peak "$native/bin/varel_bench_peak" "${hfilter[@]}" --json="$out/peak.jsonl"

printf 'load_after\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)" >>"$facts"
if [ -f bench/notes.md ]; then printf 'notes_file\t%s\n' bench/notes.md >>"$facts"; fi

native_arg=()
if [ "$native_harness" -eq 1 ]; then native_arg=(--native-harness "$out/native.jsonl"); fi
wine_arg=()
if [ "$use_wine" -eq 1 ]; then wine_arg=(--wine "$out/wine.jsonl"); fi
python3 bench/report.py --gbench "$out/gbench.json" "${wine_arg[@]}" \
  --peak "$out/peak.jsonl" "${native_arg[@]}" --facts "$facts" --out "$report" \
  --plot-data "$out/plot.dat" --plot-script "$out/plot.gp"
gnuplot "$out/plot.gp"
echo "== wrote $report and $(dirname "$report")/performance.png"
