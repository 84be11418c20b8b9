#!/usr/bin/env python3
"""Serves BACKING read-only as MOUNTPOINT/disk.img; a read touching a listed
512-byte sector fails with EIO, as on a failing disk, after DELAY seconds
(default 0). Direct I/O keeps each read's own size. With LOG, each read is
appended there as "OFFSET SIZE". Usage:
eio_fuse.py BACKING MOUNTPOINT SECTOR[,SECTOR...]|- [DELAY [LOG]]
where a SECTOR may also be a range FIRST-LAST."""
import bisect
import errno
import os
import stat
import sys
import time

try:  # Debian's python3-fusepy names the module fusepy
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class EioDisk(Operations):
    def __init__(self, backing, bad, delay=0.0, log=None):
        self.fd = os.open(backing, os.O_RDONLY)
        self.size = os.fstat(self.fd).st_size
        self.bad = sorted(bad)
        self.delay = delay
        self.log = open(log, "a", buffering=1) if log else None

    def getattr(self, path, fh=None):
        if path == "/":
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)
        if path == "/disk.img":
            return dict(st_mode=stat.S_IFREG | 0o444, st_nlink=1, st_size=self.size)
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "disk.img"]

    def read(self, path, size, offset, fh):
        if self.log:
            self.log.write("%d %d\n" % (offset, size))
        if size > 0:
            i = bisect.bisect_left(self.bad, offset // 512)
            if i < len(self.bad) and self.bad[i] <= (offset + size - 1) // 512:
                time.sleep(self.delay)
                raise FuseOSError(errno.EIO)
        return os.pread(self.fd, size, offset)


if __name__ == "__main__":
    backing, mountpoint, sectors = sys.argv[1:4]
    bad = []
    for part in [] if sectors == "-" else sectors.split(","):
        first, _, last = part.partition("-")
        bad.extend(range(int(first), int(last or first) + 1))
    delay = float(sys.argv[4]) if len(sys.argv) > 4 else 0.0
    log = sys.argv[5] if len(sys.argv) > 5 else None
    FUSE(EioDisk(backing, bad, delay, log), mountpoint, foreground=True, ro=True,
         direct_io=True)
