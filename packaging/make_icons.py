#!/usr/bin/env python3
"""Draws Brevid's icon (a disk platter with a green arrow coming back out of
it) as PNG files in the hicolor sizes, with nothing but the standard library.
Usage: make_icons.py OUT_DIR   (writes OUT_DIR/SIZExSIZE/brevid.png)"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
BLUE = (0x1D, 0x4D, 0x80)
PLATTER = (0xD8, 0xDE, 0xE6)
HUB = (0x5A, 0x6B, 0x7D)
GREEN = (0x32, 0xC8, 0x32)


def pixel(size, x, y):
    """RGBA of one pixel, sampled at its centre in a unit square."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    # Rounded blue tile.
    r = 0.18
    dx, dy = max(r - u, 0, u - (1 - r)), max(r - v, 0, v - (1 - r))
    if dx * dx + dy * dy > r * r:
        return (0, 0, 0, 0)
    d = math.hypot(u - 0.45, v - 0.5)
    colour = BLUE
    if d < 0.34:
        colour = PLATTER
    if d < 0.08:
        colour = HUB
    # The arrow: a shaft from the platter's centre up to the right, and its head.
    if 0.55 < u < 0.82 and abs(v - (1.05 - u)) < 0.06:
        colour = GREEN
    if u > 0.66 and v < 0.42 and u - 0.66 < 0.2 and 0.22 < v and (u - 0.66) + (0.42 - v) > 0.16:
        if u < 0.88 and v > 0.2:
            colour = GREEN
    return colour + (255,)


def png(size):
    rows = b""
    for y in range(size):
        rows += b"\0" + b"".join(bytes(pixel(size, x, y)) for x in range(size))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


def main():
    out = sys.argv[1]
    for size in SIZES:
        folder = os.path.join(out, f"{size}x{size}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "brevid.png"), "wb") as f:
            f.write(png(size))


if __name__ == "__main__":
    main()
