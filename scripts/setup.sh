#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages, and finds out whether
# this machine runs 32-bit x86 programs (some kernels run 64-bit code only). Where it does
# not, or where VAREL_I386=emulate asks for that path, it also installs and registers
# qemu-user for Linux i386 programs and prepares the VM that runs Wine (scripts/i386.sh).
# Cheap to repeat: nothing is fetched when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/i386.sh

# For every machine: the compilers and tools, the native 64-bit build's libraries, and what
# makes and checks the release packages (cpack's Debian generator calls dpkg-shlibdeps and
# file; the package test runs lintian, man and unzip).
base_packages=(
  cmake ninja-build
  g++ g++-multilib g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 libz-mingw-w64-dev
  clang libclang-rt-14-dev clang-format
  zlib1g-dev libgtest-dev googletest libbenchmark-dev libdeflate-dev libutf8proc-dev
  valgrind gnuplot-nox python3 time
  dpkg-dev file lintian man-db unzip
)
# Where i386 programs are refused: qemu-user for Linux ones, and the VM for Wine.
emulation_packages=(qemu-user qemu-system-x86 busybox-static)
# The 32-bit builds' libraries and Wine. Some of their install scripts run i386 programs,
# so they come after qemu-user is registered where it is needed.
i386_packages=(
  wine wine32:i386
  zlib1g-dev:i386 libgtest-dev:i386 libbenchmark-dev:i386 libdeflate-dev:i386
  libutf8proc-dev:i386 libc6-dbg:i386
)

# A mirror in the middle of a sync can serve a package list of the wrong size. When that
# list is the security suite's, the i386 halves of multiarch packages cannot match their
# installed amd64 halves and apt reports held broken packages. Taking every package from
# the main suite (the security suite pinned out) gives matching versions; the pin file is
# ours and removed again by the next run that fetches every list.
pin=/etc/apt/preferences.d/varel-main-suite-only
pin_main_suite() {
  cat >"$pin" <<'EOF'
# Written by scripts/setup.sh while the security suite's package list could not be fetched.
Package: *
Pin: release l=Debian-Security
Pin-Priority: -1

Package: *
Pin: release n=bookworm
Pin-Priority: 1001
EOF
}

lists_fetched=0
lists_ok=1
native_arch=$(dpkg --print-architecture)
# installed PACKAGE: a name without an architecture means this machine's own (or all).
installed() {
  local name=${1%%:*} arch=${1#*:}
  [ "$arch" != "$1" ] || arch=$native_arch
  dpkg-query -W -f='${Status} ${Architecture}\n' "$name" 2>/dev/null |
    grep -Eq "^install ok installed ($arch|all)\$"
}
# install PACKAGE...: installs those not installed yet.
install() {
  local missing=() p
  for p in "$@"; do
    installed "$p" || missing+=("$p")
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    lists_fetched=0
  fi
  if [ "$lists_fetched" -eq 0 ]; then
    lists_fetched=1
    if ! apt-get update -qq; then
      lists_ok=0
      echo "setup: some package lists could not be fetched (above); trying with what was fetched" >&2
    elif [ -f "$pin" ]; then
      rm -f "$pin"
    fi
  fi
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    if [ "$lists_ok" -eq 1 ]; then
      echo "setup: apt-get could not install the packages above" >&2
      exit 1
    fi
    echo "setup: retrying with every package taken from the main suite ($pin)" >&2
    pin_main_suite
    if ! apt-get install -y -qq --no-install-recommends --allow-downgrades "${missing[@]}"; then
      echo "setup: the packages cannot be installed while the package lists are incomplete." >&2
      echo "setup: this is usually a mirror being updated: wait a few minutes, then run" >&2
      echo "setup: 'bash scripts/setup.sh' again (as root); it needs Debian's archive only." >&2
      exit 1
    fi
  fi
}

install "${base_packages[@]}"

verdict=$(i386_probe)
mode=$(i386_mode)
if [ "$verdict" = native ]; then
  echo "setup: this machine runs i386 programs natively${VAREL_I386:+ (VAREL_I386=$VAREL_I386)}"
else
  echo "setup: this machine refuses i386 programs (its kernel runs 64-bit code only)"
fi
if [ "$mode" = emulate ]; then
  echo "setup: i386 programs run emulated: Linux ones under qemu-user, Wine in a VM"
fi
if [ "$mode" = emulate ] || [ "$verdict" = refused ]; then
  install "${emulation_packages[@]}"
fi
# Where the kernel refuses them, Linux i386 programs (some install scripts among them)
# start under qemu-user from now until the next boot. Where it runs them, scripts/test.sh
# registers qemu-user for its own run when VAREL_I386=emulate asks for that path.
if [ "$verdict" = refused ]; then
  if ! i386_binfmt_registered; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "setup: run as root to register qemu-user for i386 programs (binfmt_misc)" >&2
      exit 1
    fi
    i386_binfmt_register
  fi
fi
install "${i386_packages[@]}"

# libdeflate for the Windows build. Debian has no mingw build of it, so the same version's
# Debian source package (checked by apt against the signed index) goes into deps/, which
# git ignores, and CMake builds it with the mingw compiler.
deflate_version=$(dpkg-query -W -f='${Version}\n' libdeflate-dev | head -n 1)
deflate_upstream=${deflate_version#*:}
deflate_upstream=${deflate_upstream%-*}
deflate_dir=deps/libdeflate-$deflate_upstream
src_list=/etc/apt/sources.list.d/varel-debian-src.sources
fetch_deflate_source() {
  (cd deps && apt-get source -qq --download-only "libdeflate=$deflate_version") >/dev/null 2>&1
}
enable_source_index() {
  # The same archive and keyring as the system's own Debian entry.
  local uri
  uri=$(grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' |
    grep -m1 -v security || true)
  {
    echo "# Written by scripts/setup.sh: Debian's source index, for libdeflate's source package."
    echo "Types: deb-src"
    echo "URIs: ${uri:-http://deb.debian.org/debian}"
    echo "Suites: bookworm"
    echo "Components: main"
    echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  } >"$src_list"
  apt-get update -qq ||
    echo "setup: some package lists could not be fetched; trying with what was fetched" >&2
}
if [ ! -f "$deflate_dir/libdeflate.h" ]; then
  mkdir -p deps
  if ! fetch_deflate_source; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "setup: libdeflate's source package is missing; run as root to fetch it" >&2
      exit 1
    fi
    echo "setup: enabling Debian's source index ($src_list) for libdeflate's source package"
    enable_source_index
    if ! fetch_deflate_source; then
      echo "setup: 'apt-get source --download-only libdeflate=$deflate_version' failed: Debian's" >&2
      echo "setup: source index could not be fetched. Check the network to Debian's archive," >&2
      echo "setup: wait a few minutes if a mirror is being updated, then run this script again." >&2
      exit 1
    fi
  fi
  tar -xzf "deps/libdeflate_$deflate_upstream.orig.tar.gz" -C deps
  echo "setup: libdeflate $deflate_upstream source in $deflate_dir"
fi

if [ "$mode" = emulate ]; then
  i386_vm_prepare
fi
