#!/usr/bin/env bash
# Times varel pack, and varel extract of its archives, with --jobs 1 and --jobs 2 side by side
# on a 300 MiB mixed tree, and takes the peak memory of packing and extracting 600 MiB,
# natively (32-bit Linux, or 64-bit where i386 programs are refused) and under Wine. Prints Markdown tables (bench/pack_bench.py says
# how each figure is taken). Slow (about a quarter of an hour) and sensitive to other load:
# run it on a quiet machine. The test suite never runs it.
#
#   scripts/pack-bench.sh [--rounds N] [--speed-mib N] [--memory-mib N] [--parts pack,extract,test,memory]
#
# The trees are made once in build/pack-bench (about 900 MiB) and kept for later runs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null

# The 32-bit builds only where the kernel runs i386 programs itself (the figures of an
# emulator say nothing of varel); elsewhere the native 64-bit build alone.
source scripts/i386.sh
if [ "$(VAREL_I386=auto i386_mode 2>/dev/null)" = native ] && ! i386_emulator_registered; then
  native=linux32
  windows=(--windows build/win32/bin/varel.exe)
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineserver -p >/dev/null 2>&1 </dev/null || true
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  cmake --preset win32 -DVAREL_WERROR=ON >/dev/null
  cmake --build --preset win32 --target varel >/dev/null
else
  echo "pack-bench: i386 programs do not run natively here: linux64 only, no Wine" >&2
  native=linux64
  windows=()
fi
cmake --preset "$native" -DVAREL_WERROR=ON >/dev/null
cmake --build --preset "$native" --target varel varel_bench_tree >/dev/null

python3 bench/pack_bench.py --tree-tool "build/$native/bin/varel_bench_tree" \
  --native "build/$native/bin/varel" --native-label "$native" "${windows[@]}" \
  --work build/pack-bench "$@"
