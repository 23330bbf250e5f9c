#!/usr/bin/env bash
# scripts/run-i386.sh passes a command's standard output and error and its exit status
# back unchanged, on both paths: as it is (VAREL_I386=native), and in the VM
# (VAREL_I386=emulate), where an i386 program must run and the files the command wrote
# under the folders asked for must come back. Exits 77 (skipped) when the VM cannot be
# started here, saying why.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
run_i386=$here/../../scripts/run-i386.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
expect() {
  if [ "$3" != "$2" ]; then
    echo "FAIL ($path): $1: '$3', expected '$2'"
    failures=$((failures + 1))
  fi
}

# Every byte value on stdout, and line ends untouched: the serial ports carry bytes.
printf 'for i in $(seq 0 255); do printf "\\\\$(printf %%03o $i)"; done\n' >bytes.sh
sh bytes.sh >expected-bytes
[ "$(wc -c <expected-bytes)" -eq 256 ] || { echo "cannot make the byte values"; exit 1; }

check() {
  path=$1
  shift
  "$@" >out 2>err
  expect "exit status" 3 "$?"
  expect "stdout" "$(cat expected-bytes | od -An -tx1)" "$(od -An -tx1 <out)"
  expect "stderr" "to stderr, line 1
line 2" "$(cat err)"
}
job='sh bytes.sh; printf "to stderr, line 1\nline 2\n" >&2; exit 3'
check native env VAREL_I386=native bash "$run_i386" sh -c "$job"

if ! command -v qemu-system-x86_64 >/dev/null; then
  echo "skipped: the VM path needs qemu-system-x86 (VAREL_I386=emulate bash scripts/setup.sh)"
  [ "$failures" -eq 0 ] && exit 77
  exit 1
fi

# The VM: the same, from an i386 program of the host's making and a command that changes
# files in the folder that comes back (made, changed, removed; a folder made again).
cat >status.c <<'C'
#include <stdlib.h>
int main(int argc, char** argv) { return argc > 1 ? atoi(argv[1]) : 0; }
C
gcc -m32 -o status-i386 status.c || { echo "cannot build an i386 program"; exit 1; }
mkdir -p back/gone-folder back/remade
echo old >back/changed
echo old >back/removed
echo old >back/gone-folder/file
echo old >back/remade/old-file
echo outside >outside
job='sh bytes.sh; printf "to stderr, line 1\nline 2\n" >&2
echo new >back/changed; rm back/removed; rm -r back/gone-folder; echo new >back/made
rm -r back/remade; mkdir back/remade; echo new >back/remade/new-file; echo changed >outside
./status-i386 3'
check VM env VAREL_I386=emulate VAREL_VM_WRITEBACK="$work/back" bash "$run_i386" sh -c "$job"
expect "a changed file" new "$(cat back/changed)"
expect "a new file" new "$(cat back/made 2>&1)"
expect "a removed file" no "$([ -e back/removed ] && echo yes || echo no)"
expect "a removed folder" no "$([ -e back/gone-folder ] && echo yes || echo no)"
expect "a folder made again" new-file "$(ls back/remade)"
expect "a file outside the folders asked for" outside "$(cat outside)"

# A VM that ends before the command does: status 125 and a reason, never success.
path="VM, powered off"
VAREL_I386=emulate VAREL_VM_WRITEBACK= bash "$run_i386" sh -c 'echo o >/proc/sysrq-trigger; sleep 60' \
  >out 2>err
expect "exit status" 125 "$?"
expect "the reason" yes "$(grep -q 'ended without the command' err && echo yes || echo no)"

# Ctrl-C while the VM runs: status 130, and nothing of the VM left, running or on disk.
path="VM, interrupted"
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
# A job started with & has Ctrl-C ignored, which bash cannot undo: python gives the runner
# the default a terminal's foreground job has, in a process group of its own.
VAREL_I386=emulate VAREL_VM_WRITEBACK= python3 -c '
import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.setsid()
os.execvp(sys.argv[1], sys.argv[1:])' bash "$run_i386" sleep 600 >out 2>err &
runner=$!
for _ in $(seq 1 60); do
  ls "$TMPDIR"/varel-vm.*/console >/dev/null 2>&1 && break
  sleep 1
done
sleep 5
kill -INT -- -"$runner"
wait "$runner"
expect "exit status" 130 "$?"
expect "VMs left running" "" "$(pgrep -f "qemu-system.*$TMPDIR" || true)"
expect "files left" "" "$(ls "$TMPDIR")"

[ "$failures" -eq 0 ] && echo "run-i386: all cases pass"
exit $((failures > 0))
