#!/usr/bin/env python3
"""Draws info_picture.bmp, the picture of the information dialog: a lit cube on a blue gradient,
90 x 33 pixels (the 60 x 22 dialog-unit frame at 8 points), 24-bit, bottom-up."""
import struct

W, H = 90, 33


def colour(x, y):
    # Background: a vertical gradient from sky blue to dark blue.
    t = y / (H - 1)
    bg = (int(40 + 60 * (1 - t)), int(70 + 80 * (1 - t)), int(140 + 90 * (1 - t)))
    # An isometric cube whose near corner is (cx, cy): a rhombus on top, two parallelograms below.
    cx, cy, s = 45, 16, 14
    u = x - cx
    if abs(u) / s + abs(y - (cy - s / 2)) / (s / 2) <= 1:
        return (235, 200, 120)
    if -s <= u <= 0 and cy + u / 2 <= y <= cy + s + u / 2:
        return (190, 120, 60)
    if 0 <= u <= s and cy - u / 2 <= y <= cy + s - u / 2:
        return (140, 80, 40)
    return bg


def main():
    row = (W * 3 + 3) & ~3
    data = bytearray()
    for y in reversed(range(H)):
        line = bytearray()
        for x in range(W):
            r, g, b = colour(x, y)
            line += bytes((b, g, r))
        line += bytes(row - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open("info_picture.bmp", "wb") as f:
        f.write(header + info + data)


if __name__ == "__main__":
    main()
