#!/usr/bin/env bash
# Builds both platforms and runs every test: natively (32-bit Linux, and again under
# AddressSanitizer and UndefinedBehaviorSanitizer), and the Windows build under Wine with the
# real arc_varel.dll. Installs what is missing first. Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One Wine server for the whole run: each test program then starts in milliseconds.
wineserver -p >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# Let Wine finish creating or updating its prefix now, so that no test program (the test
# listing at build time included) waits behind it.
timeout 300 wineboot -u >/dev/null 2>&1 </dev/null || true
timeout 120 wine cmd /c exit >/dev/null 2>&1 </dev/null || true

jobs=$(nproc)
presets=(linux32 linux32-asan win32)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" -DVAREL_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
for preset in "${presets[@]}"; do
  echo "== test $preset"
  ctest --preset "$preset" -j "$jobs" || status=1
done

if [ -x scripts/fuzz-smoke.sh ]; then
  echo "== fuzz smoke"
  bash scripts/fuzz-smoke.sh || status=1
fi

exit "$status"
