#!/usr/bin/env python3
"""The files a job in the VM wrote, brought back to the host.

In the VM the host's file system is read-only under a writable layer in memory (an
overlay), so everything the job created, changed or removed is in that layer: a changed
or new file as itself, a removed one as a 'whiteout' (a character device 0:0), a folder
that was removed and made again as an 'opaque' folder. 'pack' (in the VM) writes those
under the folders asked for as one tar stream: the files themselves, then a list of what
to remove first. 'apply' (on the host) removes, then unpacks.

  writeback.py pack UPPER ROOTS > stream     UPPER: the writable layer; ROOTS: a file
                                             with one absolute folder a line
  writeback.py apply STREAM ROOTS            on the host, as the same user
"""
import io
import json
import os
import shutil
import stat
import sys
import tarfile

CHANGES = ".varel-vm-changes.json"


def roots_of(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as listing:
        return [os.path.normpath(line.rstrip("\n")) for line in listing if line.strip()]


def is_whiteout(st):
    return stat.S_ISCHR(st.st_mode) and st.st_rdev == 0


def is_opaque(path):
    try:
        return os.getxattr(path, "trusted.overlay.opaque", follow_symlinks=False) == b"y"
    except OSError:
        return False


def pack(upper, roots_file):
    removed, opaque = [], []
    with tarfile.open(fileobj=sys.stdout.buffer, mode="w|", format=tarfile.PAX_FORMAT) as out:

        def add(real, name):
            info = out.gettarinfo(real, arcname=name)
            if info.isreg():
                with open(real, "rb") as data:
                    out.addfile(info, data)
            elif info.isdir() or info.issym() or info.islnk():
                out.addfile(info)

        for root in roots_of(roots_file):
            top = upper + root
            if not os.path.lexists(top):
                continue
            for folder, dirs, files in os.walk(top):
                name = folder[len(upper):]
                if is_opaque(folder):
                    opaque.append(name)
                add(folder, name.lstrip("/") or ".")
                for entry in sorted(dirs + files):
                    real = os.path.join(folder, entry)
                    st = os.lstat(real)
                    if is_whiteout(st):
                        removed.append(os.path.join(name, entry))
                    elif not stat.S_ISDIR(st.st_mode):
                        add(real, os.path.join(name, entry).lstrip("/"))
        changes = json.dumps({"removed": removed, "opaque": opaque}).encode()
        info = tarfile.TarInfo(CHANGES)
        info.size = len(changes)
        out.addfile(info, io.BytesIO(changes))


def inside(path, roots):
    path = os.path.normpath(path)
    return any(path == r or path.startswith(r.rstrip("/") + "/") for r in roots)


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.unlink(path)


def apply(stream, roots_file):
    roots = roots_of(roots_file)
    with tarfile.open(stream, mode="r:") as archive:
        changes = json.load(archive.extractfile(CHANGES))
        for path in changes["removed"]:
            if inside(path, roots):
                remove(path)
        for folder in changes["opaque"]:
            if inside(folder, roots) and os.path.isdir(folder):
                for entry in os.listdir(folder):
                    remove(os.path.join(folder, entry))
        members = []
        for member in archive.getmembers():
            if member.name == CHANGES:
                continue
            target = "/" + member.name
            if not inside(target, roots):
                continue
            if os.path.lexists(target) and not (member.isdir() and os.path.isdir(target)):
                remove(target)
            members.append(member)
        archive.extractall("/", members=members, numeric_owner=True)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "pack":
        pack(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 4 and sys.argv[1] == "apply":
        apply(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
