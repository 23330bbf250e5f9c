#!/bin/sh
# Runs a test command, unless this 32-bit test program would run under qemu-user (the
# kernel refusing i386 programs, or VAREL_I386=emulate): valgrind cannot run there. Then
# the case is skipped (status 77) with the reason; the 64-bit build runs it natively.
#
#   sh tests/unless_emulated.sh WHY COMMAND [ARG...]
why=$1
shift
for entry in /proc/sys/fs/binfmt_misc/*; do
  if grep -qx enabled "$entry" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$entry"; then
    echo "skipped: i386 programs run under qemu-user here, and $why"
    exit 77
  fi
done
exec "$@"
