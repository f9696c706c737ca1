#!/usr/bin/env python3
"""Draws the viewer's cursors (801-815) and icon (100) as 32x32 .cur and .ico files.

Run from this folder; the files are committed, so the build never runs it."""
import math
import struct

SIZE = 32


def inside_polygon(x, y, points):
    result = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def arrow(angle):
    """An arrow from the centre pointing along angle (radians, 0 = right, y down)."""
    c = SIZE / 2
    dx, dy = math.cos(angle), math.sin(angle)
    nx, ny = -dy, dx

    def at(along, across):
        return (c + dx * along + nx * across, c + dy * along + ny * across)

    return [at(-10, 2.5), at(3, 2.5), at(3, 7), at(12, 0), at(3, -7), at(3, -2.5), at(-10, -2.5)]


def ring(x, y, radius, width):
    d = math.hypot(x - SIZE / 2, y - SIZE / 2)
    return radius - width <= d <= radius


def shape_pixels(kind):
    fill = set()
    for y in range(SIZE):
        for x in range(SIZE):
            px, py = x + 0.5, y + 0.5
            hit = False
            if kind[0] == "arrow":
                hit = inside_polygon(px, py, arrow(kind[1]))
            elif kind[0] == "cross":
                hit = any(inside_polygon(px, py, arrow(a * math.pi / 2)) for a in range(4))
            elif kind[0] == "stop":
                hit = ring(px, py, 9, 3) or (abs(px - py) < 2 and 9 < px < 23)
            elif kind[0] == "ring":
                hit = ring(px, py, 10, 3) or inside_polygon(px, py, [(24, 8), (30, 16), (20, 16)])
            elif kind[0] == "hand":
                hit = ring(px, py, 8, 8)
            elif kind[0] == "dot":
                hit = ring(px, py, 4, 4)
            if hit:
                fill.add((x, y))
    return fill


def image_rows(kind, colour=(0, 0, 0)):
    fill = shape_pixels(kind)
    outline = set()
    for (x, y) in fill:
        for ox in (-1, 0, 1):
            for oy in (-1, 0, 1):
                p = (x + ox, y + oy)
                if p not in fill and 0 <= p[0] < SIZE and 0 <= p[1] < SIZE:
                    outline.add(p)
    pixels = b""
    mask = b""
    for y in reversed(range(SIZE)):  # bottom-up rows
        bits = 0
        for x in range(SIZE):
            if (x, y) in fill:
                pixels += bytes((colour[2], colour[1], colour[0], 255))
            elif (x, y) in outline:
                pixels += bytes((255, 255, 255, 255))
            else:
                pixels += bytes((0, 0, 0, 0))
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def write(path, kind, file_type, hot=(16, 16), colour=(0, 0, 0)):
    dib = image_rows(kind, colour)
    a, b = (hot if file_type == 2 else (1, 32))
    directory = struct.pack("<HHH", 0, file_type, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, a, b, len(dib), 6 + 16)
    with open(path, "wb") as f:
        f.write(directory + entry + dib)


DOWN, LEFT, UP, RIGHT = math.pi / 2, math.pi, -math.pi / 2, 0.0
CURSORS = {
    801: ("arrow", DOWN),              # walk back
    802: ("arrow", LEFT),              # step left
    803: ("arrow", -3 * math.pi / 4),  # forward and turn left
    804: ("stop",),                    # centre: no movement
    805: ("arrow", RIGHT),             # step right
    806: ("arrow", -math.pi / 4),      # forward and turn right
    807: ("arrow", LEFT + 0.35),       # turn left
    808: ("arrow", RIGHT - 0.35),      # turn right
    809: ("arrow", UP),                # walk forward
    810: ("dot",),
    811: ("cross",),                   # panning
    812: ("hand",),                    # navigation
    813: ("dot",),
    814: ("dot",),
    815: ("ring",),                    # rotating about the eye
}

if __name__ == "__main__":
    for cursor_id, kind in CURSORS.items():
        write("cursors/cursor_%d.cur" % cursor_id, kind, 2)
    write("ferolt.ico", ("hand",), 1, colour=(40, 90, 160))
