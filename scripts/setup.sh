#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages. Cheap to repeat:
# nothing is fetched when every package is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 libz-mingw-w64-dev
  wine wine32:i386
  g++-multilib zlib1g-dev:i386 libgtest-dev:i386 googletest
  clang libclang-rt-14-dev clang-format
  valgrind libc6-dbg:i386 gnuplot-nox python3 libbenchmark-dev:i386 libdeflate-dev:i386
  time
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

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

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  lists_ok=1
  if ! apt-get update -qq; then
    lists_ok=0
    echo "setup: some package lists could not be fetched (above); trying with what was fetched" >&2
  elif [ -f "$pin" ]; then
    rm -f "$pin"
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
fi

# libdeflate for the Windows build. Debian has no mingw build of it, so the same version's
# Debian source package (checked by apt against the signed index) goes into deps/, which
# git ignores, and CMake builds it with the mingw compiler.
deflate_version=$(dpkg-query -W -f='${Version}' libdeflate-dev:i386)
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
