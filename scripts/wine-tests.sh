#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: one persistent Wine server for the whole run,
# so that each test program starts in milliseconds, with Wine's prefix made or updated
# first. Where the kernel refuses i386 code, scripts/test.sh runs this in the VM
# (scripts/run-i386.sh). Extra arguments go to ctest.
#
#   bash scripts/wine-tests.sh [CTEST-ARGUMENT...]
set -uo pipefail
cd "$(dirname "$0")/.."

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1' EXIT
# Let Wine finish making or updating its prefix now, so that no test waits behind it.
start=$SECONDS
wineboot -u >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null
echo "wine-tests: Wine ready in $((SECONDS - start)) s"
ctest --preset win32 -j "$(nproc)" "$@"
