#!/usr/bin/env python3
"""Draws the installer's icon and writes it as resources/installer.ico.

The icon is a blue rounded tile with a white arrow pointing down into an open
tray: files coming out of the installer. It is drawn from geometry alone, so
the file is the same byte for byte on every run:

    python3 resources/make_icon.py            # rewrites resources/installer.ico
    python3 resources/make_icon.py --check    # fails when the file is stale

Images: 16, 32 and 48 pixels square, RGBA, each stored as a PNG, which
Windows reads from Vista on: about a fifteenth of the size of the same images
as bitmaps, in a file that every installer carries. `--check` compares the
images' pixels, so that another build of zlib, which may pack them
differently, does not make the file stale.
"""
import os
import struct
import sys
import zlib

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


def raw_image(size):
    """The PNG image data before compression: each row its filter byte (0, none)
    and its RGBA pixels."""
    return b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in render(size))


def png_header(size):
    """IHDR: 8 bits per sample, RGBA, no interlacing."""
    return struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png(size):
    return (PNG_SIGNATURE + png_chunk(b"IHDR", png_header(size)) +
            png_chunk(b"IDAT", zlib.compress(raw_image(size), 9)) + png_chunk(b"IEND", b""))


def icon_file():
    images = [png(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def decoded_images(data):
    """(header, pixels) of each image of an icon file written by icon_file."""
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for i in range(count):
        length, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        image = data[offset:offset + length]
        if not image.startswith(PNG_SIGNATURE):
            return None
        chunks, at = {}, len(PNG_SIGNATURE)
        while at < len(image):
            size = struct.unpack_from(">I", image, at)[0]
            chunks[image[at + 4:at + 8]] = image[at + 8:at + 8 + size]
            at += 12 + size
        images.append((chunks.get(b"IHDR"), zlib.decompress(chunks.get(b"IDAT", b""))))
    return images


def main():
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "installer.ico")
    data = icon_file()
    if "--check" in sys.argv:
        with open(target, "rb") as f:
            stored = f.read()
        try:
            current = decoded_images(stored) == [(png_header(size), raw_image(size)) for size in SIZES]
        except (struct.error, zlib.error):
            current = False
        if not current:
            sys.exit("installer.ico is stale: run resources/make_icon.py")
        return
    with open(target, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
