#!/usr/bin/env python3
"""Draws the installer's icon and writes it as resources/installer.ico.

The icon is a blue rounded tile with a white arrow pointing down into an open
tray: files coming out of the installer. It is drawn from geometry alone, so
the file is the same byte for byte on every run:

    python3 resources/make_icon.py            # rewrites resources/installer.ico
    python3 resources/make_icon.py --check    # fails when the file is stale

Images: 16, 32 and 48 pixels square, 32 bits per pixel (BGRA with alpha) and
the 1-bit AND mask that older systems use.
"""
import os
import struct
import sys

SIZES = (16, 32, 48)
TILE = (0x1F, 0x5F, 0xB4)       # RGB of the tile
TILE_EDGE = (0x12, 0x3D, 0x78)  # its one-pixel rim
WHITE = (0xFF, 0xFF, 0xFF)
SUPERSAMPLE = 4                 # samples per pixel edge, for smooth edges


def inside_rounded_square(x, y, radius):
    """x, y in [0, 1]; corners rounded with `radius`."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    shaft = 0.42 <= x <= 0.58 and 0.14 <= y <= 0.48
    head_top, head_tip = 0.44, 0.66
    if head_top <= y <= head_tip:
        half = 0.22 * (head_tip - y) / (head_tip - head_top)
        if abs(x - 0.5) <= half:
            return True
    return shaft


def inside_tray(x, y):
    floor = 0.22 <= x <= 0.78 and 0.76 <= y <= 0.84
    left = 0.22 <= x <= 0.30 and 0.60 <= y <= 0.84
    right = 0.70 <= x <= 0.78 and 0.60 <= y <= 0.84
    return floor or left or right


def shade(x, y):
    """Colour and coverage (0 or 1) of one sample point."""
    if not inside_rounded_square(x, y, 0.2):
        return None
    if inside_arrow(x, y) or inside_tray(x, y):
        return WHITE
    edge = 0.04  # width of the rim, as a fraction of the icon
    xi, yi = (x - edge) / (1 - 2 * edge), (y - edge) / (1 - 2 * edge)
    if not (0 <= xi <= 1 and 0 <= yi <= 1 and inside_rounded_square(xi, yi, 0.18)):
        return TILE_EDGE
    return TILE


def render(size):
    """Rows top to bottom of (r, g, b, a)."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(n):
                for sx in range(n):
                    colour = shade((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if colour:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        hits += 1
            if hits:
                row.append((r // hits, g // hits, b // hits, hits * 255 // (n * n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bitmap(size):
    """The icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:  # transparent where the alpha is below half
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + pixels + bytes(mask)


def icon_file():
    images = [bitmap(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "installer.ico")
    data = icon_file()
    if "--check" in sys.argv:
        with open(target, "rb") as f:
            if f.read() != data:
                sys.exit("installer.ico is stale: run resources/make_icon.py")
        return
    with open(target, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
