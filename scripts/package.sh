#!/usr/bin/env bash
# Makes the release packages into out/, with cpack, from the presets' builds:
#   out/arc_varel-VERSION-win32.zip  (win32: arc_varel.dll, varel.exe, README.txt)
#   out/varel_VERSION_amd64.deb      (linux64: varel, its plug-in and varel(1))
# Builds what the packages hold first (nothing when the build is current, as after
# scripts/test.sh, whose tests ran these very files). Run scripts/setup.sh once before.
set -euo pipefail
cd "$(dirname "$0")/.."

mkdir -p out
for preset in win32 linux64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target varel_package_files
  # cpack stages under the build, so that out/ holds only the packages.
  cpack --config "build/$preset/CPackConfig.cmake" -B "$PWD/build/$preset/cpack" \
    -D CPACK_OUTPUT_FILE_PREFIX="$PWD/out"
done
