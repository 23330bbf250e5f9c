#!/bin/sh
# varel.exe on a console shows names as their characters. Wine serves a pseudo-terminal
# (made here by script) as a console: text that reaches it through the wide console call
# comes out as UTF-8, while bytes written to it are read in the console's code page and come
# out garbled. Run with a UTF-8 locale (LC_ALL=C.UTF-8).
#
#   sh tests/wine_console_test.sh build/win32/bin/varel.exe
set -eu
varel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p "src/日本"
printf x >"src/日本/テスト.txt"
printf y >"src/café.txt"
wine "$varel" pack psarc names.psarc -C src . >/dev/null
shown=$(timeout 120 script -qec "wine '$varel' list names.psarc" /dev/null </dev/null)
status=0
for name in "日本/テスト.txt" "café.txt"; do
  case "$shown" in
    *"$name"*) ;;
    *) echo "not shown as characters: $name" >&2; status=1 ;;
  esac
done
[ "$status" -eq 0 ] || printf '%s\n' "$shown" >&2
exit "$status"
