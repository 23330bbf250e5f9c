# Where 32-bit x86 code runs, and how to run it where the kernel refuses it. Sourced by the
# other scripts; `bash scripts/i386.sh probe|mode` prints the verdict.
#
# Some machines run only 64-bit programs: every i386 program fails with "Exec format
# error". There, Linux i386 programs run under qemu-user (registered with binfmt_misc, so
# they start as usual), and Wine, which needs a kernel that runs i386 code, runs in a VM
# (scripts/run-i386.sh). VAREL_I386=emulate takes that path on any machine, so that it can
# be tried where i386 code runs natively; VAREL_I386=native insists on the native path.

varel_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
i386_binfmt_name=varel-i386
i386_binfmt_dir=/proc/sys/fs/binfmt_misc
i386_vm_dir=$varel_root/deps/vm

# "native" when the kernel runs a gcc -m32 no-op, "refused" when it does not. The no-op
# carries a mark in its ELF header's padding, which the kernel's own loader ignores and
# qemu-user's binfmt entries do not accept: so an emulator registered for i386 programs
# never answers in the kernel's place.
i386_probe() {
  local work verdict status
  work=$(mktemp -d)
  printf 'int main(void) { return 0; }\n' >"$work/noop.c"
  if ! gcc -m32 -o "$work/noop" "$work/noop.c" 2>"$work/log"; then
    echo "i386: cannot build a -m32 program (is g++-multilib installed?):" >&2
    cat "$work/log" >&2
    rm -rf "$work"
    return 1
  fi
  printf '\001' | dd of="$work/noop" bs=1 seek=15 conv=notrunc status=none
  status=0
  "$work/noop" 2>/dev/null || status=$?
  rm -rf "$work"
  case $status in
    0) verdict=native ;;
    126) verdict=refused ;;
    *)
      echo "i386: a -m32 no-op ended with status $status" >&2
      return 1
      ;;
  esac
  echo "$verdict"
}

# "native" or "emulate": the path this run takes, from VAREL_I386 or the probe.
i386_mode() {
  case ${VAREL_I386:-auto} in
    emulate) echo emulate ;;
    native) echo native ;;
    auto)
      local verdict
      verdict=$(i386_probe) || return 1
      if [ "$verdict" = native ]; then echo native; else echo emulate; fi
      ;;
    *)
      echo "i386: VAREL_I386 is '$VAREL_I386'; use auto, native or emulate" >&2
      return 1
      ;;
  esac
}

# True when some emulator (ours or another) is registered for i386 programs and enabled.
i386_emulator_registered() {
  local entry
  for entry in "$i386_binfmt_dir"/*; do
    if grep -qx enabled "$entry" 2>/dev/null &&
      grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null; then
      return 0
    fi
  done
  return 1
}

i386_binfmt_registered() {
  [ -e "$i386_binfmt_dir/$i386_binfmt_name" ]
}

# Linux i386 programs start under qemu-user from here on (until i386_binfmt_remove or a
# reboot). Root only.
i386_binfmt_register() {
  i386_binfmt_registered && return 0
  if [ ! -e "$i386_binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$i386_binfmt_dir" || return 1
  fi
  # An i386 executable or shared object (ELF class 32, little-endian, machine 3); the
  # emulator is opened now (flag F), so it serves in every mount namespace.
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":$i386_binfmt_name:M::$magic:$mask:/usr/bin/qemu-i386:F" \
    >"$i386_binfmt_dir/register"
}

i386_binfmt_remove() {
  if i386_binfmt_registered; then
    echo -1 >"$i386_binfmt_dir/$i386_binfmt_name"
  fi
}

# The VM's kernel and initramfs, in deps/vm (ignored by git): Debian's kernel, unpacked
# from its package (nothing is installed in /boot), and an initramfs of busybox, the
# modules the host's file system needs and scripts/vm/init. Cheap when they are there.
i386_vm_prepare() {
  local package version stamp
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  if [ -z "$package" ]; then
    echo "i386: no kernel package found for the VM (apt-cache depends linux-image-amd64)" >&2
    return 1
  fi
  version=${package#linux-image-}
  mkdir -p "$i386_vm_dir"
  if [ ! -f "$i386_vm_dir/vmlinuz-$version" ]; then
    echo "i386: fetching $package for the VM into deps/vm"
    local unpack=$i386_vm_dir/unpack
    rm -rf "$unpack" "$i386_vm_dir"/*.deb "$i386_vm_dir"/modules-*
    (cd "$i386_vm_dir" && apt-get download -qq "$package" 2>/dev/null) || {
      echo "i386: 'apt-get download $package' failed" >&2
      return 1
    }
    mkdir -p "$unpack"
    dpkg-deb -x "$i386_vm_dir"/"$package"_*.deb "$unpack"
    mkdir -p "$i386_vm_dir/modules-$version"
    local module path
    for module in $(cat "$varel_root/scripts/vm/modules"); do
      path=$(find "$unpack/lib/modules/$version/kernel" -name "$module.ko" | head -n 1)
      if [ -z "$path" ]; then
        echo "i386: $package has no module $module" >&2
        return 1
      fi
      cp "$path" "$i386_vm_dir/modules-$version/"
    done
    cp "$unpack/boot/vmlinuz-$version" "$i386_vm_dir/vmlinuz-$version.part"
    mv "$i386_vm_dir/vmlinuz-$version.part" "$i386_vm_dir/vmlinuz-$version"
    rm -rf "$unpack" "$i386_vm_dir"/*.deb
  fi
  ln -sfn "vmlinuz-$version" "$i386_vm_dir/vmlinuz"
  # The initramfs is made again whenever what goes into it changes.
  stamp=$(cat "$varel_root/scripts/vm/init" "$varel_root/scripts/vm/modules" /bin/busybox |
    sha256sum | cut -c1-16)-$version
  if [ "$(cat "$i386_vm_dir/initrd.stamp" 2>/dev/null)" != "$stamp" ]; then
    local tree=$i386_vm_dir/initrd-tree
    rm -rf "$tree"
    mkdir -p "$tree/bin" "$tree/modules" "$tree/proc" "$tree/sys" "$tree/dev"
    cp /bin/busybox "$tree/bin/busybox"
    ln -s busybox "$tree/bin/sh"
    cp "$varel_root/scripts/vm/init" "$tree/init"
    chmod 755 "$tree/init"
    cp "$i386_vm_dir/modules-$version"/*.ko "$tree/modules/"
    cp "$varel_root/scripts/vm/modules" "$tree/modules.order"
    (cd "$tree" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) \
      >"$i386_vm_dir/initrd.part"
    mv "$i386_vm_dir/initrd.part" "$i386_vm_dir/initrd"
    rm -rf "$tree"
    echo "$stamp" >"$i386_vm_dir/initrd.stamp"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case ${1:-} in
    probe) i386_probe ;;
    mode) i386_mode ;;
    *)
      echo "usage: bash scripts/i386.sh probe|mode" >&2
      exit 2
      ;;
  esac
fi
