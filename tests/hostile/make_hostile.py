#!/usr/bin/env python3
"""Hostile images: small volumes made by mkfs.fat, mtools, mkntfs, ntfscp and
sfdisk, then damaged the way failing disks and crafted files are: loops in
FAT and EBR chains, parent cycles in MFT records, absurd sizes and counts,
and images cut short at the boundary of each structure.

Usage: make_hostile.py OUTDIR
"""
import os
import random
import shutil
import struct
import subprocess
import sys

SECTOR = 512
MIB = 1 << 20


def run(*args):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1", TZ="UTC")
    subprocess.run(args, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def blank(path, size):
    with open(path, "wb") as f:
        f.truncate(size)


def load(path):
    with open(path, "rb") as f:
        return bytearray(f.read())


class Fat:
    """The layout fields of a FAT boot sector at `base`."""

    def __init__(self, image, base=0):
        b = image[base:base + SECTOR]
        self.base = base
        self.spc = b[0x0D]
        self.reserved = struct.unpack_from("<H", b, 0x0E)[0]
        self.fats = b[0x10]
        self.root_entries = struct.unpack_from("<H", b, 0x11)[0]
        size16 = struct.unpack_from("<H", b, 0x16)[0]
        self.fat32 = size16 == 0
        self.fat_sectors = struct.unpack_from("<I", b, 0x24)[0] if self.fat32 else size16
        self.root_cluster = struct.unpack_from("<I", b, 0x2C)[0] if self.fat32 else 0
        self.fat = base + self.reserved * SECTOR
        self.root = self.fat + self.fats * self.fat_sectors * SECTOR
        self.data = self.root + self.root_entries * 32

    def cluster(self, n):
        return self.data + (n - 2) * self.spc * SECTOR

    def set_next(self, image, n, value):
        for copy in range(self.fats):
            at = self.fat + copy * self.fat_sectors * SECTOR
            if self.fat32:
                struct.pack_into("<I", image, at + 4 * n, value)
            else:
                struct.pack_into("<H", image, at + 2 * n, value)

    def entry(self, image, directory, name):
        """Offset of the short entry `name` (11 bytes) in the directory at `directory`."""
        for at in range(directory, directory + self.spc * SECTOR * 4, 32):
            if image[at:at + 11] == name:
                return at
        raise LookupError(name)

    def first_cluster(self, image, entry):
        high = struct.unpack_from("<H", image, entry + 0x14)[0] if self.fat32 else 0
        return high << 16 | struct.unpack_from("<H", image, entry + 0x1A)[0]


def fat_volume(path, size, fat_bits, work):
    """A FAT volume with folders, files (one of several clusters) and deletions."""
    blank(path, size)
    run("mkfs.fat", "-F", str(fat_bits), "-s", "1", "--invariant", "-i", "4252560B", "-n", "HOSTILE",
        path)
    big = os.path.join(work, "big.bin")
    with open(big, "wb") as f:
        f.write(bytes(range(256)) * 40)
    small = os.path.join(work, "small.txt")
    with open(small, "wb") as f:
        f.write(b"hostile\n")
    run("mmd", "-i", path, "::/DIR", "::/DIR/SUB", "::/GONE")
    run("mcopy", "-i", path, big, "::/BIG.BIN")
    run("mcopy", "-i", path, small, "::/DIR/SUB/SMALL.TXT")
    run("mcopy", "-i", path, small, "::/GONE/LOST.TXT")
    run("mcopy", "-i", path, big, "::/DEL.BIN")
    run("mdel", "-i", path, "::/DEL.BIN", "::/GONE/LOST.TXT")
    run("mrd", "-i", path, "::/GONE")


def fat_images(out, work):
    # FAT32 needs 65525 clusters, or mtools takes it for FAT16.
    for bits, size in ((16, 4 * MIB), (32, 33 * MIB)):
        clean = os.path.join(work, "fat%d.img" % bits)
        fat_volume(clean, size, bits, work)
        image = load(clean)
        fat = Fat(image)
        root = fat.cluster(fat.root_cluster) if fat.fat32 else fat.root
        big = fat.entry(image, root, b"BIG     BIN")
        directory = fat.entry(image, root, b"DIR        ")
        sub = fat.entry(image, fat.cluster(fat.first_cluster(image, directory)), b"SUB        ")
        name = "fat%d" % bits

        def save(suffix, data):
            with open(os.path.join(out, "%s-%s.img" % (name, suffix)), "wb") as f:
                f.write(data)

        # A file's chain that runs back into itself, and a folder whose
        # chain loops too.
        looped = bytearray(image)
        first = fat.first_cluster(looped, big)
        fat.set_next(looped, first + 3, first)
        dir_cluster = fat.first_cluster(looped, directory)
        fat.set_next(looped, dir_cluster, dir_cluster)
        save("chain-loop", looped)

        # A subfolder that names its grandparent (the root, or the root's
        # cluster) as its own first cluster: the walk would descend forever.
        cycle = bytearray(image)
        target = fat.root_cluster if fat.fat32 else 0
        struct.pack_into("<H", cycle, sub + 0x1A, target & 0xFFFF)
        struct.pack_into("<H", cycle, sub + 0x14, target >> 16)
        if fat.fat32:
            fat.set_next(cycle, fat.root_cluster, fat.root_cluster)  # the root loops as well
        save("folder-cycle", cycle)

        # Absurd sizes and counts: an entry's size and first cluster beyond
        # the volume; the boot sector's counts at their maximum.
        sizes = bytearray(image)
        struct.pack_into("<I", sizes, big + 0x1C, 0xFFFFFFFF)
        struct.pack_into("<H", sizes, directory + 0x1A, 0xFFF0)
        struct.pack_into("<I", sizes, 0x20, 0xFFFFFFFF)
        save("absurd-sizes", sizes)
        counts = bytearray(image)
        counts[0x0D] = 128
        counts[0x10] = 255
        struct.pack_into("<H", counts, 0x0E, 0xFFFF)
        if fat.fat32:
            struct.pack_into("<I", counts, 0x24, 0xFFFFFFFF)
            struct.pack_into("<I", counts, 0x2C, 0xFFFFFFFF)
        else:
            struct.pack_into("<H", counts, 0x16, 0xFFFF)
        save("absurd-counts", counts)
        zero = bytearray(image)
        zero[0x0D] = 0
        save("zero-cluster", zero)

        # Cut short: inside the boot sector, inside the FAT, inside the root
        # folder, inside the data.
        for cut in (SECTOR // 2, fat.fat + SECTOR, root + SECTOR // 2, fat.cluster(first) + 100):
            save("cut-%d" % cut, image[:cut])


def mbr(entries, extended=()):
    """A 1 MiB disk whose MBR holds `entries` (type, first, count) and whose
    EBRs are `extended` (sector, [entries])."""
    image = bytearray(MIB)

    def table(sector, rows):
        for i, (kind, first, count) in enumerate(rows):
            at = sector * SECTOR + 0x1BE + 16 * i
            image[at + 4] = kind
            struct.pack_into("<II", image, at + 8, first, count)
        struct.pack_into("<H", image, sector * SECTOR + 510, 0xAA55)

    table(0, entries)
    for sector, rows in extended:
        table(sector, rows)
    return image


def partition_images(out):
    tables = {
        # Every field at its maximum.
        "mbr-absurd": mbr([(0x06, 0xFFFFFFFF, 0xFFFFFFFF), (0x07, 63, 0xFFFFFFFF),
                           (0x0C, 0xFFFFFF00, 0x100), (0x83, 1, 0xFFFFFFFE)]),
        # An extended partition at sector 0: its EBR is the MBR itself.
        "ebr-is-mbr": mbr([(0x06, 64, 64), (0x05, 0, 2048)]),
        # A chain of EBRs in a ring of three, each also listing a volume.
        "ebr-ring": mbr([(0x0F, 128, 1024)],
                        [(128, [(0x06, 8, 8), (0x05, 100, 100)]),
                         (228, [(0x07, 8, 8), (0x05, 200, 100)]),
                         (328, [(0x0C, 8, 8), (0x05, 0, 100)])]),
        # A link past the end of the disk and one whose sector count wraps.
        "ebr-far": mbr([(0x05, 128, 0xFFFFFFFF)],
                       [(128, [(0x06, 0xFFFFFFF0, 0x7FFFFFFF), (0x05, 0xFFFFFF00, 1)])]),
    }
    for name, image in tables.items():
        with open(os.path.join(out, name + ".img"), "wb") as f:
            f.write(image)

    # GPT made by sgdisk, then its header's counts made absurd.
    path = os.path.join(out, "gpt-absurd.img")
    blank(path, 2 * MIB)
    run("sgdisk", "-o", "-a", "1", "-n", "1:64:1023", "-t", "1:0700", "-n", "2:1024:2047", path)
    image = load(path)
    struct.pack_into("<I", image, SECTOR + 0x50, 0xFFFFFFFF)  # entry count
    struct.pack_into("<I", image, SECTOR + 0x54, 0x10000)      # entry size
    struct.pack_into("<Q", image, 2 * SECTOR + 0x20, 1 << 63)  # first entry's first LBA
    struct.pack_into("<Q", image, 2 * SECTOR + 0x28, (1 << 64) - 1)
    with open(path, "wb") as f:
        f.write(image)


def file_name_parent(image, record):
    """Offset of the parent reference of the record's first $FILE_NAME."""
    at = record + struct.unpack_from("<H", image, record + 0x14)[0]
    while struct.unpack_from("<I", image, at)[0] not in (0x30, 0xFFFFFFFF):
        at += struct.unpack_from("<I", image, at + 4)[0]
    if struct.unpack_from("<I", image, at)[0] != 0x30:
        raise LookupError("no $FILE_NAME")
    return at + struct.unpack_from("<H", image, at + 0x14)[0]


def ntfs_images(out, work):
    clean = os.path.join(work, "ntfs.img")
    blank(clean, 4 * MIB)
    run("mkntfs", "-F", "-Q", "-T", "-s", "512", "-c", "512", "-p", "0", "-H", "255", "-S", "63",
        "-L", "HOSTILE", clean)
    text = os.path.join(work, "a.txt")
    with open(text, "wb") as f:
        f.write(b"hostile ntfs\n" * 300)
    for name in ("A.TXT", "B.TXT"):
        run("ntfscp", "-f", clean, text, name)
    image = load(clean)
    mft = struct.unpack_from("<Q", image, 0x30)[0] * image[0x0D] * SECTOR
    size = 1024

    def record_named(name):
        wide = name.encode("utf-16-le")
        for n in range(16, 128):
            r = mft + n * size
            if image[r:r + 4] == b"FILE" and wide in image[r:r + size]:
                return n
        raise LookupError(name)

    a, b = record_named("A.TXT"), record_named("B.TXT")

    def save(suffix, data):
        with open(os.path.join(out, "ntfs-%s.img" % suffix), "wb") as f:
            f.write(data)

    # Parent cycles: two files each other's parent, the root under $Extend
    # and $Extend its own parent.
    cycle = bytearray(image)
    for child, parent in ((a, b), (b, a), (5, 11), (11, 11)):
        at = file_name_parent(cycle, mft + child * size)
        seq = struct.unpack_from("<H", cycle, mft + parent * size + 0x10)[0]
        struct.pack_into("<IHH", cycle, at, parent, 0, seq)
    save("parent-cycle", cycle)

    # Absurd counts: clusters of 2^255 sectors, records of 2^-128 clusters,
    # the $MFT far beyond the volume, and a volume of 2^63 sectors.
    for suffix, patch in (("cluster-shift", lambda d: d.__setitem__(0x0D, 0x81)),
                          ("record-size", lambda d: d.__setitem__(0x40, 0x80)),
                          ("mft-far", lambda d: struct.pack_into("<Q", d, 0x30, 1 << 62)),
                          ("sectors-huge", lambda d: struct.pack_into("<Q", d, 0x28, 1 << 63))):
        damaged = bytearray(image)
        patch(damaged)
        save(suffix, damaged)

    # A file's data run whose length and offset reach past the volume.
    runs = bytearray(image)
    r = mft + a * size
    at = r + struct.unpack_from("<H", runs, r + 0x14)[0]
    while struct.unpack_from("<I", runs, at)[0] not in (0x80, 0xFFFFFFFF):
        at += struct.unpack_from("<I", runs, at + 4)[0]
    if runs[at + 8] == 1:  # non-resident
        pairs = at + struct.unpack_from("<H", runs, at + 0x20)[0]
        runs[pairs:pairs + 10] = bytes([0x48, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x40, 0x00])
        struct.pack_into("<Q", runs, at + 0x30, 1 << 62)  # real size
    save("run-far", runs)

    for cut in (mft, mft + 5 * size + 100, mft + a * size + size // 2):
        save("cut-%d" % cut, image[:cut])


def carving_images(out):
    """16 MiB where every sector starts a file that never ends: a carver that
    searched again from every start would take hours."""
    rng = random.Random(21)
    noise = bytes(rng.randrange(256) for _ in range(SECTOR)).replace(b"\xff", b"\xfe")
    noise = noise.replace(b"%", b"$").replace(b"PK", b"QK")
    zip_local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 8, 8, 0, 0, 0, 0, 0, 1, 0) + b"a"
    zip_chain = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, 0, SECTOR - 31, 0, 1, 0) + b"a"
    rar_chain = b"Rar!\x1a\x07\x00" + struct.pack("<HBHHI", 0, 0x74, 0x8000, 11, SECTOR - 18)
    bombs = {
        "pdf": b"%PDF-1.4\n",
        "jpeg": b"\xff\xd8\xff\xdb\x00\x04\x00\x00\xff\xda\x00\x02",
        "zip-descriptor": zip_local,
        "zip-chain": zip_chain,
        "rar": rar_chain,
        "mp4": struct.pack(">I", 16) + b"ftypisom\x00\x00\x00\x00" + struct.pack(">I", SECTOR - 16) + b"free",
        "png": b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + bytes(17) +
               struct.pack(">I", SECTOR - 45) + b"tEXt",
    }
    for name, head in bombs.items():
        sector = head + noise[len(head):]
        with open(os.path.join(out, "carve-" + name + ".img"), "wb") as f:
            f.write(sector * (16 * MIB // SECTOR))


def exfat_sum16(data):
    total = 0
    for i, byte in enumerate(data):
        if i in (2, 3):
            continue
        total = (((total & 1) << 15) + (total >> 1) + byte) & 0xFFFF
    return total


def exfat_set(name, attributes, first, length, flags=0x03, secondaries=None):
    """A file entry set as a live file system writes it, checksum included."""
    units = name.encode("utf-16-le")
    name_entries = (len(name) + 14) // 15
    file = bytearray(32)
    file[0], file[1] = 0x85, secondaries if secondaries is not None else 1 + name_entries
    struct.pack_into("<H", file, 4, attributes)
    stream = bytearray(32)
    stream[0], stream[1], stream[3] = 0xC0, flags, len(name)
    name_hash = 0
    for ch in name.upper().encode("utf-16-le"):
        name_hash = (((name_hash & 1) << 15) + (name_hash >> 1) + ch) & 0xFFFF
    struct.pack_into("<H2xQIIQ", stream, 4, name_hash, length, 0, first, length)
    entries = file + stream
    for e in range(name_entries):
        part = bytearray(32)
        part[0] = 0xC1
        chunk = units[e * 30:(e + 1) * 30]
        part[2:2 + len(chunk)] = chunk
        entries += part
    struct.pack_into("<H", entries, 2, exfat_sum16(entries))
    return entries


def exfat_images(out, work):
    """mkfs.exfat volumes given entry sets that loop, nest without end, claim
    sizes past the volume or fail their checksum, and boot sectors whose
    geometry points outside the image."""
    base = os.path.join(work, "exfat.img")
    blank(base, 8 * MIB)
    run("mkfs.exfat", "-c", "4096", base)
    clean = load(base)
    heap, count, root = struct.unpack_from("<III", clean, 0x58)
    shift = clean[0x6C] + clean[0x6D]
    fat = struct.unpack_from("<I", clean, 0x50)[0] * SECTOR

    def cluster(n):
        return heap * SECTOR + (n - 2) * (1 << shift)

    def free_slot(image, at):
        while image[at] != 0:
            at += 32
        return at

    def save(suffix, image):
        with open(os.path.join(out, "exfat-" + suffix + ".img"), "wb") as f:
            f.write(image)

    far = count + 1  # the heap's last cluster
    cases = {
        "folder-is-root": [exfat_set("up", 0x10, root, 4096)],
        "folder-chain-loop": [exfat_set("loop", 0x10, far, 1 << 30, flags=0x01)],
        "huge-sizes": [exfat_set("big.bin", 0x20, far, (1 << 64) - 1),
                       exfat_set("bigdir", 0x10, far, (1 << 64) - 1),
                       exfat_set("chained.bin", 0x20, far, 1 << 40, flags=0x01)],
        "bad-checksum": [exfat_set("a.txt", 0x20, 5, 10)[:-1] + b"\x01"],
        "secondary-count": [exfat_set("b.txt", 0x20, 5, 10, secondaries=255)],
    }
    for suffix, sets in cases.items():
        image = bytearray(clean)
        at = free_slot(image, cluster(root))
        for entries in sets:
            image[at:at + len(entries)] = entries
            at += len(entries)
        # The folder's cluster points at itself in the FAT.
        struct.pack_into("<I", image, fat + far * 4, far)
        save(suffix, image)
    # Folders each holding the next, deeper than any real path.
    image = bytearray(clean)
    at = free_slot(image, cluster(root))
    first = count - 300
    image[at:at + 96] = exfat_set("d", 0x10, first, 4096)
    for n in range(first, first + 299):
        image[cluster(n):cluster(n) + 96] = exfat_set("d", 0x10, n + 1, 4096)
    save("deep-folders", image)
    # Boot sectors whose geometry reaches past the image (checksums left stale,
    # backup region wiped so the main one is used).
    for suffix, offset, fmt, value in [("cluster-count", 0x5C, "<I", 0xFFFFFFF0),
                                       ("fat-length", 0x54, "<I", 0xFFFFFFF0),
                                       ("cluster-shift", 0x6D, "<B", 24),
                                       ("volume-length", 0x48, "<Q", 1 << 62)]:
        image = bytearray(clean)
        struct.pack_into(fmt, image, offset, value)
        image[12 * SECTOR:24 * SECTOR] = bytes(12 * SECTOR)
        save(suffix, image)


def main():
    out = sys.argv[1]
    work = os.path.join(out, ".work")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(work)
    fat_images(out, work)
    partition_images(out)
    ntfs_images(out, work)
    exfat_images(out, work)
    carving_images(out)
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
