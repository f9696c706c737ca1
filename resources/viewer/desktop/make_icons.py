#!/usr/bin/env python3
"""Draws the viewer's desktop icon, the picture of ferolt.ico (a blue disc with a white rim), filling more of the square, as the
hicolor PNGs of 32, 48, 64 and 128 pixels.

Run from this folder; the files are committed, so the build never runs it."""
import math
import struct
import zlib

SIZES = (32, 48, 64, 128)
BLUE = (40, 90, 160)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def pixel(size, x, y):
    """RGBA of one pixel, coverage taken from 4 x 4 samples so the edges are smooth at every size."""
    radius = size * 0.42  # larger than in the 32-pixel window icon: here the picture is all there is
    rim = max(1.0, size / 32)
    disc = white = 0
    for sy in range(4):
        for sx in range(4):
            d = math.hypot(x + (sx + 0.5) / 4 - size / 2, y + (sy + 0.5) / 4 - size / 2)
            if d <= radius:
                disc += 1
            elif d <= radius + rim:
                white += 1
    covered = disc + white
    if covered == 0:
        return (0, 0, 0, 0)
    colour = [(BLUE[i] * disc + 255 * white) // covered for i in range(3)]
    return (*colour, covered * 255 // 16)


def png(size):
    rows = b"".join(b"\0" + bytes(c for x in range(size) for c in pixel(size, x, y)) for y in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
            chunk(b"IEND", b""))


if __name__ == "__main__":
    for size in SIZES:
        with open("ferolt-%d.png" % size, "wb") as f:
            f.write(png(size))
