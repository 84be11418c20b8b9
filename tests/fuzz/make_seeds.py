#!/usr/bin/env python3
"""Seeds for the fuzz targets whose input is not a disk image's head.

Usage: make_seeds.py TARGET OUTDIR FIXTURES CORPUS

lvm: [sector 1][metadata-area header][metadata text] of each LVM2 physical
volume; ldm: [private header][VMDB header and records] of each dynamic disk;
apple_map: the first 64 KiB of each Apple-map or HFS disk. Missing images are
skipped; a seed already made is not made again.
"""
import gzip
import lzma
import os
import struct
import sys
import tarfile

HEAD = 65536
SECTOR = 512


def read_image(path):
    if path.endswith(".gz"):
        return gzip.open(path).read()
    if path.endswith(".xz"):
        return lzma.open(path).read()
    with open(path, "rb") as f:
        return f.read()


def lvm_seed(image):
    sector1 = image[SECTOR:2 * SECTOR]
    if sector1[:8] != b"LABELONE":
        return None
    mda = struct.unpack_from("<Q", sector1, 0x68)[0]
    header = image[mda:mda + SECTOR]
    offset, size = struct.unpack_from("<QQ", header, 0x28)
    text = image[mda + offset:mda + offset + (size & 0xFFFFFFFF)]
    return sector1 + header + text


def ldm_seed(image):
    header = image[6 * SECTOR:7 * SECTOR]
    if header[:8] != b"PRIVHEAD":
        return None
    config_start = struct.unpack_from(">Q", header, 0x12B)[0]
    vmdb = (config_start + 17) * SECTOR
    last, record_size, first = struct.unpack_from(">III", image, vmdb + 4)
    if not 0 < record_size <= SECTOR:
        return None
    # The area is mostly unused slots: only the used ones are kept, and the
    # header's slot count is cut to match (one sector more, which the reader
    # leaves out).
    slots = [image[at:at + record_size]
             for at in range(vmdb + first, vmdb + first + last * record_size, record_size)]
    used = [s for s in slots if s[:4] == b"VBLK" and s[0x13] != 0]
    count = len(used) + SECTOR // record_size
    vmdb_header = bytearray(image[vmdb:vmdb + first])
    struct.pack_into(">I", vmdb_header, 4, count)
    return header + bytes(vmdb_header) + b"".join(used) + bytes(count * record_size - len(b"".join(used)))


def sources(target, fixtures, corpus):
    """(seed name, loader) pairs for `target`."""
    images = os.path.join(corpus, "images")
    if target == "lvm":
        for name in ("lvm_a.img", "lvm_b.img"):
            yield name, os.path.join(fixtures, name)
        for name in ("dfvfs/lvm.raw.gz", "dfvfs/lvmtest.raw.gz", "util-linux/lvm2.img.xz"):
            yield os.path.basename(name), os.path.join(images, name)
    elif target == "exfat":
        for name in ("dfir_ntfs/exfat_win.raw.gz", "dfir_ntfs/exfat_orphan.raw.gz",
                     "dfir_ntfs/win_exfat_7.raw.gz"):
            yield os.path.basename(name), os.path.join(images, name)
        yield "boot0_exfat.img", os.path.join(fixtures, "boot0_exfat.img")
    elif target == "apple_map":
        for name in ("apm/mac-os-disk-utility.bin", "apm/mac-osx-snow-leopard.bin",
                     "util-linux/hfs.img.xz", "util-linux/hfsplus.img.xz"):
            yield os.path.basename(name), os.path.join(images, name)
        yield "hfs_whole.img", os.path.join(fixtures, "hfs_whole.img")


def main():
    target, out, fixtures, corpus = sys.argv[1:5]
    os.makedirs(out, exist_ok=True)
    seeds = {}
    if target == "ldm":
        archive = os.path.join(corpus, "images/libldm/ldm-data.tar.xz")
        wanted = ("ldm-2003r2-simple-1.img", "ldm-2008r2-spanned-1.img", "ldm-2008r2-raid5-1.img")
        if os.path.exists(archive) and not all(
                os.path.exists(os.path.join(out, "seed-" + w)) for w in wanted):
            with tarfile.open(archive) as tar:
                for member in tar:
                    if os.path.basename(member.name) in wanted:
                        seed = ldm_seed(tar.extractfile(member).read())
                        if seed:
                            seeds[os.path.basename(member.name)] = seed
    else:
        for name, path in sources(target, fixtures, corpus):
            if os.path.exists(os.path.join(out, "seed-" + name)) or not os.path.exists(path):
                continue
            image = read_image(path)
            seed = lvm_seed(image) if target == "lvm" else image[:HEAD]
            if seed:
                seeds[name] = seed
    for name, seed in seeds.items():
        with open(os.path.join(out, "seed-" + name), "wb") as f:
            f.write(seed)


if __name__ == "__main__":
    main()
