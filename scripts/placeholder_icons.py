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


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def strokes(lines, width, colour, background=None):
    """Anti-aliased line segments over an optional background pixel function."""
    def pixel(x, y):
        d = min(segment_distance(x, y, *l) for l in lines)
        a = coverage(d - width / 2)
        if background:
            br, bg, bb, ba = background(x, y)
            r, g, b = [int(c * a + k * (1 - a)) for c, k in zip(colour, (br, bg, bb))]
            return (r, g, b, max(int(255 * a), ba))
        return (colour[0], colour[1], colour[2], int(255 * a))
    return pixel


def boxes(rects, colour):
    def pixel(x, y):
        a = 0.0
        for (l, t, r, b) in rects:
            inside = min(coverage(l - x), coverage(x - r), coverage(t - y), coverage(y - b))
            a = max(a, inside)
        return (colour[0], colour[1], colour[2], int(255 * a))
    return pixel


def swatch(rgb):
    def pixel(x, y):
        d = max(abs(x - 16), abs(y - 16))
        fill = coverage(d - 11)
        frame = coverage(d - 13)
        r, g, b = [int(c * fill + c * 0.6 * (1 - fill)) for c in rgb]
        return (r, g, b, int(255 * frame))
    return pixel


def hsl(hue, sat, light):
    """The program's colour of a hue, saturation and lightness (0..1)."""
    if sat == 0:
        v = light
        return tuple(int(round(v * 255)) for _ in range(3))
    q = light * (1 + sat) if light <= 0.5 else light + sat - light * sat
    p = 2 * light - q
    h = hue % 360
    sector = int(h / 60)
    f = h / 60 - sector
    up, down = p + (q - p) * f, q - (q - p) * f
    rgb = [(q, up, p), (down, q, p), (p, q, up), (p, down, q), (up, p, q), (q, p, down)][sector]
    return tuple(max(0, min(255, int(round(c * 255)))) for c in rgb)


# The tab colours (hue, saturation and brightness in percent) of the tab bar.
TAB_COLOURS = [(185, 90, 60), (120, 90, 60), (224, 90, 66), (220, 90, 90), (50, 90, 80), (10, 90, 60),
               (275, 90, 66), (0, 0, 25), (29, 100, 100), (270, 50, 100), (340, 70, 120), (0, 0, 125)]


def tab_icons():
    # The other tab bar icons are drawn from resources/Icons/svg (scripts/render_icons).
    for i, (h, s, b) in enumerate(TAB_COLOURS):
        png("resources/Icons/tabcolour%02d.png" % i, swatch(hsl(h, min(s / 100 * 1.0, 1), min(b / 100 * 1.4, 2) / 2)))


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
    tab_icons()
