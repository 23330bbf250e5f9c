#!/usr/bin/env bash
# Builds the fuzz preset (clang, native 64-bit, libFuzzer, ASan + UBSan) and runs every
# target for a bounded time on its committed seeds and regression inputs, one target a core
# at a time. Fails on any crash, leak, sanitizer report or broken check. New inputs go to a
# scratch folder, never to the repo.
#   FUZZ_SECONDS  seconds per target (default 30)
#   FUZZ_BUILD    build folder (default build/fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-30}"
build="${FUZZ_BUILD:-build/fuzz}"

cmake --preset fuzz -B "$build" -DVAREL_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

# The plug-in's heap refuses a block of 2 GiB or more on every build, as a 32-bit process's
# heap does, so no request of that size should reach the allocator: in a 64-bit process it
# would succeed, and -malloc_limit_mb reports it instead (a request below it that the
# allocator cannot serve must come back as NULL, as the heap gives it). Nothing the
# targets do needs 2 GiB resident either: -rss_limit_mb is libFuzzer's default, stated.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# fuzz NAME: one target's run; its report goes to $scratch/NAME.report, its status to
# $scratch/NAME.status.
fuzz() {
  local name=$1 program="$build/bin/fuzz_$1" result=0
  mkdir -p "$scratch/$name"
  {
    echo "== fuzz $name (${seconds}s)"
    if ! "$program" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -malloc_limit_mb=2048 -dict=fuzz/varel.dict -print_final_stats=1 \
        -artifact_prefix="$scratch/$name-" "$scratch/$name" "fuzz/corpus/$name" \
        $( [ -d "fuzz/regressions/$name" ] && echo "fuzz/regressions/$name" ) \
        >"$scratch/$name.log" 2>&1; then
      tail -n 60 "$scratch/$name.log"
      mkdir -p "$build/fuzz-artifacts"
      cp "$scratch/$name"-* "$build/fuzz-artifacts/" 2>/dev/null || true
      echo "fuzz-smoke: $name failed; reproducer in $build/fuzz-artifacts/"
      result=1
    else
      grep -E "^(stat::number_of_executed_units|#[0-9]+ +DONE)" "$scratch/$name.log" || true
    fi
  } >"$scratch/$name.report" 2>&1
  echo "$result" >"$scratch/$name.status"
}

# One target a core at a time; the reports in the targets' order.
names=()
status=0
for target in fuzz/corpus/*/; do
  name="$(basename "$target")"
  if [ ! -x "$build/bin/fuzz_$name" ]; then
    echo "fuzz-smoke: no program for $name" >&2
    status=1
    continue
  fi
  names+=("$name")
  while [ "$(jobs -pr | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  fuzz "$name" &
done
wait
for name in "${names[@]}"; do
  cat "$scratch/$name.report"
  [ "$(cat "$scratch/$name.status")" -eq 0 ] || status=1
done
exit "$status"
