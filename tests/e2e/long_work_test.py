"""Long work in the real program under an X server, driven by real input: a large scan is
calibrated with F9 pressed twice at once, and saved; while each runs, a BMP file is dragged onto the
window from another program and dropped. The drops must be refused without a crash or a question,
the saved raster must equal what velmora-cli calibrate makes byte for byte (calibrated once, not
twice), and no temporary ".~bm" file may be left.

Usage: long_work_test.py VELMORA VELMORA_CLI DRAG_SOURCE OUTPUT_FOLDER (run under xvfb-run)."""

import filecmp
import glob
import json
import os
import struct
import subprocess
import sys
import tempfile
import time

from driver import DragSource, Program, run, write_bmp

# Large enough that calibrating and saving it take a few seconds.
WIDTH, HEIGHT = 12000, 12000
GRID = {"cells": [3, 3], "origin": [1000, 800], "step": [3300, 3400],
        "nodes": [{"i": 1, "j": 1, "x": 4390, "y": 4120}, {"i": 2, "j": 1, "x": 7540, "y": 4260},
                  {"i": 1, "j": 2, "x": 4250, "y": 7660}, {"i": 2, "j": 2, "x": 7660, "y": 7530}]}


def write_large_scan(path):
    """A 24-bit BMP whose rows differ, written in large pieces."""
    row = WIDTH * 3
    base = bytes((i * 7 + (i >> 8)) & 255 for i in range(row + 4096))
    rows = [base[k:k + row] for k in range(0, 4096, 61)]
    size = row * HEIGHT
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", (54 + size) & 0xFFFFFFFF, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, size & 0xFFFFFFFF,
                            3780, 3780, 0, 0))
        for y in range(0, HEIGHT, 64):
            f.write(b"".join(rows[(y + k) % len(rows)] for k in range(min(64, HEIGHT - y))))


def open_dialog_when_idle(velmora, keys, title, timeout=120):
    """Presses the keys until their dialog opens: while long work runs, the command does nothing."""
    end = time.time() + timeout
    while time.time() < end:
        velmora.key(keys)
        try:
            return velmora.wait_window(title, timeout=2)
        except RuntimeError:
            pass
    raise RuntimeError(f"{title!r} never opened")


def main():
    program, cli, drag_source, out = sys.argv[1:5]
    os.makedirs(out, exist_ok=True)
    work = tempfile.mkdtemp()
    scan = os.path.join(work, "large.bmp")
    other = os.path.join(work, "other.bmp")
    grid = os.path.join(work, "grid.json")
    calibrated = os.path.join(work, "calibrated.bmp")
    write_large_scan(scan)
    write_bmp(other, 40, 30, lambda x, y: (200, 0, 0))
    with open(grid, "w") as f:
        json.dump(GRID, f)

    velmora = Program(program, scan)
    velmora.wait_title("large.bmp")
    velmora.key("ctrl+shift+o")
    velmora.type_into_dialog("Открытие сетки", grid)
    centre = (600, 450)

    # F9 twice at once, then a file dropped while the calibration runs.
    source = DragSource(drag_source, other)
    run("xdotool", "windowfocus", "--sync", velmora.window, check=False)
    run("xdotool", "key", "F9", "F9")
    answer = source.drop(centre, lambda: velmora.screenshot(
        os.path.join(out, "drop_during_calibration.png")))
    assert answer == "refused", f"a drop during the calibration was {answer}"

    dialog = open_dialog_when_idle(velmora, "ctrl+shift+s", "Сохранение растра")
    run("xdotool", "windowfocus", "--sync", dialog, check=False)
    run("xdotool", "key", "ctrl+a")
    run("xdotool", "type", "--delay", "5", calibrated)
    source = DragSource(drag_source, other)
    run("xdotool", "windowfocus", "--sync", dialog, check=False)
    run("xdotool", "key", "Return")
    answer = source.drop(centre, lambda: velmora.screenshot(
        os.path.join(out, "drop_during_save.png")))
    assert answer == "refused", f"a drop during the save was {answer}"
    velmora.wait_title("calibrated.bmp", timeout=120)
    assert velmora.close() == 0
    assert not glob.glob(os.path.join(work, "*.~bm")), "a temporary file was left"

    by_cli = os.path.join(work, "by cli.bmp")
    subprocess.run([cli, "calibrate", scan, by_cli, "--grid", grid, "--quiet"], check=True)
    assert filecmp.cmp(calibrated, by_cli, shallow=False), "the window and the CLI calibrate apart"
    print("long work: both drops refused; calibrated once, as velmora-cli calibrates")


if __name__ == "__main__":
    main()
