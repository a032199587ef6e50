#!/usr/bin/env python3
"""Draws the placeholder icons of resources/Icons (32 x 32 PNG each).

The real icon set comes later; these stand in for the ids that
resources/iconsmap.txt names. Run from the repository root to draw them
again.
"""
import math
import struct
import zlib

SIZE = 32


def png(path, pixel):
    rows = b""
    for y in range(SIZE):
        rows += b"\0" + b"".join(bytes(pixel(x + 0.5, y + 0.5)) for x in range(SIZE))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
                + chunk(b"IEND", b""))


def coverage(distance):
    """Anti-aliased edge: 1 inside, 0 outside, a one-pixel ramp between."""
    return max(0.0, min(1.0, 0.5 - distance))


def disc(colour, ring):
    def pixel(x, y):
        d = math.hypot(x - 16, y - 16)
        outer = coverage(d - 13)
        inner = coverage(d - 11)
        r, g, b = [int(c * inner + k * (1 - inner)) for c, k in zip(colour, ring)]
        return (r, g, b, int(255 * outer))
    return pixel


TRIANGLE = [(16.0, 3.5), (29.5, 27.5), (2.5, 27.5)]


def triangle(x, y):
    # Inside all three edges (distances are negative inside).
    inside = 1.0
    for (ax, ay), (bx, by) in zip(TRIANGLE, TRIANGLE[1:] + TRIANGLE[:1]):
        ex, ey = bx - ax, by - ay
        length = math.hypot(ex, ey)
        distance = ((x - ax) * ey - (y - ay) * ex) / length
        inside = min(inside, coverage(distance))
    mark = 1.0 if 14.5 < x < 17.5 and (11 < y < 20.5 or 22 < y < 25) else 0.0
    r, g, b = [int(c * (1 - mark)) for c in (235, 180, 20)]
    return (r, g, b, int(255 * inside))


def bulb(x, y):
    # A light bulb: a yellow glass disc over a grey screw base.
    glass = coverage(math.hypot(x - 16, y - 13) - 10)
    neck = coverage(max(abs(x - 16) - 5.5, y - 29.5, 21 - y))
    rim = coverage(abs(math.hypot(x - 16, y - 13) - 10.5) - 0.9)
    thread = 1.0 if neck > 0 and int(y) % 3 == 0 else 0.0
    if glass > 0 and y < 23:
        r, g, b = [int(c * (1 - rim) + k * rim) for c, k in zip((255, 214, 60), (170, 120, 10))]
        return (r, g, b, int(255 * max(glass, rim)))
    if neck > 0:
        shade = 90 if thread else 150
        return (shade, shade, shade + 10, int(255 * neck))
    return (0, 0, 0, 0)


if __name__ == "__main__":
    png("resources/Icons/online.png", disc((40, 170, 60), (20, 90, 30)))
    png("resources/Icons/offline.png", disc((150, 150, 150), (90, 90, 90)))
    png("resources/Icons/attention.png", triangle)
    png("resources/Icons/tip.png", bulb)
