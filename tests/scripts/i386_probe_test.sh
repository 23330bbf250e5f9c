#!/usr/bin/env bash
# The probe's verdict and the path it chooses (scripts/i386.sh), with the compiler and the
# kernel's answer stood in for, then the probe on this machine against what its kernel
# does with an i386 program.
set -uo pipefail
source "$(dirname "$0")/../../scripts/i386.sh"

failures=0
expect() {
  local what=$1 want=$2 got=$3
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}

# A stand-in for gcc whose "program" ends with the status in $noop_status. The probe
# marks byte 15 of whatever it built, which the comment line keeps clear of the code.
gcc() {
  local out
  while [ $# -gt 0 ]; do
    [ "$1" = -o ] && out=$2
    shift
  done
  printf '#!/bin/sh\n# padding for the mark .....\nexit %s\n' "$noop_status" >"$out"
  chmod +x "$out"
}
unset VAREL_I386
for row in "0 native native" "126 refused emulate" "1 - -"; do
  read -r noop_status verdict path <<<"$row"
  got=$(i386_probe 2>/dev/null) || got=-
  expect "verdict when the no-op ends with $noop_status" "$verdict" "$got"
  got=$(i386_mode 2>/dev/null) || got=-
  expect "path when the no-op ends with $noop_status" "$path" "$got"
done

# VAREL_I386 decides without asking the kernel; anything else is refused.
noop_status=0
for row in "emulate emulate" "native native" "auto native" "fast -"; do
  read -r setting path <<<"$row"
  got=$(VAREL_I386=$setting i386_mode 2>/dev/null) || got=-
  expect "path with VAREL_I386=$setting" "$path" "$got"
done
noop_status=126
expect "path with VAREL_I386=native on a refusing kernel" native "$(VAREL_I386=native i386_mode)"

# No compiler for -m32: no verdict, and a reason.
gcc() { echo "cannot find crti.o" >&2; return 1; }
got=$(i386_probe 2>&1) && failures=$((failures + 1))
case $got in
  *"cannot build a -m32 program"*"crti.o"*) ;;
  *) echo "FAIL: a probe without a compiler says: $got"; failures=$((failures + 1)) ;;
esac
unset -f gcc

# This machine: the verdict is the kernel's own, even when qemu-user is registered for
# i386 programs (which then run here whatever the kernel does).
if command -v gcc >/dev/null && verdict=$(i386_probe 2>/dev/null); then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  printf 'int main(void) { return 0; }\n' >"$work/noop.c"
  gcc -m32 -o "$work/noop" "$work/noop.c"
  if i386_binfmt_registered; then
    expect "an i386 program with qemu-user registered" 0 "$("$work/noop" >/dev/null 2>&1; echo $?)"
  fi
  # The kernel's own answer, with every emulator for i386 programs set aside for a moment.
  emulators=$(grep -l 'interpreter .*qemu-i386' "$i386_binfmt_dir"/* 2>/dev/null)
  if [ -z "$emulators" ] || [ "$(id -u)" -eq 0 ]; then
    for entry in $emulators; do echo 0 >"$entry"; done
    kernel=$("$work/noop" >/dev/null 2>&1 && echo native || echo refused)
    for entry in $emulators; do echo 1 >"$entry"; done
    expect "the verdict on this machine" "$kernel" "$verdict"
  fi
  echo "this machine: $verdict$(i386_binfmt_registered && echo ', qemu-user registered for i386')"
fi

[ "$failures" -eq 0 ] && echo "i386 probe: all cases pass"
exit $((failures > 0))
