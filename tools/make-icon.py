#!/usr/bin/env python3
"""Draws Dirshift's icon (a folder, an arrow, and a drive that receives it) and writes
resources/dirshift.ico in 24-bit colour, in every size Windows asks for at 100 % to
200 % display scale: 16, 20, 24 (small icons), 32, 40, 48, 64 (window and Explorer
icons) and 256 (Explorer's largest views).

Usage: tools/make-icon.py [output.ico]
Shapes are described on a 48-unit grid and rendered at 4x, then reduced; a pixel is
opaque when most of its samples are covered (24-bit icons carry a 1-bit mask only)."""
import struct
import sys

SS = 4  # samples per pixel per axis
SIZES = (16, 20, 24, 32, 40, 48, 64, 256)

FOLDER_BACK = (0xD8, 0x9B, 0x2A)
FOLDER_FRONT = (0xF6, 0xC4, 0x4F)
FOLDER_EDGE = (0x9A, 0x68, 0x10)
ARROW = (0x1E, 0x88, 0x3C)
ARROW_EDGE = (0x0F, 0x55, 0x22)
DRIVE_BODY = (0x8C, 0x95, 0xA3)
DRIVE_FACE = (0x5A, 0x63, 0x70)
DRIVE_EDGE = (0x33, 0x3A, 0x44)
DRIVE_LED = (0x3C, 0xE0, 0x5A)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            if (ay > y) != (by > y):
                cross = ax + (y - ay) * (bx - ax) / (by - ay)
                if x < cross:
                    hit = not hit
        return hit
    return inside


def outlined(shape, inner, fill, edge):
    """Paint `shape` in `edge` and the slightly smaller `inner` in `fill`."""
    return [(shape, edge), (inner, fill)]


# Layers, painted in order on a 48 x 48 grid.
LAYERS = (
    # Folder (upper left): tab, back, front flap.
    outlined(polygon([(2, 6), (12, 6), (15, 9), (26, 9), (26, 27), (2, 27)]),
             polygon([(3, 7), (11.5, 7), (14.5, 10), (25, 10), (25, 26), (3, 26)]),
             FOLDER_BACK, FOLDER_EDGE)
    + outlined(polygon([(2, 13), (27, 13), (26, 27), (2, 27)]),
               polygon([(3, 14), (25.8, 14), (25, 26), (3, 26)]),
               FOLDER_FRONT, FOLDER_EDGE)
    # Drive (lower right).
    + outlined(rect(18, 33, 47, 46), rect(19, 34, 46, 45), DRIVE_BODY, DRIVE_EDGE)
    + [(rect(20, 40, 45, 44), DRIVE_FACE), (rect(40, 41, 43, 43), DRIVE_LED)]
    # Arrow from the folder down to the drive.
    + outlined(polygon([(30, 12), (35, 12), (35, 24), (41, 24), (32.5, 33), (24, 24), (30, 24)]),
               polygon([(31, 13), (34, 13), (34, 25), (38.6, 25), (32.5, 31.5), (26.4, 25), (31, 25)]),
               ARROW, ARROW_EDGE)
)


def render(size):
    """Returns rows (top first) of (r, g, b, opaque) pixels."""
    scale = 48.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            covered = 0
            for sy in range(SS):
                for sx in range(SS):
                    x = (px + (sx + 0.5) / SS) * scale
                    y = (py + (sy + 0.5) / SS) * scale
                    colour = None
                    for shape, fill in LAYERS:
                        if shape(x, y):
                            colour = fill
                    if colour is not None:
                        covered += 1
                        for i in range(3):
                            acc[i] += colour[i]
            opaque = covered * 2 >= SS * SS
            if covered:
                row.append(tuple(c // covered for c in acc) + (opaque,))
            else:
                row.append((0, 0, 0, False))
        rows.append(row)
    return rows


def dib(size):
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    colour_stride = (size * 3 + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        bits = bytearray(mask_stride)
        for x, (r, g, b, opaque) in enumerate(row):
            line += bytes((b, g, r) if opaque else (0, 0, 0))
            if not opaque:
                bits[x // 8] |= 0x80 >> (x % 8)
        line += bytes(colour_stride - len(line))
        colour += line
        mask += bits
    return header + bytes(colour) + bytes(mask)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'resources/dirshift.ico'
    images = [(size, dib(size)) for size in SIZES]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        # A directory entry holds 0 for 256.
        data += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 24, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        data += blob
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
