#!/usr/bin/env bash
# The release packages that scripts/package.sh made into out/, end to end:
#   the zip holds exactly arc_varel.dll, varel.exe and README.txt in one folder, the DLL and
#   the program byte for byte those of build/win32 (the ones its tests ran), the DLL with
#   the five exports;
#   the .deb has the project's version, an amd64 Depends computed from the binaries,
#   lintian finds no error but the licence ones (the project has none yet), and once
#   unpacked by dpkg into a scratch root its varel finds its plug-in and library there with
#   no LD_LIBRARY_PATH, packs samples/ in both formats, lists and extracts them byte for
#   byte, and its page varel(1) renders without a warning.
# Nothing is installed outside the scratch folder, which is removed at the end.
# Usage: bash tests/scripts/packages_test.sh   (from anywhere; after scripts/package.sh)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

failures=0
checks=0
check() { # check DESCRIPTION COMMAND...: runs one check and reports it
  local description=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "ok: $description"
  else
    echo "FAILED: $description" >&2
    failures=$((failures + 1))
  fi
}

version=$(sed -n 's/^project(arc_varel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=out/arc_varel-$version-win32.zip
deb=out/varel_${version}_amd64.deb
for f in "$zip" "$deb"; do
  if [ ! -f "$f" ]; then
    echo "packages_test: $f is missing: run 'bash scripts/package.sh' first" >&2
    exit 1
  fi
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/varel-packages.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# --- The Windows zip ----------------------------------------------------------------------
top=arc_varel-$version-win32
zip_listing() {
  local want got
  want=$(printf '%s\n' "$top/README.txt" "$top/arc_varel.dll" "$top/varel.exe")
  got=$(unzip -Z1 "$zip" | sort)
  [ "$got" = "$want" ] || { echo "the zip holds:"; echo "$got"; } >&2
  [ "$got" = "$want" ]
}
check "zip: exactly README.txt, arc_varel.dll and varel.exe in $top/" zip_listing

unzip -q "$zip" -d "$scratch/zip"
same_bytes() { cmp "$scratch/zip/$top/$1" "build/win32/bin/$1"; }
check "zip: arc_varel.dll is build/win32's, byte for byte" same_bytes arc_varel.dll
check "zip: varel.exe is build/win32's, byte for byte" same_bytes varel.exe
objdump=$(command -v i686-w64-mingw32-objdump || command -v objdump)
check "zip: the DLL exports the five names and imports system DLLs only" \
  cmake -DOBJDUMP="$objdump" -DDLL="$scratch/zip/$top/arc_varel.dll" \
  -P tests/check_exports.cmake
readme_for_windows() {
  local text=$scratch/zip/$top/README.txt
  # CR LF throughout, the version, and every command of varel.
  ! grep -q $'[^\r]$' "$text" && grep -q "arc_varel $version" "$text" &&
    for c in info detect list extract cat pack --version; do
      grep -q "varel $c" "$text" || { echo "README.txt lacks 'varel $c'" >&2; return 1; }
    done
}
check "zip: README.txt has CR LF line ends, the version and the commands" readme_for_windows

# --- The Debian package -------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
control_fields() {
  [ "$(field Package)" = varel ] && [ "$(field Version)" = "$version" ] &&
    [ "$(field Architecture)" = amd64 ]
}
check "deb: package varel, version $version, architecture amd64" control_fields
depends_computed() {
  local depends
  depends=$(field Depends)
  echo "Depends: $depends"
  # dpkg-shlibdeps' versioned libraries of this build's architecture, never i386 ones.
  [[ "$depends" == *"libc6 (>= "* && "$depends" == *"libstdc++6 (>= "* ]] &&
    [[ "$depends" != *i386* && "$depends" != *:any* ]]
}
check "deb: Depends computed from the binaries, none of them i386" depends_computed

lintian_clean() {
  local out rc=0 tags licence others
  command -v lintian >/dev/null || { echo "lintian is missing: run scripts/setup.sh" >&2; return 1; }
  # Exit status 2 says that tags at error level were found (they are sorted below); any other
  # but 0, that lintian itself failed.
  out=$(lintian --no-cfg --pedantic --display-info --fail-on error "$deb" 2>&1) || rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 2 ] || { echo "$out" >&2; return 1; }
  tags=$(grep -E '^[EWIPX]: ' <<<"$out" || true)
  echo "lintian:"
  sed 's/^/  /' <<<"${tags:-(no tags)}"
  # The project has chosen no licence yet: the tags about it are expected, and listed.
  licence=$(grep -E '^E: ' <<<"$tags" | grep -Ei 'copyright|licen[cs]e' || true)
  others=$(grep -E '^E: ' <<<"$tags" | grep -Eiv 'copyright|licen[cs]e' || true)
  [ -z "$licence" ] || { echo "licence errors (expected):"; sed 's/^/  /' <<<"$licence"; }
  [ -z "$others" ] || { echo "errors:"; sed 's/^/  /' <<<"$others"; } >&2
  [ -z "$others" ]
}
check "deb: lintian finds no error but the licence ones" lintian_clean

# dpkg unpacks into a root of its own (no maintainer script runs, so nothing is chrooted
# into nor touched outside it); the system's own dpkg database is left alone.
instroot=$scratch/root
install_into_scratch() {
  mkdir -p "$instroot/var/lib/dpkg/updates" "$instroot/var/lib/dpkg/info"
  touch "$instroot/var/lib/dpkg/status" "$instroot/var/lib/dpkg/available"
  dpkg --root="$instroot" --log=/dev/null --force-depends --force-not-root --unpack "$deb" \
    >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; return 1; }
  local want got
  want=$(printf '%s\n' /usr/bin/varel /usr/lib/varel/arc_varel.so \
    /usr/lib/varel/libvarelplat.so /usr/share/doc/varel/changelog.gz \
    /usr/share/man/man1/varel.1.gz)
  got=$(cd "$instroot" && find usr -type f | sed 's|^|/|' | sort)
  [ "$got" = "$want" ] || { echo "installed files:"; echo "$got"; } >&2
  [ "$got" = "$want" ]
}
system_before=$(dpkg-query -W -f='${Status} ${Version}' varel 2>/dev/null || true)
check "deb: dpkg unpacks exactly varel, its plug-in, library, changelog and page" \
  install_into_scratch
system_after=$(dpkg-query -W -f='${Status} ${Version}' varel 2>/dev/null || true)
check "deb: the system's dpkg database is unchanged" \
  test "$system_before" = "$system_after"

varel=$instroot/usr/bin/varel
varel_run() { env -u LD_LIBRARY_PATH -u LD_PRELOAD LC_ALL=C.UTF-8 "$varel" "$@"; }
finds_its_own() {
  local out libs
  out=$(cd "$scratch" && varel_run --version) || return 1
  echo "$out"
  libs=$(env -u LD_LIBRARY_PATH ldd "$varel")
  # The version of the package, the plug-in and library from the package's private folder.
  [ "$(head -n 1 <<<"$out")" = "varel $version" ] &&
    grep -q "^plug-in: $instroot/usr/lib/varel/arc_varel.so (" <<<"$out" &&
    grep -q "libvarelplat.so => $instroot/usr/bin/../lib/varel/libvarelplat.so" <<<"$libs"
}
check "deb: varel --version says $version and loads the package's own plug-in" finds_its_own

round_trip() {
  local format=$1 work=$scratch/$1
  mkdir -p "$work"
  (cd "$work" && varel_run pack -q "$format" "samples.$format" -C "$root/samples" .) &&
    varel_run list "$work/samples.$format" >"$work/list.txt" &&
    varel_run extract -q "$work/samples.$format" -o "$work/extracted" || return 1
  # Every file of samples/ listed by name and extracted unchanged (PSARC adds its name list).
  local name missing=0
  while IFS= read -r name; do
    grep -qF -- " $name" "$work/list.txt" || { echo "not listed: $name" >&2; missing=1; }
  done < <(cd "$root/samples" && find . -type f | sed 's|^\./||')
  [ "$missing" -eq 0 ] && diff -r -x NamesBlock.bin "$root/samples" "$work/extracted" &&
    [ "$(cd "$work/extracted" && find . -type f ! -name NamesBlock.bin | wc -l)" = \
      "$(cd "$root/samples" && find . -type f | wc -l)" ]
}
check "deb: the installed varel packs, lists and extracts samples/ as PSARC" round_trip psarc
check "deb: the installed varel packs, lists and extracts samples/ as PKG" round_trip pkg

man_page_renders() {
  local page=$instroot/usr/share/man/man1/varel.1.gz text
  # Spaces squeezed: a justified line may widen any gap between words.
  text=$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -l "$page" 2>"$scratch/man.err" |
    tr -s ' ') || return 1
  [ ! -s "$scratch/man.err" ] || { cat "$scratch/man.err" >&2; return 1; }
  # The title, and each command of README.md's table.
  grep -q '^VAREL(1)' <<<"$text" && grep -q "varel $version" <<<"$text" &&
    for c in "varel info" "varel detect FILE" "varel list ARCHIVE" "varel extract ARCHIVE" \
      "varel cat ARCHIVE" "varel pack psarc|pkg OUT" "varel --version" "EXIT STATUS"; do
      grep -qF -- "$c" <<<"$text" || { echo "varel(1) lacks '$c'" >&2; return 1; }
    done
}
check "deb: man -l renders varel(1) with every command and no warning" man_page_renders

# Last, as it changes the unpacked tree: a plug-in beside varel still comes first, as in a
# side-by-side installation, and a private folder without one is no fallback.
beside_comes_first() {
  cp "$instroot/usr/lib/varel/arc_varel.so" "$instroot/usr/bin/" &&
    varel_run --version | grep -q "^plug-in: $instroot/usr/bin/arc_varel.so (" &&
    rm "$instroot/usr/bin/arc_varel.so" "$instroot/usr/lib/varel/arc_varel.so" &&
    ! varel_run --version 2>"$scratch/none.err" >/dev/null &&
    grep -q "cannot load $instroot/usr/bin/arc_varel.so" "$scratch/none.err"
}
check "deb: a plug-in beside varel comes before the private folder's" beside_comes_first

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
