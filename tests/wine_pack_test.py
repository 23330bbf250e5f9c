#!/usr/bin/env python3
"""varel.exe pack under Wine, watched from the Linux side, where the Windows process is one
Linux process: its peak resident memory (Wine's own libraries included) while it packs
400 MiB stays under 64 MiB, so a pack that held its input or its archive in memory fails;
and a SIGINT, which Wine delivers to the program as the console's Ctrl-C event, leaves
nothing behind mid-pack. (Wine cannot raise a console Ctrl-C for a child from inside a
Windows test program: there is no console there.)

Usage: wine_pack_test.py VAREL_EXE"""
import os
import signal
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


def interrupted(command, folder):
    """Starts command, sends SIGINT once its temporary file exists; returns what is left."""
    child = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 60
    while time.time() < deadline and not any(n.startswith(".varel-") for n in os.listdir(folder)):
        time.sleep(0.01)
    started = any(n.startswith(".varel-") for n in os.listdir(folder))
    child.send_signal(signal.SIGINT)
    child.wait()
    return started, sorted(os.listdir(folder))


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
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
