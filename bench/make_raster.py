#!/usr/bin/env python3
"""Writes an uncompressed BMP of the given size and depth (8 or 24 bits) filled with a pattern
that differs from row to row: make_raster.py FILE WIDTH HEIGHT BITS"""
import struct
import sys


def main():
    path, width, height, bits = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    if bits not in (8, 24):
        sys.exit("bits must be 8 or 24")
    row_size = (width * bits + 31) // 32 * 4
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256)) if bits == 8 else b""
    offset = 54 + len(palette)
    image_size = row_size * height
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", (offset + image_size) & 0xFFFFFFFF, 0, 0, offset))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0,
                            image_size & 0xFFFFFFFF, 11811, 11811, 256 if bits == 8 else 0, 0))
        f.write(palette)
        base = bytes((i * 7 + (i >> 8)) & 255 for i in range(row_size + 4096))
        rows = [base[k:k + row_size] for k in range(0, 4096, 61)]
        chunk = []
        for y in range(height):
            chunk.append(rows[y % len(rows)])
            if len(chunk) == 64:
                f.write(b"".join(chunk))
                chunk = []
        f.write(b"".join(chunk))


if __name__ == "__main__":
    main()
