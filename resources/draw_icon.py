#!/usr/bin/env python3
"""Draws the program's icon into setup.ico beside this script.

The mark: a white "Q" (a ring with a tail) on a rounded square that runs from blue to violet.
Every size is drawn from the same shapes with 4 x 4 supersampling, 32-bit with alpha; the
256-pixel image is stored as PNG, the others as DIBs, the way Windows icons usually are.
Run it by hand after changing the artwork and commit the result; the build only reads the .ico.
"""
import math
import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
SAMPLES = 4
TOP, BOTTOM = (0x1F, 0x6F, 0xEB), (0x6A, 0x2B, 0xD8)


def rounded_square(x, y):
    """Signed distance to the background square (corner radius 0.2, margin 0.03)."""
    half, radius = 0.47, 0.2
    qx = abs(x - 0.5) - half + radius
    qy = abs(y - 0.5) - half + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def letter(x, y):
    """Signed distance to the white Q: a ring, cut open where a short tail crosses it."""
    ring = abs(math.hypot((x - 0.48) / 0.94, y - 0.47) - 0.25) - 0.07
    ax, ay, bx, by = 0.53, 0.62, 0.78, 0.81
    t = max(0.0, min(1.0, ((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / ((bx - ax) ** 2 + (by - ay) ** 2)))
    tail = math.hypot(x - (ax + t * (bx - ax)), y - (ay + t * (by - ay))) - 0.065
    gap = tail - 0.045
    return min(max(ring, -gap), tail)


def render(size):
    """Rows of (r, g, b, a) tuples, top row first."""
    rows = []
    step = 1.0 / (size * SAMPLES)
    for py in range(size):
        row = []
        for px in range(size):
            cover = white = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px * SAMPLES + sx + 0.5) * step
                    y = (py * SAMPLES + sy + 0.5) * step
                    if rounded_square(x, y) <= 0:
                        cover += 1
                        white += letter(x, y) <= 0
            shade = (py + 0.5) / size
            base = [a + (b - a) * shade for a, b in zip(TOP, BOTTOM)]
            if cover:
                mix = white / cover
                rgb = [round(c + (255 - c) * mix) for c in base]
            else:
                rgb = [0, 0, 0]
            row.append((*rgb, round(255 * cover / SAMPLES ** 2)))
        rows.append(row)
    return rows


def as_dib(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask = bytes(((size + 31) // 32) * 4 * size)  # all visible: the alpha channel decides
    return header + pixels + mask


def as_png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, as_png(size, rows) if size == 256 else as_dib(size, rows)))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "setup.ico")
    with open(target, "wb") as out:
        out.write(directory + b"".join(data for _, data in images))
    print(target)


if __name__ == "__main__":
    main()
