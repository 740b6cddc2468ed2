#!/usr/bin/env python3
"""Draws the updater's icon and writes it as an ICO file.

The mark is a rounded square in the brand blue (a soft vertical gradient)
carrying a white upward arrow over a short base bar. Every size is drawn
from the same geometry, anti-aliased by supersampling, and stored as a
32-bit RGBA PNG entry in the ICO container. Only the standard library is
used and the output is byte-for-byte reproducible.

Usage: make-icon.py [--out FILE] [--png-dir DIR]
  --out      the ICO to write (default: velmarch-updater.ico next to this script)
  --png-dir  also write each size as icon-<size>.png into DIR, for viewing
"""

import argparse
import pathlib
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)

# Geometry in unit coordinates: (0, 0) is the top left corner, (1, 1) the
# bottom right one.
TILE_INSET = 0.03
TILE_RADIUS = 0.22
ARROW = (  # clockwise from the tip
    (0.500, 0.150),
    (0.790, 0.470),
    (0.615, 0.470),
    (0.615, 0.660),
    (0.385, 0.660),
    (0.385, 0.470),
    (0.210, 0.470),
)
BASE_BAR = (0.250, 0.730, 0.750, 0.830)  # left, top, right, bottom

TOP_COLOUR = (0x3A, 0x86, 0xF0)
BOTTOM_COLOUR = (0x17, 0x4E, 0xB8)
MARK_COLOUR = (0xFF, 0xFF, 0xFF)


def inside_tile(x, y):
    lo, hi = TILE_INSET, 1.0 - TILE_INSET
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    # Distance to the nearest corner centre decides the rounded corners.
    cx = min(max(x, lo + TILE_RADIUS), hi - TILE_RADIUS)
    cy = min(max(y, lo + TILE_RADIUS), hi - TILE_RADIUS)
    return (x - cx) ** 2 + (y - cy) ** 2 <= TILE_RADIUS ** 2


def inside_polygon(x, y, points):
    inside = False
    count = len(points)
    for i in range(count):
        x1, y1 = points[i]
        x2, y2 = points[(i + 1) % count]
        if (y1 > y) != (y2 > y):
            crossing = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < crossing:
                inside = not inside
    return inside


def inside_mark(x, y):
    left, top, right, bottom = BASE_BAR
    if left <= x <= right and top <= y <= bottom:
        return True
    return inside_polygon(x, y, ARROW)


def tile_colour(y):
    t = min(max((y - TILE_INSET) / (1.0 - 2 * TILE_INSET), 0.0), 1.0)
    return tuple(a + (b - a) * t for a, b in zip(TOP_COLOUR, BOTTOM_COLOUR))


def render(size):
    """Returns size rows of RGBA bytes."""
    # Small sizes get more samples per pixel: their edges carry the shape.
    samples = 8 if size <= 64 else 4
    step = 1.0 / (size * samples)
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            red = green = blue = coverage = 0.0
            for sy in range(samples):
                y = (py * samples + sy + 0.5) * step
                for sx in range(samples):
                    x = (px * samples + sx + 0.5) * step
                    if not inside_tile(x, y):
                        continue
                    colour = MARK_COLOUR if inside_mark(x, y) else tile_colour(y)
                    red += colour[0]
                    green += colour[1]
                    blue += colour[2]
                    coverage += 1.0
            if coverage == 0.0:
                row += b"\0\0\0\0"
                continue
            alpha = coverage / (samples * samples)
            row += bytes((
                round(red / coverage),
                round(green / coverage),
                round(blue / coverage),
                round(alpha * 255),
            ))
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def encode_png(size, rows):
    # Bit depth 8, colour type 6 (RGBA), deflate, adaptive filtering, no interlace.
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    raw = b"".join(b"\x01" + sub_filter(row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def sub_filter(row):
    """PNG filter type 1: each byte minus the same channel of the pixel to its left."""
    out = bytearray(row[:4])
    for i in range(4, len(row)):
        out.append((row[i] - row[i - 4]) & 0xFF)
    return bytes(out)


def encode_ico(images):
    """images: list of (size, png bytes), smallest first."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    directory = b""
    for size, data in images:
        side = 0 if size == 256 else size  # 0 stands for 256 in the one-byte fields
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return header + directory + b"".join(data for _, data in images)


def main(argv):
    here = pathlib.Path(__file__).resolve().parent
    parser = argparse.ArgumentParser(description="Draws the updater's icon.")
    parser.add_argument("--out", type=pathlib.Path, default=here / "velmarch-updater.ico")
    parser.add_argument("--png-dir", type=pathlib.Path)
    args = parser.parse_args(argv)

    images = [(size, encode_png(size, render(size))) for size in SIZES]
    args.out.write_bytes(encode_ico(images))
    if args.png_dir:
        args.png_dir.mkdir(parents=True, exist_ok=True)
        for size, data in images:
            (args.png_dir / f"icon-{size}.png").write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
