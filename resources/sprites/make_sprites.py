#!/usr/bin/env python3
"""Draws the light sprite pictures ("TexFile" 200-206) as 64 x 64 RGBA PNG files.

200-202 are the lens-flare pieces (a wide halo, a soft disc, a thin ring), 203-206 the glows (soft,
bright core, four-pointed star, core with a ring). Every picture is white; its shape lies in alpha, so
that the sprite takes the light's colour. Run it from this folder to rewrite the files.
"""
import math
import struct
import zlib

SIZE = 64


def png(path, pixels):
    raw = b"".join(b"\0" + bytes(row) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
                chunk(b"IEND", b""))


def picture(alpha):
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            dx = (x + 0.5) / SIZE * 2 - 1
            dy = (y + 0.5) / SIZE * 2 - 1
            a = max(0.0, min(1.0, alpha(math.hypot(dx, dy), math.atan2(dy, dx))))
            row += [255, 255, 255, int(a * 255 + 0.5)]
        rows.append(row)
    return rows


def falloff(r, width):
    return max(0.0, 1.0 - r / width)


SPRITES = {
    200: lambda r, t: 0.6 * falloff(r, 1.0) ** 2,
    201: lambda r, t: 0.8 * min(1.0, 6 * falloff(r, 0.9)),
    202: lambda r, t: math.exp(-((r - 0.8) / 0.08) ** 2),
    203: lambda r, t: falloff(r, 1.0) ** 2,
    204: lambda r, t: falloff(r, 1.0) ** 4 + 0.8 * falloff(r, 0.2),
    205: lambda r, t: falloff(r, 1.0) ** 3 * (0.3 + 0.7 * abs(math.cos(2 * t)) ** 8) + falloff(r, 0.25),
    206: lambda r, t: falloff(r, 0.5) ** 2 + 0.5 * math.exp(-((r - 0.75) / 0.06) ** 2),
}

if __name__ == "__main__":
    for number, alpha in SPRITES.items():
        png("sprite_%d.png" % number, picture(alpha))
