#!/usr/bin/env python3
"""Draws the Add Item dialog's bitmaps, and the command-bar button face and mask.

members.bmp  (26035) 16x16: one person, magenta background
states.bmp   (26023) 64x16: blank, unticked box, ticked box, blank (state images 1..4)
face.bmp     (26037) 31x31: the button face, a teal disc with a white "H" on light grey
mask.bmp     (26038) 31x31: white where the face is transparent, black elsewhere
Only the standard library is used; run it again after changing a drawing."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
MAGENTA = (255, 0, 255)
TEAL = (0, 128, 128)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
GREY = (192, 192, 192)


def bmp24(path, width, height, pixel):
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = b"".join(bytes((b, g, r)) for (r, g, b) in (pixel(x, y) for x in range(width)))
        rows.append(row + b"\0" * (stride - width * 3))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(os.path.join(HERE, path), "wb") as f:
        f.write(header + info + data)


def person(x, y):
    head = (x - 7.5) ** 2 + (y - 4.5) ** 2 <= 10
    body = 9 <= y <= 15 and abs(x - 7.5) <= 6 - max(0, 11 - y)
    return TEAL if head or body else MAGENTA


def states(x, y):
    image, x = divmod(x, 16)
    if image not in (1, 2):
        return MAGENTA
    if not (2 <= x <= 13 and 2 <= y <= 13):
        return MAGENTA
    if x in (2, 13) or y in (2, 13):
        return BLACK
    if image == 2:
        # A tick from (4,8) down to (6,10) and up to (11,5).
        if (4 <= x <= 6 and y in (x + 4, x + 3)) or (6 <= x <= 11 and y in (16 - x, 15 - x)):
            return BLACK
    return WHITE


def in_face(x, y):
    return (x - 15) ** 2 + (y - 15) ** 2 <= 14 ** 2


def face(x, y):
    if not in_face(x, y):
        return GREY
    in_h = (9 <= x <= 11 or 19 <= x <= 21) and 8 <= y <= 22 or (12 <= x <= 18 and 14 <= y <= 16)
    return WHITE if in_h else TEAL


def mask(x, y):
    return BLACK if in_face(x, y) else WHITE


bmp24("members.bmp", 16, 16, person)
bmp24("states.bmp", 64, 16, states)
bmp24("face.bmp", 31, 31, face)
bmp24("mask.bmp", 31, 31, mask)
