#!/usr/bin/env python3
"""A FAT32 image with a million entries, for benchmarks: mtools would take hours.

make_fat_million.py OUTPUT [--folders N] [--entries N]

mkfs.fat formats OUTPUT (sparse, 1 KiB clusters); this script then writes the
directories and both FATs itself. Folders nest three levels below the root
(20, then 20 each, then the rest); files and folders share the entry count.
A third of the files have long names, one file in 25 and one leaf folder in
100 are deleted (0xE5, clusters freed, a deleted folder's entries deleted
too). Every live file owns one cluster (size 1..1024 bytes, data left zero).
The output is the same on every run.
"""
import argparse
import array
import os
import struct
import subprocess
import sys

CLUSTER = 1024
DATE = (41 << 9) | (3 << 5) | 15  # 2021-03-15
TIME = (10 << 11) | (20 << 5) | 15  # 10:20:30
ATTR_DIR, ATTR_ARCHIVE, ATTR_LFN = 0x10, 0x20, 0x0F
END = 0x0FFFFFFF
LABEL = b"BRV_MILLION"


def checksum(short):
    s = 0
    for c in short:
        s = (((s & 1) << 7) + (s >> 1) + c) & 0xFF
    return s


def lfn_entries(name, short):
    units = list(name.encode("utf-16-le"))
    chars = [units[i] | units[i + 1] << 8 for i in range(0, len(units), 2)]
    parts = (len(chars) + 12) // 13
    chars += [0] if len(chars) % 13 else []
    chars += [0xFFFF] * (parts * 13 - len(chars))
    out = bytearray()
    ck = checksum(short)
    for p in range(parts, 0, -1):
        c = chars[(p - 1) * 13:p * 13]
        e = bytearray(32)
        e[0] = p | (0x40 if p == parts else 0)
        struct.pack_into("<5H", e, 1, *c[0:5])
        e[11] = ATTR_LFN
        e[13] = ck
        struct.pack_into("<6H", e, 14, *c[5:11])
        struct.pack_into("<2H", e, 28, *c[11:13])
        out += e
    return out


def short_entry(short, attr, cluster, size):
    return struct.pack("<11sBBBHHHHHHHI", short, attr, 0, 0, TIME, DATE, DATE, cluster >> 16, TIME,
                       DATE, cluster & 0xFFFF, size)


def deleted(entries):
    """Marks every entry of one name (long parts and short entry) deleted."""
    for i in range(0, len(entries), 32):
        entries[i] = 0xE5
    return entries


class Folder:
    __slots__ = ("parent", "name", "subs", "files", "dead", "cluster", "clusters", "file_base")

    def __init__(self, parent, name, dead=False):
        self.parent, self.name, self.subs, self.files, self.dead = parent, name, [], 0, dead


def file_name(f, j):
    ext = (b"TXT", b"DAT", b"JPG", b"DOC")[j % 4]
    short = b"F%07d" % j + ext
    long_name = "Report %d-%d final version.%s" % (f, j, ext.decode().lower()) if j % 3 == 0 else None
    return short, long_name


def build(folders, entries):
    tree = [Folder(None, None)]
    for i in range(20):
        tree.append(Folder(0, "Top folder %02d" % i))
    for t in range(1, 21):
        for i in range(20):
            tree.append(Folder(t, "Middle %02d-%02d" % (t, i)))
    middles = list(range(21, len(tree)))
    leaves = folders - (len(tree) - 1)
    for k in range(leaves):
        tree.append(Folder(middles[k % len(middles)], "Leaf %05d" % k, dead=k % 100 == 99))
    for i, f in enumerate(tree[1:], 1):
        tree[f.parent].subs.append(i)
    files = entries - folders
    for i, f in enumerate(tree):
        f.files = files // len(tree) + (1 if i < files % len(tree) else 0)
    return tree


def folder_bytes(tree, i, alive):
    f = tree[i]
    out = bytearray()
    if i == 0:
        out += short_entry(LABEL, 0x08, 0, 0)
    else:
        parent = tree[f.parent].cluster if f.parent != 0 else 0
        out += short_entry(b".          ", ATTR_DIR, f.cluster, 0)
        out += short_entry(b"..         ", ATTR_DIR, parent, 0)
    for n, s in enumerate(f.subs):
        sub = tree[s]
        short = b"D%07d   " % n
        e = lfn_entries(sub.name, short) + short_entry(short, ATTR_DIR, sub.cluster, 0)
        out += deleted(e) if sub.dead or not alive else e
    for j in range(f.files):
        short, long_name = file_name(i, j)
        gone = not alive or j % 25 == 24
        size = 1 + (i * 7919 + j * 104729) % CLUSTER
        e = (lfn_entries(long_name, short) if long_name else b"") + short_entry(
            short, ATTR_ARCHIVE, f.file_base + j, size)
        out += deleted(bytearray(e)) if gone else e
    return out


def entry_bytes(tree, i):
    """Length of folder i's entries, before clusters are known."""
    f = tree[i]
    n = 64 if i != 0 else 32  # "." and "..", or the root's label
    for s in f.subs:
        n += 32 * ((len(tree[s].name) + 12) // 13 + 1)
    for j in range(f.files):
        _, long_name = file_name(i, j)
        n += 32 * (((len(long_name) + 12) // 13 if long_name else 0) + 1)
    return n


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("output")
    ap.add_argument("--folders", type=int, default=20000)
    ap.add_argument("--entries", type=int, default=1000000)
    a = ap.parse_args()
    if a.folders < 421 or a.entries <= a.folders:
        sys.exit("need at least 421 folders and more entries than folders")
    tree = build(a.folders, a.entries)
    # Clusters: every folder's directory, then one per file.
    cn = 2
    for i, f in enumerate(tree):
        f.cluster = cn
        f.clusters = max(1, -(-entry_bytes(tree, i) // CLUSTER))
        cn += f.clusters
    for f in tree:
        f.file_base = cn
        cn += f.files
    used = cn
    # FAT32 needs at least 65525 clusters.
    sectors = max(used * 103 // 100 + 32768, 70000) * (CLUSTER // 512)
    tmp = a.output + ".tmp"
    with open(tmp, "wb") as out:
        out.truncate(sectors * 512)
    subprocess.run(["mkfs.fat", "-F", "32", "-s", str(CLUSTER // 512), "-S", "512", "-n",
                    LABEL.decode(), "-i", "42525699", tmp], check=True, stdout=subprocess.DEVNULL)
    fd = os.open(tmp, os.O_RDWR)
    boot = os.pread(fd, 512, 0)
    reserved, nfats = struct.unpack_from("<HB", boot, 14)
    fat_sectors, root = struct.unpack_from("<I4xI", boot, 36)
    fsinfo = struct.unpack_from("<H", boot, 48)[0]
    total = struct.unpack_from("<I", boot, 32)[0]
    count = (total - reserved - nfats * fat_sectors) // (CLUSTER // 512) + 2
    assert root == 2 and used <= count, "image too small"
    data = (reserved + nfats * fat_sectors) * 512

    fat = array.array("I", bytes(4 * count))
    fat[0], fat[1] = 0x0FFFFFF8, END

    def alive(i):
        while i != 0:
            if tree[i].dead:
                return False
            i = tree[i].parent
        return True

    for i, f in enumerate(tree):
        live = alive(i)
        if live:
            for c in range(f.cluster, f.cluster + f.clusters - 1):
                fat[c] = c + 1
            fat[f.cluster + f.clusters - 1] = END
            for j in range(f.files):
                if j % 25 != 24:
                    fat[f.file_base + j] = END
        body = folder_bytes(tree, i, live)
        os.pwrite(fd, bytes(body), data + (f.cluster - 2) * CLUSTER)
    fat_bytes = fat.tobytes()
    for k in range(nfats):
        os.pwrite(fd, fat_bytes, (reserved + k * fat_sectors) * 512)
    free = sum(1 for c in range(2, count) if fat[c] == 0)
    os.pwrite(fd, struct.pack("<II", free, 0xFFFFFFFF), fsinfo * 512 + 488)
    os.close(fd)
    os.replace(tmp, a.output)


if __name__ == "__main__":
    main()
