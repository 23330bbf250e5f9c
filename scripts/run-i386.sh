#!/usr/bin/env bash
# Runs a command where 32-bit x86 code runs, with its standard output, standard error and
# exit status passed back unchanged:
#
#   bash scripts/run-i386.sh COMMAND [ARG...]
#   bash scripts/run-i386.sh wine out/varel-win32/bin/varel.exe list out/samples.pkg
#
# Where the kernel runs i386 code (scripts/i386.sh decides; VAREL_I386=emulate forces the
# other path), the command simply runs. Where it does not, it runs in a throwaway VM whose
# kernel does: the host's file system seen read-only under a writable layer in memory, so
# the command sees every installed program and this checkout as they are. What it writes
# there is dropped at power-off, except under the folders that come back to the host when
# it ends (VAREL_VM_WRITEBACK). Its standard input is empty; it runs in the current folder
# with the current environment. Nothing is left running afterwards, Ctrl-C included.
#
#   VAREL_VM_WRITEBACK  ':'-separated folders whose changes come back (default: the current
#                       folder and Wine's prefix, as a command run here would leave them);
#                       empty: none
#   VAREL_VM_MEMORY     the VM's memory in MiB (default 8192)
#   VAREL_VM_CPUS       its processors (default: this machine's)
#   VAREL_VM_TIMEOUT    seconds before the VM is stopped (status 124); default: no limit
#
# Exit status: the command's; 125 when the VM could not run it (the reason on stderr).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/i386.sh"

if [ "${1:-}" = -- ]; then shift; fi
if [ $# -eq 0 ]; then
  sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
fi

mode=$(i386_mode) || exit 125
if [ "$mode" = native ]; then
  exec "$@"
fi

if ! i386_vm_prepare >&2; then
  echo "run-i386: the VM cannot be prepared; run 'bash scripts/setup.sh' (as root) first" >&2
  exit 125
fi
if ! command -v qemu-system-x86_64 >/dev/null; then
  echo "run-i386: qemu-system-x86_64 is missing; run 'bash scripts/setup.sh' (as root) first" >&2
  exit 125
fi

job=$(mktemp -d "${TMPDIR:-/tmp}/varel-vm.XXXXXX") || exit 125
qemu_pid=
readers=()
finish() {
  local status=$1
  if [ -n "$qemu_pid" ]; then
    kill "$qemu_pid" 2>/dev/null
    wait "$qemu_pid" 2>/dev/null
  fi
  release_readers
  rm -rf "$job"
  exit "$status"
}
# A reader still waiting for qemu to open its pipe is let go by a writer that closes at once.
release_readers() {
  local fifo fd
  for fifo in "$job/stdout" "$job/stderr"; do
    if [ -p "$fifo" ]; then
      exec {fd}<>"$fifo"
      exec {fd}>&-
    fi
  done
  [ ${#readers[@]} -eq 0 ] || wait "${readers[@]}" 2>/dev/null
  readers=()
}
trap 'finish 130' INT
trap 'finish 143' TERM
trap 'finish 129' HUP

# The job: this environment (but for what the shell keeps of its own), this folder, the
# command.
{
  echo '# Written by scripts/run-i386.sh.'
  export -p | grep -Ev '^declare -x (PWD|OLDPWD|SHLVL|_)(=|$)'
  printf 'cd %q || exit 125\n' "$PWD"
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$job/job.sh"
cp "$varel_root/scripts/vm/guest.sh" "$varel_root/scripts/vm/writeback.py" "$job/"

# The folders whose changes come back, one a line, as absolute paths without links.
if [ -z "${VAREL_VM_WRITEBACK+set}" ]; then
  VAREL_VM_WRITEBACK="$PWD:${WINEPREFIX:-${HOME:-/root}/.wine}"
fi
: >"$job/writeback"
IFS=: read -r -a folders <<<"$VAREL_VM_WRITEBACK"
for folder in "${folders[@]}"; do
  [ -n "$folder" ] || continue
  case $folder in
    /*) ;;
    *) folder=$PWD/$folder ;;
  esac
  folder=$(realpath -m "$folder")
  if [ "$folder" = / ]; then
    echo "run-i386: not writing back the whole file system; name folders in VAREL_VM_WRITEBACK" >&2
    finish 125
  fi
  echo "$folder" >>"$job/writeback"
done

mkfifo "$job/stdout" "$job/stderr"
cat "$job/stdout" &
readers+=($!)
cat "$job/stderr" >&2 &
readers+=($!)

memory=${VAREL_VM_MEMORY:-8192}
cpus=${VAREL_VM_CPUS:-$(nproc)}
# Nehalem: the guest kernel oopses on return from 32-bit code with -cpu max.
qemu-system-x86_64 \
  -machine q35 -accel tcg,thread=multi,tb-size=1024 -cpu Nehalem \
  -smp "$cpus" -m "$memory" \
  -display none -monitor none -no-reboot -nic none \
  -serial "file:$job/console" \
  -kernel "$i386_vm_dir/vmlinuz" -initrd "$i386_vm_dir/initrd" \
  -append "console=ttyS0 quiet panic=-1 mitigations=off varel_job=$job" \
  -virtfs local,path=/,mount_tag=host,security_model=passthrough,readonly=on,multidevs=remap \
  -device virtio-serial-pci \
  -chardev "file,id=stdout,path=$job/stdout" -device virtserialport,chardev=stdout,name=stdout \
  -chardev "file,id=stderr,path=$job/stderr" -device virtserialport,chardev=stderr,name=stderr \
  -chardev "file,id=status,path=$job/status" -device virtserialport,chardev=status,name=status \
  -chardev "file,id=writeback,path=$job/writeback.tar" \
  -device virtserialport,chardev=writeback,name=writeback \
  </dev/null >"$job/qemu.log" 2>&1 &
qemu_pid=$!

if [ -n "${VAREL_VM_TIMEOUT:-}" ]; then
  (
    sleep "$VAREL_VM_TIMEOUT"
    echo "run-i386: stopping the VM after ${VAREL_VM_TIMEOUT}s" >&2
    kill "$qemu_pid" 2>/dev/null
  ) &
  timer=$!
fi
wait "$qemu_pid"
qemu_status=$?
qemu_pid=
[ -z "${timer:-}" ] || kill "$timer" 2>/dev/null
release_readers

{ read -r status; read -r writeback; } <"$job/status" 2>/dev/null
if ! [[ ${status:-} =~ ^[0-9]+$ ]]; then
  if [ -n "${timer:-}" ] && [ "$qemu_status" -ne 0 ]; then
    finish 124
  fi
  echo "run-i386: the VM ended without the command's exit status (qemu: $qemu_status)" >&2
  tail -n 20 "$job/qemu.log" "$job/console" >&2 2>/dev/null
  finish 125
fi
if [ "${writeback:-}" = failed ] ||
  { [ -s "$job/writeback" ] && [ -s "$job/writeback.tar" ] &&
    ! /usr/bin/python3 "$job/writeback.py" apply "$job/writeback.tar" "$job/writeback"; }; then
  echo "run-i386: the files the command wrote could not all be brought back" >&2
  [ "$status" -ne 0 ] || status=125
fi
finish "$status"
