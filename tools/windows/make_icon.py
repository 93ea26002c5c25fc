#!/usr/bin/env python3
"""Draws the program's icon and writes it as a Windows .ico file (16, 32 and 48 pixels, 32-bit
colour with alpha), so that the build makes its icon itself instead of carrying a binary.

The picture: a blue rounded square with a white arrow pointing down onto a white bar, the
"download and install" of a repair.
"""
import struct
import sys

SIZES = (16, 32, 48)
BLUE = (0x1E, 0x6F, 0xD9)
WHITE = (0xFF, 0xFF, 0xFF)


def inside_rounded_square(x, y, size):
    """True when the centre of pixel (x, y) lies in the square with rounded corners."""
    radius = size * 0.22
    cx, cy = x + 0.5, y + 0.5
    nearest_x = min(max(cx, radius), size - radius)
    nearest_y = min(max(cy, radius), size - radius)
    return (cx - nearest_x) ** 2 + (cy - nearest_y) ** 2 <= radius * radius


def inside_arrow(x, y, size):
    """True for the white arrow (shaft, head) and the bar under it, in units of the size."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    shaft = 0.42 <= u <= 0.58 and 0.16 <= v <= 0.50
    head = 0.46 <= v <= 0.68 and abs(u - 0.5) <= (0.68 - v) * 1.2
    bar = 0.22 <= u <= 0.78 and 0.74 <= v <= 0.84
    return shaft or head or bar


def pixel(x, y, size):
    """The (red, green, blue, alpha) of pixel (x, y), y counted from the top."""
    if not inside_rounded_square(x, y, size):
        return (0, 0, 0, 0)
    red, green, blue = WHITE if inside_arrow(x, y, size) else BLUE
    return (red, green, blue, 0xFF)


def image_data(size):
    """One icon image: BITMAPINFOHEADER, the BGRA rows bottom-up, then the 1-bit AND mask."""
    rows = [[pixel(x, y, size) for x in range(size)] for y in range(size)]
    colour = b"".join(
        bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, alpha) in enumerate(row):
            if alpha == 0:  # transparent for systems that ignore the alpha channel
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + bytes(mask)


def icon_file(sizes=SIZES):
    """The whole .ico file: the directory, its entries, then the images in the same order."""
    images = [image_data(size) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data),
                               offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUTPUT.ico\n")
        return 2
    with open(argv[1], "wb") as out:
        out.write(icon_file())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
