#!/usr/bin/env python3
"""Draws the Outlook Bar shortcut icons: Halvane.ico (the logo: a teal disc with a white "H"),
Task.ico (a sheet with a green tick) and Calendar.ico (a calendar sheet with a red top band).

Each file holds a 16x16 and a 32x32 image, 32 bits with alpha and an AND mask, the classic
icon format every Windows version reads. Only the standard library is used; run it again
after changing a drawing: make_icons.py [OUT_DIR]."""
import os
import struct
import sys

TEAL = (0, 128, 128)
WHITE = (255, 255, 255)
BORDER = (70, 70, 70)
RED = (200, 40, 40)
GREEN = (30, 150, 60)
GREY = (150, 150, 150)


def halvane(u, v):
    d = ((u - 0.5) ** 2 + (v - 0.5) ** 2) ** 0.5
    if d > 0.5:
        return None
    in_h = (0.28 <= u <= 0.40 or 0.60 <= u <= 0.72) and 0.25 <= v <= 0.75 or (0.40 <= u <= 0.60 and 0.44 <= v <= 0.56)
    return WHITE if in_h else TEAL


def sheet(u, v):
    """A page with a dark border; None outside it."""
    if not (0.12 <= u <= 0.88 and 0.08 <= v <= 0.94):
        return None
    if u < 0.18 or u > 0.82 or v < 0.13 or v > 0.89:
        return BORDER
    return WHITE


def task(u, v):
    base = sheet(u, v)
    if base is None:
        return None
    # The tick: a short stroke down to (0.42, 0.72), a long one up to (0.76, 0.30).
    def near(ax, ay, bx, by, w=0.07):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((u - ax) * dx + (v - ay) * dy) / (dx * dx + dy * dy)))
        return ((u - ax - t * dx) ** 2 + (v - ay - t * dy) ** 2) ** 0.5 <= w
    if near(0.26, 0.52, 0.42, 0.72) or near(0.42, 0.72, 0.76, 0.30):
        return GREEN
    return base


def calendar(u, v):
    base = sheet(u, v)
    if base is None:
        return None
    if base == WHITE and v < 0.34:
        return RED
    if base == WHITE:
        # A grid of days: three rows of four.
        gx = (u - 0.18) / 0.64 * 4
        gy = (v - 0.34) / 0.55 * 3
        if min(gx % 1, 1 - gx % 1) < 0.12 or min(gy % 1, 1 - gy % 1) < 0.12:
            return GREY
    return base


def image(draw, size):
    """BITMAPINFOHEADER, bottom-up BGRA pixels, then the AND mask (1 = transparent)."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            c = draw((x + 0.5) / size, (y + 0.5) / size)
            row.append(None if c is None else c)
        rows.append(row)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(
        b"".join(b"\0\0\0\0" if c is None else bytes((c[2], c[1], c[0], 255)) for c in row) for row in reversed(rows))
    stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + xor + mask


def icon(draw):
    sizes = (16, 32)
    images = [image(draw, s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, draw in (("Halvane.ico", halvane), ("Task.ico", task), ("Calendar.ico", calendar)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(icon(draw))
