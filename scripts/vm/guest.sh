#!/bin/bash
# Runs in the VM as its first process once the host's file system is mounted (see init):
# mounts what programs expect, runs the job with its output on the VM's serial ports,
# sends its exit status and the files it wrote back to the host, and powers off.
#
# The job folder (on the host, seen here read-only) holds job.sh, written by
# scripts/run-i386.sh: the caller's environment, folder and command.
job=$1
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts /dev/pts
ln -sf pts/ptmx /dev/ptmx
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
ln -sf /proc/self/fd /dev/fd 2>/dev/null
hostname varel-vm 2>/dev/null

power_off() {
  sync
  echo o >/proc/sysrq-trigger
  sleep 60
}

# The serial ports the host named, by name.
port() {
  local link
  for link in /sys/class/virtio-ports/*; do
    if [ "$(cat "$link/name" 2>/dev/null)" = "$1" ]; then
      echo "/dev/$(basename "$link")"
      return 0
    fi
  done
  return 1
}
status_port=$(port status) || { echo "varel-vm: no status port" >/dev/console; power_off; }
stdout_port=$(port stdout) || stdout_port=/dev/console
stderr_port=$(port stderr) || stderr_port=/dev/console
writeback_port=$(port writeback) || writeback_port=

# The job runs in a session of its own, as a command started from a shell would, with
# nothing on its standard input.
setsid -w /bin/bash "$job/job.sh" </dev/null >"$stdout_port" 2>"$stderr_port"
status=$?

# What the job wrote under the folders the host asked for, from the writable layer.
writeback=none
if [ -n "$writeback_port" ] && [ -s "$job/writeback" ]; then
  if /usr/bin/python3 "$job/writeback.py" pack /run/varel-vm/upper "$job/writeback" \
    >"$writeback_port" 2>/dev/console; then
    writeback=ok
  else
    writeback=failed
  fi
fi
printf '%s\n%s\n' "$status" "$writeback" >"$status_port"
power_off
