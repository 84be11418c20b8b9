#!/usr/bin/env python3
"""Serves BACKING read-only as MOUNTPOINT/disk.img; a read touching a listed
512-byte sector fails with EIO, as on a failing disk. Direct I/O keeps each
read's own size. Usage: eio_fuse.py BACKING MOUNTPOINT SECTOR[,SECTOR...]|-
where a SECTOR may also be a range FIRST-LAST."""
import bisect
import errno
import os
import stat
import sys

try:  # Debian's python3-fusepy names the module fusepy
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class EioDisk(Operations):
    def __init__(self, backing, bad):
        self.fd = os.open(backing, os.O_RDONLY)
        self.size = os.fstat(self.fd).st_size
        self.bad = sorted(bad)

    def getattr(self, path, fh=None):
        if path == "/":
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)
        if path == "/disk.img":
            return dict(st_mode=stat.S_IFREG | 0o444, st_nlink=1, st_size=self.size)
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "disk.img"]

    def read(self, path, size, offset, fh):
        if size > 0:
            i = bisect.bisect_left(self.bad, offset // 512)
            if i < len(self.bad) and self.bad[i] <= (offset + size - 1) // 512:
                raise FuseOSError(errno.EIO)
        return os.pread(self.fd, size, offset)


if __name__ == "__main__":
    backing, mountpoint, sectors = sys.argv[1:4]
    bad = []
    for part in [] if sectors == "-" else sectors.split(","):
        first, _, last = part.partition("-")
        bad.extend(range(int(first), int(last or first) + 1))
    FUSE(EioDisk(backing, bad), mountpoint, foreground=True, ro=True, direct_io=True)
