#!/usr/bin/env python3
"""Serves an empty folder whose file system reports no free space, for tests
of a full target. Usage: tiny_fuse.py MOUNTPOINT"""
import errno
import stat
import sys

try:  # Debian's python3-fusepy names the module fusepy
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class Tiny(Operations):
    def getattr(self, path, fh=None):
        if path == "/":
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", ".."]

    def statfs(self, path):
        return dict(f_bsize=4096, f_frsize=4096, f_blocks=16, f_bfree=0, f_bavail=0,
                    f_files=16, f_ffree=16, f_favail=16, f_namemax=255)


if __name__ == "__main__":
    FUSE(Tiny(), sys.argv[1], foreground=True, ro=True)
