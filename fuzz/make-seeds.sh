#!/usr/bin/env bash
# Regenerates the committed seed corpora (fuzz/corpus/<target>/) from the project's
# writers: builds the seed writer in the linux32 preset and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${SEED_BUILD:-build/linux32}"
cmake --preset linux32 -B "$build" >/dev/null
cmake --build "$build" --target varel_fuzz_seeds
for t in archive archive_check ansi_text pkg_lz psarc_blocks psarc_inflate psarc_names; do mkdir -p "fuzz/corpus/$t"; done
"$build/bin/varel_fuzz_seeds" fuzz/corpus
du -sh fuzz/corpus/*
