#!/usr/bin/env python3
"""Draws the program's icon: two small blue globes (the two connections) joined by a line on a
light disc, as a 32x32 32-bit .ico. Run once; the result is committed beside this script."""
import struct
import sys

SIZE = 32


def pixel(x, y):
    cx, cy = x + 0.5, y + 0.5
    def inside(px, py, r):
        return (cx - px) ** 2 + (cy - py) ** 2 <= r * r
    if inside(9, 16, 6) or inside(23, 16, 6):
        return (40, 90, 200, 255)
    if 9 <= cx <= 23 and 14.5 <= cy <= 17.5:
        return (60, 60, 60, 255)
    if inside(16, 16, 15):
        return (235, 225, 190, 255)
    if inside(16, 16, 16):
        return (120, 100, 60, 255)
    return (0, 0, 0, 0)


def main(path):
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        for x in range(SIZE):
            r, g, b, a = pixel(x, y)
            rows.append(struct.pack("<BBBB", b, g, r, a))
    xor = b"".join(rows)
    mask = b"\0" * (SIZE * 4)  # AND mask: 32 rows of 32 bits, padded to 4 bytes
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32,
                                                          len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(directory + image)


main(sys.argv[1] if len(sys.argv) > 1 else "brindlecove.ico")
