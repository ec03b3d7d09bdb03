#!/usr/bin/env python3
"""Draws korvanew.exe's icon: a white envelope on a blue tile.

Writes an .ico with the sizes Windows asks for (16, 20, 24, 32, 40, 48, 64
and 256 pixels, which covers 100 % to 200 % and Explorer's large icons),
each a PNG, drawn at four times its size and scaled down so that the edges
are smooth. Python's standard library only.

usage: make_window_icon.py OUT.ico
"""
import struct
import sys
import zlib

SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
OVERSAMPLE = 4


def inside_rounded(x, y, size, radius):
    """Whether (x, y) lies in a square of side size with rounded corners."""
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, ax, ay, bx, by, width):
    """Whether (x, y) lies within width / 2 of the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= (width / 2.0) ** 2


def pixel(x, y, s):
    """The colour (r, g, b, a) at (x, y) of a tile of side s."""
    if not inside_rounded(x, y, s, s * 0.2):
        return (0, 0, 0, 0)
    # The tile: blue, lighter at the top.
    shade = y / float(s)
    tile = (int(0x3a + (0x1c - 0x3a) * shade), int(0x86 + (0x54 - 0x86) * shade),
            int(0xe6 + (0xb4 - 0xe6) * shade), 255)
    left, right = s * 0.17, s * 0.83
    top, bottom = s * 0.28, s * 0.72
    line = max(s * 0.055, 1.2 * OVERSAMPLE)
    if left <= x <= right and top <= y <= bottom:
        # The flap: two lines from the top corners to the middle.
        middle = (s * 0.5, s * 0.53)
        if (near_segment(x, y, left, top, middle[0], middle[1], line) or
                near_segment(x, y, right, top, middle[0], middle[1], line)):
            return (0x1c, 0x54, 0xb4, 255)
        return (255, 255, 255, 255)
    return tile


def draw(size):
    """The icon at size pixels, as rows of RGBA bytes."""
    big = size * OVERSAMPLE
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            sums = [0, 0, 0, 0]
            for sy in range(OVERSAMPLE):
                for sx in range(OVERSAMPLE):
                    r, g, b, a = pixel(x * OVERSAMPLE + sx + 0.5,
                                       y * OVERSAMPLE + sy + 0.5, big)
                    sums[0] += r * a
                    sums[1] += g * a
                    sums[2] += b * a
                    sums[3] += a
            n = OVERSAMPLE * OVERSAMPLE
            alpha = sums[3] // n
            if sums[3] == 0:
                row += bytes(4)
            else:
                row += bytes((sums[0] // sums[3], sums[1] // sums[3],
                              sums[2] // sums[3], alpha))
        rows.append(bytes(row))
    return rows


def png(size):
    rows = draw(size)
    raw = b"".join(b"\0" + row for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    images = [png(size) for size in SIZES]
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = len(head) + 16 * len(images)
    entries = b""
    for size, image in zip(SIZES, images):
        side = 0 if size == 256 else size
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32,
                               len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as out:
        out.write(head + entries + b"".join(images))


if __name__ == "__main__":
    main()
