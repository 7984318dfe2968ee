#!/usr/bin/env python3
"""Draws the program's icon (a sheet of text with a padlock) and writes it as a
multi-size .ico: 32-bit bitmaps up to 64 pixels, a PNG image at 256.

The drawing is made of signed distance functions, so every size is rendered
from the same shapes with analytic anti-aliasing. Standard library only.

    python3 scripts/make-icon.py [output.ico]   (default src/resources/tarnwick.ico)
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)

PAPER = (250, 248, 240)
FLAP = (214, 209, 196)
INK = (44, 58, 74)
LINES = (120, 138, 160)
LOCK_BODY = (224, 160, 32)
LOCK_SHADE = (190, 124, 16)
SHACKLE = (92, 106, 122)


def box(x, y, left, top, right, bottom, radius=0.0):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx, cy = (left + right) / 2, (top + bottom) / 2
    hx, hy = (right - left) / 2 - radius, (bottom - top) / 2 - radius
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


# The sheet: its right upper corner is folded down.
SHEET = (0.13, 0.04, 0.75, 0.95)
FOLD = 0.20


def corner_cut(x, y):
    left, top, right, bottom = SHEET
    return ((x - right + FOLD) - (y - top)) / math.sqrt(2)


def sheet(x, y):
    left, top, right, bottom = SHEET
    return max(box(x, y, left, top, right, bottom, 0.035), corner_cut(x, y))


def flap(x, y):
    left, top, right, bottom = SHEET
    return max(right - FOLD - x, y - (top + FOLD), corner_cut(x, y))


def text_lines(x, y, size):
    # Fewer, thicker lines where there are few pixels to draw them with.
    rows = (0.34, 0.50) if size < 24 else (0.30, 0.42, 0.54, 0.66)
    half = 0.045 if size < 24 else 0.025
    d = 1e9
    for i, row in enumerate(rows):
        right = 0.60 if i % 2 == 0 else 0.52
        d = min(d, box(x, y, 0.24, row - half, right, row + half, half))
    return d


LOCK = (0.44, 0.55, 0.94, 0.96)
SHACKLE_CENTRE = (0.69, 0.55)


def lock_body(x, y):
    return box(x, y, *LOCK, 0.06)


def shackle(x, y):
    cx, cy = SHACKLE_CENTRE
    ring = abs(circle(x, y, cx, cy, 0.15)) - 0.045
    # Only the upper half of the ring and the two legs down into the body.
    if y > cy:
        legs = min(abs(x - (cx - 0.15)), abs(x - (cx + 0.15))) - 0.045
        return max(legs, y - LOCK[1] - 0.05)
    return ring


def keyhole(x, y):
    cx = (LOCK[0] + LOCK[2]) / 2
    return min(circle(x, y, cx, 0.72, 0.055), box(x, y, cx - 0.025, 0.72, cx + 0.025, 0.87, 0.01))


def coverage(d, pixel):
    """Fraction of a pixel covered by the shape, from its signed distance."""
    return min(1.0, max(0.0, 0.5 - d / pixel))


def over(dst, colour, alpha):
    r, g, b, a = dst
    out_a = alpha + a * (1 - alpha)
    if out_a <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    mix = [(c * alpha + dc * a * (1 - alpha)) / out_a for c, dc in zip(colour, (r, g, b))]
    return (mix[0], mix[1], mix[2], out_a)


def render(size):
    pixel = 1.0 / size
    stroke = max(pixel * 1.1, 0.028)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            x, y = (px + 0.5) * pixel, (py + 0.5) * pixel
            c = (0.0, 0.0, 0.0, 0.0)
            d = sheet(x, y)
            c = over(c, INK, coverage(d - stroke / 2, pixel))
            c = over(c, PAPER, coverage(d + stroke / 2, pixel))
            c = over(c, LINES, coverage(max(text_lines(x, y, size), d + stroke), pixel))
            f = flap(x, y)
            c = over(c, INK, coverage(f - stroke / 2, pixel))
            c = over(c, FLAP, coverage(f + stroke / 2, pixel))
            s = shackle(x, y)
            c = over(c, INK, coverage(s - stroke / 2, pixel))
            c = over(c, SHACKLE, coverage(s + stroke / 2, pixel))
            body = lock_body(x, y)
            c = over(c, INK, coverage(body - stroke / 2, pixel))
            c = over(c, LOCK_BODY, coverage(body + stroke / 2, pixel))
            shade = max(body + stroke / 2, (LOCK[1] + LOCK[3]) / 2 + 0.06 - y)
            c = over(c, LOCK_SHADE, coverage(shade, pixel))
            if size >= 20:
                c = over(c, INK, coverage(keyhole(x, y), pixel))
            row.append(tuple(int(round(v)) for v in c[:3]) + (int(round(c[3] * 255)),))
        rows.append(row)
    return rows


def bitmap_entry(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for i, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[i // 8] |= 0x80 >> (i % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def png_entry(rows):
    size = len(rows)
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def write_icon(path):
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_entry(rows) if size >= 256 else bitmap_entry(rows)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        edge = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "src", "resources", "tarnwick.ico")
    write_icon(target)
    print(target)


if __name__ == "__main__":
    main()
