#!/usr/bin/python3
"""Makes the pictures of georeferencing for the README (docs/georef_*.png) and the help
(help/img/grid_map.png, help/img/status_map.png) from the real programs: the grid parameters dialog
with its section "Координаты на карте" filled in and the status bar with the map coordinates under
the pointer, under an X server as docs/make_screenshots.py makes its pictures, and the map sheet calibrated by velmora-cli and placed on the map, drawn with the map coordinates
that GDAL (gdalinfo) reads from the result and its world file. From the repository root, after a
build:

    /usr/bin/python3 docs/make_georef_pictures.py build/test/src/app/velmora build/test/src/cli/velmora-cli
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import map_sheet  # noqa: E402
from make_screenshots import HELP, DOCS, Session, save  # noqa: E402
from driver import run, start_window_manager, window_picture  # noqa: E402

# The sheet's kilometre grid: Gauss-Krüger zone 7, a line every 2 km.
CRS = "EPSG:28407"
EAST, NORTH, STEP = 7402000, 6208000, 2000
# The status bar's left part in the picture of it: the three coordinate panels.
STATUS_WIDTH, STATUS_HEIGHT = 560, 26


def dialog_picture(s):
    """The grid stated in centimetres and placed on the map; the dialog's picture."""
    s.velmora.key("ctrl+g")
    title = "Параметры эталонной сетки"
    run("xdotool", "windowfocus", "--sync", s.velmora.wait_window(title), check=False)
    for value in [*(f"{v:g}".replace(".", ",") for v in map_sheet.GRID_CM),
                  *map(str, map_sheet.CELLS)]:
        run("xdotool", "key", "ctrl+a")
        run("xdotool", "type", "--delay", "5", value)
        run("xdotool", "key", "Tab")
    run("xdotool", "key", "space", "Tab")
    run("xdotool", "type", "--delay", "20", "28407")
    s.velmora.settle(0.5)
    run("xdotool", "key", "Down", "Return", "Tab")
    for value in (EAST, NORTH, STEP, STEP):
        run("xdotool", "key", "ctrl+a")
        run("xdotool", "type", "--delay", "5", str(value))
        run("xdotool", "key", "Tab")
    save(s.dialog(title)[1], os.path.join(HELP, "grid_map.png"))
    s.keys("Return")


def status_picture(s):
    """The pointer on a node of the grid placed on the map: the left part of the status bar, with
    the pixel, the centimetres and the map coordinates under it."""
    x, y = s.mapping.screen(*s.reference(2, 1))
    s.velmora.move(x, y)
    s.velmora.settle(0.4)
    client = window_picture(s.velmora.window)
    save(client.crop((0, client.height - STATUS_HEIGHT, STATUS_WIDTH, client.height)),
         os.path.join(HELP, "status_map.png"))


def placed_on_the_map(cli, work):
    """The sheet calibrated and clipped to its grid's frame by velmora-cli, drawn with the map
    coordinates GDAL reads from the result: a frame with the kilometre lines labelled."""
    grid = os.path.join(work, "grid.json")
    left, top, width, height = map_sheet.GRID_CM
    with open(grid, "w") as f:
        json.dump({"cells": list(map_sheet.CELLS),
                   "paper": {"left": left, "top": top, "width": width, "height": height},
                   "map": {"crs": CRS, "x": EAST, "y": NORTH, "step": [STEP, STEP]}}, f)
    scan = os.path.join(work, "N-37-14-Б.bmp")
    flat = os.path.join(work, "flat.bmp")
    subprocess.run([cli, "calibrate", scan, flat, "--grid", grid, "--find-nodes",
                    "--clip-frame", "--quiet"], check=True)
    info = json.loads(run("gdalinfo", "-json", flat))
    t = info["geoTransform"]
    name = info["coordinateSystem"]["wkt"].split('"')[1]
    picture = Image.open(flat).convert("RGB")
    scale = 460 / picture.width
    picture = picture.resize((round(picture.width * scale), round(picture.height * scale)),
                             Image.LANCZOS)
    margin_left, margin_top, margin_right, margin_bottom = 48, 30, 24, 28
    canvas = Image.new("RGB", (picture.width + margin_left + margin_right,
                               picture.height + margin_top + margin_bottom), "white")
    canvas.paste(picture, (margin_left, margin_top))
    draw = ImageDraw.Draw(canvas)
    font = ImageFont.truetype(map_sheet.FONTS + "DejaVuSans.ttf", 11)
    draw.rectangle((margin_left - 1, margin_top - 1, margin_left + picture.width,
                    margin_top + picture.height), outline="black")
    width_m = t[1] * info["size"][0]
    height_m = -t[5] * info["size"][1]
    # The kilometre lines at whole steps, where GDAL's geotransform puts them.
    east = (t[0] // STEP + 1) * STEP
    while east < t[0] + width_m:
        x = margin_left + (east - t[0]) / t[1] * scale
        draw.line((x, margin_top + picture.height, x, margin_top + picture.height + 5), "black")
        label = f"{east / 1000:.0f}"
        draw.text((x - draw.textlength(label, font) / 2, margin_top + picture.height + 7), label,
                  "black", font)
        east += STEP
    north = (t[3] // STEP) * STEP
    while north > t[3] - height_m:
        y = margin_top + (t[3] - north) / -t[5] * scale
        draw.line((margin_left - 5, y, margin_left, y), "black")
        label = f"{north / 1000:.0f}"
        draw.text((margin_left - 8 - draw.textlength(label, font), y - 7), label, "black", font)
        north -= STEP
    title = ImageFont.truetype(map_sheet.FONTS + "DejaVuSans.ttf", 12)
    draw.text((margin_left, 8), f"{name}, км", "black", title)
    save(canvas, os.path.join(DOCS, "georef_map.png"))


def main():
    program, cli = map(os.path.abspath, sys.argv[1:3])
    if os.environ.get("VELMORA_PICTURES_SERVER") != "1":
        env = dict(os.environ, VELMORA_PICTURES_SERVER="1", QT_QPA_PLATFORM="xcb")
        os.execvpe("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x900x24", sys.executable,
                                os.path.abspath(__file__), program, cli], env)
    run("setxkbmap", "-layout", "us,ru")
    work = os.path.join(tempfile.gettempdir(), "velmora-georef-pictures")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    manager = start_window_manager()
    try:
        s = Session(program, work)
        dialog_picture(s)
        status_picture(s)
        s.velmora.process.kill()
    finally:
        if manager:
            manager.terminate()
    placed_on_the_map(cli, work)


if __name__ == "__main__":
    main()
