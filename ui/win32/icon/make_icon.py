#!/usr/bin/env python3
"""Builds kelvane.ico (a 32 x 32 and a 16 x 16 image, 16 colours) from antenna.svg.

ImageMagick's `convert` rasterises the drawing at each size; each pixel then
takes the nearest colour of the standard 16-colour palette, and pixels less
than half covered become transparent through the icon's AND mask.

    python3 ui/win32/icon/make_icon.py [source.svg] [output.ico]
"""
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (32, 16)

# The Windows 16-colour palette, in index order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def rasterise(svg, size):
    """RGBA bytes, rows top to bottom."""
    # The drawing is 32 units of 1/96 inch. It is drawn eight times larger and
    # then averaged down: the renderer fills one pixel past a shape's far
    # edge, which at the final size would thicken every line by a pixel.
    density = str(96 * 8 * size // 32)
    rgba = subprocess.run(
        ["convert", "-background", "none", "-density", density, svg,
         "-filter", "box", "-resize", f"{size}x{size}!", "-depth", "8", "rgba:-"],
        check=True, capture_output=True).stdout
    if len(rgba) != size * size * 4:
        raise SystemExit(f"convert gave {len(rgba)} bytes for {size}x{size}")
    return rgba


def nearest(rgb):
    return min(range(len(PALETTE)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(rgb, PALETTE[i])))


def row_stride(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def icon_image(rgba, size):
    """BITMAPINFOHEADER, palette, 4-bit colour rows and 1-bit mask rows, bottom-up."""
    indexes, mask = [], []
    for y in range(size):
        for x in range(size):
            r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
            opaque = a >= 128
            indexes.append(nearest((r, g, b)) if opaque else 0)
            mask.append(0 if opaque else 1)

    colour_rows, mask_rows = [], []
    for y in reversed(range(size)):
        row = indexes[y * size:(y + 1) * size]
        packed = bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
        colour_rows.append(packed.ljust(row_stride(size * 4), b"\0"))
        bits = mask[y * size:(y + 1) * size]
        packed = bytes(sum(bit << (7 - k) for k, bit in enumerate(bits[x:x + 8]))
                       for x in range(0, size, 8))
        mask_rows.append(packed.ljust(row_stride(size), b"\0"))

    colour = b"".join(colour_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colour) + len(b"".join(mask_rows)), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + colour + b"".join(mask_rows)


def main():
    svg = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "antenna.svg")
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "kelvane.ico")
    images = [icon_image(rasterise(svg, s), s) for s in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        directory += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    with open(out, "wb") as f:
        f.write(directory + b"".join(images))


if __name__ == "__main__":
    main()
