#!/usr/bin/env bash
# The main job: with varel.exe and the real arc_varel.dll under Wine, packs samples/ into a
# PSARC archive and a PKG container, lists both, extracts both and compares every
# extracted file with its original. Builds what is missing first. Fails on any mismatch.
# Where the kernel refuses i386 code, Wine runs in a VM (scripts/run-i386.sh) and what the
# job writes under out/demo comes back from it.
#
#   bash scripts/demo.sh            (VAREL_BUILD_DIR picks another build folder)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VAREL_BUILD_DIR:-build/win32}
out=out/demo

if [ "${1:-}" != --wine ]; then
  bash scripts/setup.sh
  echo "== build ($build)"
  if [ ! -f "$build/build.ninja" ]; then
    cmake --preset win32 -B "$build" -DVAREL_WERROR=ON >/dev/null
  fi
  cmake --build "$build" --target varel arc_varel
  rm -rf "$out"
  mkdir -p "$out"
  # The rest runs where Wine runs: here, or in the VM.
  VAREL_VM_WRITEBACK="$PWD/$out:${WINEPREFIX:-$HOME/.wine}" \
    exec bash scripts/run-i386.sh bash scripts/demo.sh --wine
fi

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A persistent Wine server: every varel.exe run then starts in milliseconds. It ends by
# itself a while after its last program.
(wineserver -p30 >/dev/null 2>&1 </dev/null &) || true
# Let Wine finish creating or updating its prefix before the first program runs.
timeout 900 wineboot -u >/dev/null 2>&1 </dev/null || true

varel() { wine "$build/bin/varel.exe" "$@"; }

echo "== plug-in"
varel info

status=0
for format in psarc pkg; do
  archive="$out/samples.$format"
  echo
  echo "== $format: pack"
  varel pack "$format" "$archive" -C samples .
  echo "== $format: list"
  varel list "$archive"
  echo "== $format: extract"
  varel extract "$archive" -o "$out/$format"

  same=0
  differ=0
  missing=0
  while IFS= read -r -d '' file; do
    relative=${file#samples/}
    if [ ! -f "$out/$format/$relative" ]; then
      echo "MISSING  $relative"
      missing=$((missing + 1))
    elif cmp -s "$file" "$out/$format/$relative"; then
      same=$((same + 1))
    else
      echo "DIFFERS  $relative"
      differ=$((differ + 1))
    fi
  done < <(find samples -type f -print0 | sort -z)
  # Files that are not in samples/: the PSARC name list (its entry 0) is expected.
  extra=""
  while IFS= read -r -d '' file; do
    relative=${file#"$out/$format/"}
    [ -f "samples/$relative" ] || extra="$extra${extra:+, }$relative"
  done < <(find "$out/$format" -type f -print0 | sort -z)
  if [ "$differ" -eq 0 ] && [ "$missing" -eq 0 ]; then
    echo "== $format: OK, $same files identical to the originals${extra:+ (also extracted: $extra)}"
  else
    echo "== $format: FAILED, $same identical, $differ differ, $missing missing"
    status=1
  fi
done

echo
if [ "$status" -eq 0 ]; then
  echo "demo: both archives round-trip every file of samples/ byte for byte"
else
  echo "demo: MISMATCH (see above)"
fi
exit "$status"
