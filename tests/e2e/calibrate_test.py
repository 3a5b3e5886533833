"""The whole job in the real program under an X server, driven by real input: open a scan whose
grid came out bent, state the grid in centimetres, drag its nodes onto the bent crossings,
calibrate, save the grid and the raster. The saved raster must equal what velmora-cli calibrate
makes from the saved grid; restarted, the program must read the grid back with its nodes.

Usage: calibrate_test.py VELMORA VELMORA_CLI OUTPUT_FOLDER (run under xvfb-run)."""

import json
import os
import subprocess
import sys
import tempfile

from driver import Program, ViewMapping, find_border, read_bmp, write_bmp

WIDTH, HEIGHT = 600, 450
ORIGIN, STEP = (100, 75), (200, 150)  # the reference lattice: 2 × 2 cells
# Where the scan shows each crossing (i, j), off the lattice by the bending of the sheet.
BENT = {(0, 0): (96, 81), (1, 0): (304, 70), (2, 0): (509, 79),
        (0, 1): (105, 228), (1, 1): (292, 232), (2, 1): (503, 219),
        (0, 2): (98, 370), (1, 2): (306, 381), (2, 2): (495, 372)}


def reference(i, j):
    return ORIGIN[0] + i * STEP[0], ORIGIN[1] + j * STEP[1]


def bent_sheet():
    """A light sheet with dark lines through the bent crossings, two pixels wide."""
    lines = []
    for j in range(3):
        lines += [(BENT[i, j], BENT[i + 1, j]) for i in range(2)]
    for i in range(3):
        lines += [(BENT[i, j], BENT[i, j + 1]) for j in range(2)]

    def near(x, y):
        for (x0, y0), (x1, y1) in lines:
            dx, dy = x1 - x0, y1 - y0
            t = max(0, min(1, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
            if (x0 + t * dx - x) ** 2 + (y0 + t * dy - y) ** 2 <= 1.1:
                return True
        return False

    def pixel(x, y):
        if near(x, y):
            return (40, 30, 30)
        return (240 - (x // 7) % 20, 232 - (y // 9) % 16, 214)

    return pixel


def main():
    program, cli, out = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(out, exist_ok=True)
    work = tempfile.mkdtemp()
    scan = os.path.join(work, "bent.bmp")
    grid_file = os.path.join(work, "bent grid.json")
    calibrated = os.path.join(work, "straight.bmp")
    write_bmp(scan, WIDTH, HEIGHT, bent_sheet(), resolution=3780)

    velmora = Program(program, scan)
    velmora.wait_title("bent.bmp")
    velmora.key("ctrl+0")
    mapping = ViewMapping(find_border(velmora.screenshot()), WIDTH, HEIGHT)

    # The grid in centimetres of paper at 3780 dots per metre: 100, 75, 400 and 300 pixels.
    velmora.key("ctrl+g")
    velmora.fill_dialog("Параметры эталонной сетки", ["2.65", "1.98", "10.58", "7.94", "2", "2"])

    for (i, j), target in sorted(BENT.items()):
        during = None
        if (i, j) == (2, 2):
            during = lambda: velmora.screenshot(os.path.join(out, "calibrator_drag.png"))
        velmora.drag(mapping.screen(*reference(i, j)), mapping.screen(*target), during=during)
    velmora.screenshot(os.path.join(out, "calibrator_grid.png"))

    velmora.key("F9")
    velmora.wait_idle()
    velmora.key("ctrl+shift+g")
    velmora.type_into_dialog("Сохранение сетки", grid_file)
    velmora.key("ctrl+shift+s")
    velmora.type_into_dialog("Сохранение растра", calibrated)
    velmora.wait_title("straight.bmp")
    velmora.screenshot(os.path.join(out, "calibrated.png"))
    assert velmora.close() == 0

    saved = json.load(open(grid_file))
    nodes = {(n["i"], n["j"]): (n["x"], n["y"]) for n in saved["nodes"]}
    for key, target in BENT.items():
        got = nodes.get(key, reference(*key))
        assert abs(got[0] - target[0]) <= 2 and abs(got[1] - target[1]) <= 2, (key, got, target)

    by_cli = os.path.join(work, "by cli.bmp")
    subprocess.run([cli, "calibrate", scan, by_cli, "--grid", grid_file, "--quiet"], check=True)
    window_image, window_resolution = read_bmp(calibrated)
    cli_image, cli_resolution = read_bmp(by_cli)
    assert window_resolution == cli_resolution
    assert window_image.tobytes() == cli_image.tobytes(), "the window and the CLI calibrate apart"

    # Restarted, the program reads the grid back with its nodes.
    velmora = Program(program, scan)
    velmora.wait_title("bent.bmp")
    velmora.key("ctrl+shift+o")
    velmora.type_into_dialog("Открытие сетки", grid_file)
    again = os.path.join(work, "again.json")
    velmora.key("ctrl+shift+g")
    velmora.type_into_dialog("Сохранение сетки", again)
    assert velmora.close() == 0
    assert json.load(open(again)) == saved, "the grid did not come back"
    print("calibrate: nodes", nodes)


if __name__ == "__main__":
    main()
