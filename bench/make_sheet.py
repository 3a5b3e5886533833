#!/usr/bin/python3
"""Writes a synthetic scan of a large map sheet as an uncompressed 24-bit BMP, band by band, so that
sheets far larger than memory are made quickly: paper tone with the noise of a scanner, a printed
grid of dark lines every STEP pixels, wavy contour lines, woods and a river.

    make_sheet.py FILE WIDTH HEIGHT [STEP]"""
import struct
import sys

import numpy as np

PAPER = np.array([219, 237, 243], dtype=np.int16)  # blue, green, red: as a BMP stores them
INK = np.array([40, 36, 38], dtype=np.int16)
WOOD = np.array([184, 226, 203], dtype=np.int16)
RELIEF = np.array([70, 118, 176], dtype=np.int16)
WATER = np.array([178, 112, 58], dtype=np.int16)


def band(y0, rows, width, step, rng):
    """Rows y0 .. y0 + rows - 1 of the sheet, top first, as blue, green, red bytes."""
    y = np.arange(y0, y0 + rows, dtype=np.float32)[:, None]
    x = np.arange(width, dtype=np.float32)[None, :]
    pixels = np.broadcast_to(PAPER, (rows, width, 3)).copy()
    woods = (np.sin(x / 900.0) + np.cos(y / 700.0)) > 1.2
    pixels[woods] = WOOD
    relief = np.abs(np.sin((x + 2 * y) / 160.0 + np.sin(x / 1300.0) * 3)) < 0.02
    pixels[relief] = RELIEF
    river = np.abs(y - (0.55 * 22000 + 900 * np.sin(x / 2500.0))) < 9
    pixels[np.broadcast_to(river, (rows, width))] = WATER
    grid = (np.abs((x + 20) % step - 20) < 2) | (np.abs((y + 20) % step - 20) < 2)
    pixels[np.broadcast_to(grid, (rows, width))] = INK
    pixels += rng.integers(-4, 5, size=(rows, width, 3), dtype=np.int16)
    return np.clip(pixels, 0, 255).astype(np.uint8)


def main():
    path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    step = int(sys.argv[4]) if len(sys.argv) > 4 else 1000
    row_size = (width * 3 + 3) // 4 * 4
    image_size = row_size * height
    rng = np.random.default_rng(26)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", (54 + image_size) & 0xFFFFFFFF, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, image_size & 0xFFFFFFFF,
                            11811, 11811, 0, 0))
        # Bottom-up: the last band first, each band's rows from its bottom.
        rows = 256
        for y0 in range((height - 1) // rows * rows, -1, -rows):
            pixels = band(y0, min(rows, height - y0), width, step, rng)
            padded = np.zeros((pixels.shape[0], row_size), dtype=np.uint8)
            padded[:, :width * 3] = pixels.reshape(pixels.shape[0], -1)
            f.write(padded[::-1].tobytes())


if __name__ == "__main__":
    main()
