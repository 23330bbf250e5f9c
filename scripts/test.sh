#!/usr/bin/env bash
# Builds every preset and runs every test: the native 64-bit Linux build (plain, and under
# AddressSanitizer and UndefinedBehaviorSanitizer; valgrind and the fuzzers run there), the
# 32-bit Linux build (plain and sanitized, the contract's layout) and the Windows build
# under Wine with the real arc_varel.dll, then the fuzz smoke and the release packages
# (scripts/package.sh, checked by tests/scripts/packages_test.sh). Installs what is missing
# first. Warnings are errors. Prints the time each phase took; fails if any phase fails.
#
# Where the kernel refuses i386 code (scripts/i386.sh; VAREL_I386=emulate forces it), the
# 32-bit Linux programs run under qemu-user and the Wine suite runs in a VM; a case that
# cannot run there says so and is counted as skipped, and runs on another preset.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/i386.sh

run_start=$SECONDS
timings=()
status=0
# phase NAME COMMAND...: runs, times and records one phase.
phase() {
  local name=$1 start=$SECONDS result=0
  shift
  echo
  echo "== $name"
  "$@" || result=$?
  local took=$((SECONDS - start))
  timings+=("$(printf '%-22s %4d:%02d  %s' "$name" $((took / 60)) $((took % 60)) \
    "$([ "$result" -eq 0 ] && echo ok || echo "FAILED ($result)")")")
  [ "$result" -eq 0 ] || status=1
  return "$result"
}
summary() {
  local took=$((SECONDS - run_start))
  echo
  echo "== phases (i386: $mode)"
  printf '%s\n' "${timings[@]}"
  printf '%-22s %4d:%02d  %s\n' "all" $((took / 60)) $((took % 60)) \
    "$([ "$status" -eq 0 ] && echo ok || echo FAILED)"
}

phase setup bash scripts/setup.sh || exit 1
mode=$(i386_mode) || exit 1
if [ "$mode" = emulate ] && [ "$(i386_probe)" = native ] && ! i386_binfmt_registered; then
  # Emulation asked for on a machine that runs i386 code: qemu-user serves this run only.
  i386_binfmt_register || exit 1
  trap 'i386_binfmt_remove' EXIT
fi

jobs=$(nproc)
presets=(linux64 linux64-asan linux32 linux32-asan win32 fuzz)
build() {
  cmake --preset "$1" -DVAREL_WERROR=ON >/dev/null && cmake --build --preset "$1" -j "$jobs"
}
for preset in "${presets[@]}"; do
  phase "build $preset" build "$preset" || { summary; exit 1; }
done

ctest_preset() {
  ctest --preset "$1" -j "$jobs"
}
phase "test linux64" ctest_preset linux64
phase "test linux64-asan" ctest_preset linux64-asan
# Under qemu-user, the i386 test programs find out themselves that they are emulated and
# skip what cannot run there (valgrind, address-space ceilings), saying why.
phase "test linux32" ctest_preset linux32
if [ "$mode" = native ]; then
  phase "test linux32-asan" ctest_preset linux32-asan
else
  # AddressSanitizer's 32-bit shadow memory does not fit qemu-user's address space: the
  # sanitized 32-bit build runs in the VM, a suite's cases to a process.
  phase "test linux32-asan (VM)" env VAREL_TESTS_BY_SUITE=1 \
    VAREL_VM_WRITEBACK="$PWD/build/linux32-asan/Testing" \
    bash scripts/run-i386.sh ctest --preset linux32-asan -j "$jobs"
fi
if [ "$mode" = native ]; then
  phase "test win32" bash scripts/wine-tests.sh
else
  # The VM brings back ctest's logs and Wine's prefix (made once, reused by later runs).
  # There each Wine process takes seconds to start, so a suite's cases share one.
  phase "test win32 (VM)" env VAREL_TESTS_BY_SUITE=1 \
    VAREL_VM_WRITEBACK="$PWD/build/win32/Testing:${WINEPREFIX:-$HOME/.wine}" \
    bash scripts/run-i386.sh bash scripts/wine-tests.sh
fi
phase "fuzz smoke" bash scripts/fuzz-smoke.sh
# The release packages, made from the builds the tests above ran, then installed and used.
packages() {
  bash scripts/package.sh >/dev/null && bash tests/scripts/packages_test.sh
}
phase "packages" packages

summary
exit "$status"
