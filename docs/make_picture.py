#!/usr/bin/python3
"""Makes the README's picture: a synthetic scan of a sheet whose reference grid came out bent,
and what velmora-cli calibrate makes of it. Run from the repository root after a build:
    /usr/bin/python3 docs/make_picture.py build/test/src/cli/velmora-cli"""
import json, math, os, subprocess, sys, tempfile
from PIL import Image, ImageDraw

cli = sys.argv[1]
W, H, CX, CY, STEP, ORIGIN = 640, 480, 5, 4, 100, (70, 40)


def bend(x, y):
    """Where the scanner put the sheet's point (x, y)."""
    return (x + 9 * math.sin(y / 130) + 0.03 * (y - 240),
            y + 7 * math.sin(x / 160) - 0.02 * (x - 320))


def unbend(x, y):
    """The sheet's point that the scan shows at (x, y), by fixed-point iteration."""
    sx, sy = x, y
    for _ in range(20):
        bx, by = bend(sx, sy)
        sx, sy = sx + x - bx, sy + y - by
    return sx, sy


sheet = Image.new("RGB", (W, H), "white")
draw = ImageDraw.Draw(sheet)
for i in range(CX + 1):
    x = ORIGIN[0] + i * STEP
    draw.line([(x, ORIGIN[1]), (x, ORIGIN[1] + CY * STEP)], fill=(20, 40, 120), width=2)
for j in range(CY + 1):
    y = ORIGIN[1] + j * STEP
    draw.line([(ORIGIN[0], y), (ORIGIN[0] + CX * STEP, y)], fill=(20, 40, 120), width=2)
draw.line([(90, 400), (200, 300), (330, 330), (430, 180), (560, 120)], fill=(170, 40, 30), width=4)
draw.ellipse([(250, 110), (350, 190)], outline=(30, 120, 40), width=3)
draw.polygon([(420, 300), (520, 280), (540, 390), (440, 410)], outline=(120, 80, 20), width=3)

scan = Image.new("RGB", (W, H), "white")
pixels, source = scan.load(), sheet.load()
for y in range(H):
    for x in range(W):
        sx, sy = unbend(x + 0.5, y + 0.5)
        if 0 <= sx < W and 0 <= sy < H:
            pixels[x, y] = source[int(sx), int(sy)]

with tempfile.TemporaryDirectory() as tmp:
    scan_bmp, flat_bmp = os.path.join(tmp, "scan.bmp"), os.path.join(tmp, "flat.bmp")
    scan.save(scan_bmp)
    nodes = []
    for j in range(CY + 1):
        for i in range(CX + 1):
            x, y = bend(ORIGIN[0] + i * STEP, ORIGIN[1] + j * STEP)
            nodes.append({"i": i, "j": j, "x": round(x), "y": round(y)})
    grid = os.path.join(tmp, "grid.json")
    json.dump({"cells": [CX, CY], "origin": list(ORIGIN), "step": [STEP, STEP], "nodes": nodes},
              open(grid, "w"))
    subprocess.run([cli, "calibrate", scan_bmp, flat_bmp, "--grid", grid, "--quiet"], check=True)
    pictures = []
    for name in (scan_bmp, flat_bmp):
        png = name + ".png"
        subprocess.run([cli, "render", name, png, "--quiet"], check=True)
        pictures.append(Image.open(png).convert("RGB"))

out = Image.new("RGB", (2 * W + 24, H + 36), (240, 240, 240))
label = ImageDraw.Draw(out)
for k, (picture, text) in enumerate(zip(pictures, ("scan: the grid came out bent",
                                                   "after velmora-cli calibrate"))):
    out.paste(picture, (k * (W + 24), 36))
    label.text((k * (W + 24) + 8, 10), text, fill=(0, 0, 0))
out.save(os.path.join(os.path.dirname(__file__), "calibration.png"), optimize=True)
