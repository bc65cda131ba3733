#!/usr/bin/env python3
"""archive.py zip|tar.gz ARCHIVE FOLDER EPOCH: packs the folder FOLDER, under
its own name, into ARCHIVE, the same bytes for the same files wherever and
whenever it runs: entries in name order, every time EPOCH (seconds since
1970, UTC), owner root, modes 0755 (folders and programs) or 0644."""

import gzip
import os
import sys
import tarfile
import time
import zipfile


def entries(folder):
    """(name in the archive, path on disk) of FOLDER and everything in it."""
    top = os.path.basename(os.path.normpath(folder))
    found = [(top + "/", folder)]
    for base, dirs, files in os.walk(folder):
        rel = os.path.relpath(base, folder)
        prefix = top + "/" if rel == "." else top + "/" + rel.replace(os.sep, "/") + "/"
        for name in dirs:
            found.append((prefix + name + "/", os.path.join(base, name)))
        for name in files:
            found.append((prefix + name, os.path.join(base, name)))
    for name, path in found:
        if os.path.islink(path):
            sys.exit(f"archive.py: {path} is a symbolic link; the archives hold none")
    return sorted(found)


def mode_of(name, path):
    if name.endswith("/") or os.stat(path).st_mode & 0o111:
        return 0o755
    return 0o644


def write_zip(archive, folder, epoch):
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(archive, "w") as out:
        for name, path in entries(folder):
            info = zipfile.ZipInfo(name, stamp)
            info.create_system = 3  # Unix: the modes below are read
            mode = mode_of(name, path)
            if name.endswith("/"):
                info.external_attr = (0o40000 | mode) << 16 | 0x10
                out.writestr(info, b"")
            else:
                info.external_attr = (0o100000 | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    out.writestr(info, f.read(), compresslevel=9)


def write_tar_gz(archive, folder, epoch):
    with open(archive, "wb") as raw, \
            gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.GNU_FORMAT) as out:
        for name, path in entries(folder):
            info = tarfile.TarInfo(name.rstrip("/"))
            info.mtime = epoch
            info.mode = mode_of(name, path)
            info.uid = info.gid = 0
            info.uname = info.gname = "root"
            if name.endswith("/"):
                info.type = tarfile.DIRTYPE
                out.addfile(info)
            else:
                info.size = os.path.getsize(path)
                with open(path, "rb") as f:
                    out.addfile(info, f)


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("zip", "tar.gz"):
        sys.exit("usage: archive.py zip|tar.gz ARCHIVE FOLDER EPOCH")
    kind, archive, folder, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    (write_zip if kind == "zip" else write_tar_gz)(archive, folder, epoch)


if __name__ == "__main__":
    main()
