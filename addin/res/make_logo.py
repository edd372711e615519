#!/usr/bin/env python3
"""Draws the 32x32 button image (logo.png): a teal disc with a white "H", transparent corners.

Only the standard library is used; run it again after changing the drawing."""
import struct
import sys
import zlib

SIZE = 32


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2
    d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
    r = SIZE / 2 - 0.5
    if d > r + 0.5:
        return (0, 0, 0, 0)
    alpha = int(255 * max(0.0, min(1.0, r + 0.5 - d)))
    in_h = (9 <= x <= 12 or 19 <= x <= 22) and 8 <= y <= 23 or (13 <= x <= 18 and 14 <= y <= 17)
    if in_h:
        return (255, 255, 255, alpha)
    return (0, 128, 128, alpha)


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "logo.png"
    with open(out, "wb") as f:
        f.write(png(SIZE, SIZE, [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]))
