#!/usr/bin/env python3
"""Names as the Linux file system holds them, byte for byte: varel packs a tree of Latin,
Greek, Japanese, emoji and combining-character names into a PSARC and extracts it, and the
names stored and written must be the UTF-8 below, for varel.exe under Wine (LC_ALL=C.UTF-8,
so that Wine passes Unicode names through as UTF-8) and the Linux varel alike. (The other
end-to-end tests read names back through varel's own platform, which would not see a name
written in another encoding or normalisation.)  Usage: varel_names_on_disk_test.py VAREL"""
import os
import subprocess
import sys
import tempfile
import zlib

# é and ï precomposed (U+00E9, U+00EF); the last name's first e takes U+0301 after it.
NAMES = [b"caf\xc3\xa9/na\xc3\xafve.txt", b"\xce\xa9mega.bin",
         b"\xe6\x97\xa5\xe6\x9c\xac/\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.txt",
         b"emoji_\xf0\x9f\x98\x80.txt", b"e\xcc\x81t\xc3\xa9.txt"]


def stored_names(archive):
    """Entry 0 of a PSARC (one block: inflated unless stored as long as its plain size)."""
    data = open(archive, "rb").read()
    field = lambda at, n: int.from_bytes(data[at:at + n], "big")
    first, size, offset = field(32 + 16, 4), field(32 + 20, 5), field(32 + 25, 5)
    stored = field(32 + 30 * field(20, 4) + 2 * first, 2) or 65536
    block = data[offset:offset + stored]
    return sorted((block if stored == size else zlib.decompress(block)).split(b"\n"))


def files_below(folder):
    """Every file below folder: its path's bytes relative to folder, and its contents."""
    return {os.path.relpath(os.path.join(root, f), folder): open(os.path.join(root, f), "rb").read()
            for root, _, files in os.walk(folder) for f in files}


def main():
    varel = [os.path.abspath(sys.argv[1])]
    if varel[0].endswith(".exe"):
        varel.insert(0, "wine")
    env = dict(os.environ, LC_ALL="C.UTF-8")
    with tempfile.TemporaryDirectory(prefix="varel-names-") as work:
        work = os.fsencode(work)
        for name in NAMES:
            os.makedirs(os.path.dirname(os.path.join(work, b"src", name)), exist_ok=True)
            with open(os.path.join(work, b"src", name), "wb") as f:
                f.write(name)
        for args in (["pack", "psarc", "n.psarc", "-C", "src", "."], ["extract", "n.psarc", "-o", "out"]):
            subprocess.run(varel + args, cwd=work, env=env, check=True, stdout=subprocess.DEVNULL)
        stored = stored_names(os.path.join(work, b"n.psarc"))
        written = files_below(os.path.join(work, b"out"))
        written.pop(b"NamesBlock.bin", None)
    ok = stored == sorted(NAMES) and written == {name: name for name in NAMES}
    if not ok:
        print(f"FAILED: stored {stored}, written {sorted(written)}; expected {sorted(NAMES)}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
