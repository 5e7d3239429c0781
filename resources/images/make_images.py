#!/usr/bin/env python3
"""Draws the window's logo and banner (voxmere_logo.png, voxmere_banner.png).

Run from this folder to regenerate the committed images; only the standard
library is needed.
"""
import struct
import zlib

BLUE = (31, 95, 168)
LIGHT = (95, 160, 224)
WHITE = (255, 255, 255)

# 5x7 glyphs, one string of five bits per row.
FONT = {
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "X": ["10001", "01010", "00100", "00100", "00100", "01010", "10001"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
}


def write_png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        out.write(chunk(b"IEND", b""))


def near_segment(px, py, ax, ay, bx, by, half_width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)))
    cx, cy = ax + t * dx, ay + t * dy
    return (px - cx) ** 2 + (py - cy) ** 2 <= half_width ** 2


def logo_pixel(x, y, cx, cy, radius, mark, disk):
    """The round mark: a disk with a V drawn into it, transparent outside."""
    if (x - cx) ** 2 + (y - cy) ** 2 > radius ** 2:
        return None
    s = radius / 30.0
    in_v = near_segment(x, y, cx - 15 * s, cy - 14 * s, cx, cy + 16 * s, 3.2 * s) or \
        near_segment(x, y, cx + 15 * s, cy - 14 * s, cx, cy + 16 * s, 3.2 * s)
    return mark if in_v else disk


def logo(x, y):
    colour = logo_pixel(x, y, 31.5, 31.5, 30, WHITE, BLUE)
    return (0, 0, 0, 0) if colour is None else colour + (255,)


def text_pixel(x, y, text, left, top, scale):
    col, row = (x - left) // scale, (y - top) // scale
    if x < left or y < top or row >= 7:
        return False
    glyph, column = divmod(col, 6)
    if glyph >= len(text) or column >= 5:
        return False
    return FONT[text[glyph]][row][column] == "1"


def banner(x, y):
    f = x / 467.0
    colour = tuple(int(a + (b - a) * f) for a, b in zip(BLUE, LIGHT))
    mark = logo_pixel(x, y, 30, 30, 24, BLUE, WHITE)
    if mark is not None:
        colour = mark
    elif text_pixel(x, y, "VOXMERE", 68, 16, 4):
        colour = WHITE
    return colour + (255,)


write_png("voxmere_logo.png", 64, 64, logo)
write_png("voxmere_banner.png", 468, 60, banner)
