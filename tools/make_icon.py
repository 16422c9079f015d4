#!/usr/bin/env python3
"""Writes the setup program's icon: nine 32-bit images, 16 to 64 pixels."""
import struct
import sys

# Small sizes only: the image of install.exe must stay compact.
SIZES = (16, 20, 24, 28, 32, 40, 48, 56, 64)


def image(size):
    # A blue disk platter with a lighter journal ring, on a transparent ground.
    pixels = bytearray()
    centre = (size - 1) / 2.0
    outer, ring, hub = size * 0.47, size * 0.30, size * 0.10
    for y in range(size - 1, -1, -1):  # bottom-up rows
        for x in range(size):
            d = ((x - centre) ** 2 + (y - centre) ** 2) ** 0.5
            if d > outer:
                pixels += bytes((0, 0, 0, 0))
            elif d < hub:
                pixels += bytes((230, 230, 230, 255))
            elif abs(d - ring) < max(1.0, size * 0.04):
                pixels += bytes((255, 200, 120, 255))
            else:
                pixels += bytes((170, 90, 20, 255))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0,
                         len(pixels) + mask_row * size, 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask_row * size)


def main(path):
    images = [image(s) for s in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1])
