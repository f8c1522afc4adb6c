#!/usr/bin/env python3
"""Makes the page's favicon.ico from the game's icon bitmaps (uncompressed BMP files): each
image goes in as its bitmap without the file header, twice as high, with an empty mask."""

import struct
import sys


def icon_image(path):
    with open(path, 'rb') as f:
        data = f.read()
    offset = struct.unpack_from('<I', data, 10)[0]
    header = bytearray(data[14:54])
    width, height = struct.unpack_from('<ii', header, 4)
    struct.pack_into('<i', header, 8, 2 * height)
    mask_row = ((width + 31) // 32) * 4
    return width, height, bytes(header) + data[54:offset] + data[offset:] + bytes(mask_row * height)


def main():
    out, sources = sys.argv[1], sys.argv[2:]
    images = [icon_image(path) for path in sources]
    ico = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    place = 6 + 16 * len(images)
    for width, height, body in images:
        ico += struct.pack('<BBBBHHII', width % 256, height % 256, 0, 0, 1, 24, len(body), place)
        place += len(body)
    for _, _, body in images:
        ico += body
    with open(out, 'wb') as f:
        f.write(ico)


if __name__ == '__main__':
    main()
