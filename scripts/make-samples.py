#!/usr/bin/env python3
"""Writes samples/, the tree the demo packs and unpacks: a few hundred KiB of text and
binary files, all made here from a fixed seed, so that running it again gives the same
bytes. Usage: python3 scripts/make-samples.py [OUTPUT-FOLDER]"""
import os
import random
import struct
import sys
import zlib

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "samples")
rng = random.Random(20261209)

WORDS = ("archive block entry header table stored packed plain folder name offset size "
         "escape token copy distance length manifest record handle host plug-in reader "
         "writer stream window byte text line count order little big endian zero".split())


def write(relative, data):
    path = os.path.join(root, *relative.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def prose(n_bytes):
    out, line = [], []
    size = 0
    while size < n_bytes:
        word = rng.choice(WORDS)
        line.append(word)
        size += len(word) + 1
        if len(line) >= rng.randint(8, 14):
            sentence = " ".join(line)
            out.append(sentence[0].upper() + sentence[1:] + ".")
            line = []
    return ("\n".join(out) + "\n").encode("ascii")


def bmp(width, height):
    """A 24-bit bitmap with a colour gradient."""
    row = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            pixels += bytes(((x * 255) // width, (y * 255) // height, ((x ^ y) * 4) & 0xFF))
        pixels += b"\0" * (row - width * 3)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


write("README.txt", b"Sample tree for the varel demo: text, binary, empty and nested files.\r\n"
                    b"Made by scripts/make-samples.py; regenerate rather than edit.\r\n")
write("text/prose-short.txt", prose(4000))
write("text/prose-long.txt", prose(120000))
write("text/numbers.csv", ("index,square,cube\n" + "".join(
    "%d,%d,%d\n" % (i, i * i, i * i * i) for i in range(2500))).encode("ascii"))
write("text/crlf-lines.txt", b"".join(b"line %d\r\n" % i for i in range(500)))
write("data/noise.bin", bytes(rng.getrandbits(8) for _ in range(70000)))
write("data/sparse.bin", bytes(b if rng.random() < 0.02 else 0
                               for b in (rng.getrandbits(8) for _ in range(65536))))
write("data/gradient.bmp", bmp(96, 64))
write("data/deflated.z", zlib.compress(prose(30000), 9))
write("data/empty.dat", b"")
write("data/one-byte.bin", b"\x1a")
write("logs/server.log", "".join(
    "2026-12-%02d %02d:%02d:%02d INFO request %d took %d ms\n" %
    (1 + i % 28, i % 24, i % 60, (i * 7) % 60, i, rng.randint(1, 900))
    for i in range(3000)).encode("ascii"))
write("nested/a/b/c/deep.json", b'{"depth": 4, "names": ["a", "b", "c"], "ok": true}\n')
write("nested/a/sibling.txt", b"next to b\n")
write("code/hello.c", b'#include <stdio.h>\n\nint main(void) {\n  puts("hello");\n  return 0;\n}\n')
