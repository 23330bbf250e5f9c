#!/usr/bin/env python3
"""varel.exe pack and extract under Wine, watched from the Linux side, where the Windows
process is one Linux process: its peak resident memory (Wine's own libraries included)
while it packs 400 MiB stays under 64 MiB, so a pack that held its input or its archive in
memory fails; and a SIGINT, which Wine delivers to the program as the console's Ctrl-C
event, leaves nothing behind mid-pack, nor mid-extract (the files written before it stay
whole). (Wine cannot raise a console Ctrl-C for a child from inside a Windows test program:
there is no console there.)

Usage: wine_pack_test.py VAREL_EXE"""
import os
import signal
import struct
import subprocess
import sys
import tempfile
import time

CEILING_KIB = 64 * 1024
INPUT_BYTES = 400 << 20


def run(command, folder):
    """Runs command in folder; returns (exit status, peak resident KiB). GNU time starts
    it: a process started straight from Python would count Python's own resident set as
    part of its peak (the peak of the image it replaced)."""
    with tempfile.NamedTemporaryFile("r") as report:
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                              cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        return done.returncode, int(report.read().split()[-1])


def temporary_files(folder):
    try:
        return [n for n in os.listdir(folder) if n.startswith(".varel-")]
    except FileNotFoundError:
        return []


def interrupted(command, folder, watched=None):
    """Starts command in folder, sends SIGINT once a temporary file exists in watched (by
    default folder itself); returns whether one was seen and what is left in watched."""
    watched = watched or folder
    child = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 60
    while time.time() < deadline and not temporary_files(watched):
        time.sleep(0.001)
    started = bool(temporary_files(watched))
    child.send_signal(signal.SIGINT)
    child.wait()
    return started, sorted(os.listdir(watched)) if os.path.isdir(watched) else []


def write_sparse_pkg(path, count, size):
    """A PKG of count stored entries of size zero bytes each, as a sparse file: no disk,
    quick to read, and every entry takes a while to write out."""
    with open(path, "wb") as f:
        f.write(struct.pack("<II", 0, count))  # reserved, entryCount
        for i in range(count):
            name = f"part{i}".encode()
            offset = 8 + 80 * count + i * size
            # name (64 bytes, zero-padded), size, packedSize, offset, compressed: stored
            f.write(name.ljust(64, b"\0") + struct.pack("<IIII", size, size, offset, 0))
        f.truncate(8 + 80 * count + count * size)


def main():
    varel = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory(prefix="varel-wine-pack-") as folder:
        with open(os.path.join(folder, "big.bin"), "wb") as f:
            f.truncate(INPUT_BYTES)  # a hole: no disk, quick to read
        for fmt in ("psarc", "pkg"):
            out = "big." + fmt
            code, peak = run(["wine", varel, "pack", fmt, out, "-j", "2", "big.bin"], folder)
            print(f"{fmt}: exit {code}, peak resident {peak} KiB for {INPUT_BYTES >> 20} MiB")
            if code != 0 or not os.path.exists(os.path.join(folder, out)):
                failures.append(f"{fmt}: pack failed (exit {code})")
            elif peak >= CEILING_KIB:
                failures.append(f"{fmt}: peak {peak} KiB, ceiling {CEILING_KIB} KiB")
            if os.path.exists(os.path.join(folder, out)):
                os.remove(os.path.join(folder, out))
        started, left = interrupted(["wine", varel, "pack", "psarc", "out.psarc", "big.bin"],
                                    folder)
        print(f"interrupt: temporary file seen {started}, left {left}")
        if not started or left != ["big.bin"]:
            failures.append(f"interrupted pack left {left}")
        part = 64 << 20
        write_sparse_pkg(os.path.join(folder, "parts.pkg"), 8, part)
        out = os.path.join(folder, "out")
        started, left = interrupted(["wine", varel, "extract", "parts.pkg", "-o", "out"], folder,
                                    out)
        sizes = {n: os.path.getsize(os.path.join(out, n)) for n in left}
        print(f"interrupted extract: temporary file seen {started}, left {sizes}")
        if not started or len(left) >= 8 or any(s != part for s in sizes.values()):
            failures.append(f"interrupted extract left {sizes}")
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
