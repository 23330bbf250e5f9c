#!/usr/bin/env bash
# Times varel pack, and varel extract of its archives, with --jobs 1 and --jobs 2 side by side
# on a 300 MiB mixed tree, and takes the peak memory of packing and extracting 600 MiB,
# natively (32-bit Linux) and under Wine. Prints Markdown tables (bench/pack_bench.py says
# how each figure is taken). Slow (about a quarter of an hour) and sensitive to other load:
# run it on a quiet machine. The test suite never runs it.
#
#   scripts/pack-bench.sh [--rounds N] [--speed-mib N] [--memory-mib N] [--parts pack,extract,memory]
#
# The trees are made once in build/pack-bench (about 900 MiB) and kept for later runs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

cmake --preset linux32 -DVAREL_WERROR=ON >/dev/null
cmake --build --preset linux32 --target varel varel_bench_tree >/dev/null
cmake --preset win32 -DVAREL_WERROR=ON >/dev/null
cmake --build --preset win32 --target varel >/dev/null

python3 bench/pack_bench.py --tree-tool build/linux32/bin/varel_bench_tree \
  --native build/linux32/bin/varel --windows build/win32/bin/varel.exe \
  --work build/pack-bench "$@"
