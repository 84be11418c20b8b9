#!/usr/bin/env python3
"""Writes IMAGE of SIZE bytes of noise with COUNT files planted at sector
starts (each padded with zeros to a 4 KiB cluster), taken in turn from the given sample files; prints one line per
planted file: start sector, size, extension. Usage:
  plant_files.py IMAGE SIZE COUNT SAMPLE..."""
import os
import random
import sys

image, size, count, samples = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:]
rng = random.Random(42)
blobs = [(open(p, "rb").read(), os.path.splitext(p)[1].lower().lstrip(".")) for p in samples]
with open(image, "wb") as out:
    chunk = 64 << 20
    written = 0
    while written < size:
        n = min(chunk, size - written)
        out.write(rng.randbytes(n))
        written += n
    slot = size // 512 // count
    for i in range(count):
        data, ext = blobs[i % len(blobs)]
        sector = i * slot + rng.randrange(1, max(2, slot - len(data) // 512 - 2))
        out.seek(sector * 512)
        # A file system writes whole clusters: the rest of the last one is zeros.
        out.write(data + bytes(-len(data) % 4096))
        print(sector, len(data), ext)
