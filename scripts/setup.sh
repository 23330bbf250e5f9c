#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages. Cheap to repeat:
# nothing is fetched when every package is already there.
set -euo pipefail

packages=(
  cmake ninja-build
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 libz-mingw-w64-dev
  wine wine32:i386
  g++-multilib zlib1g-dev:i386 libgtest-dev:i386 googletest
  clang libclang-rt-14-dev clang-format
  valgrind libc6-dbg:i386 gnuplot-nox python3 libbenchmark-dev:i386
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
