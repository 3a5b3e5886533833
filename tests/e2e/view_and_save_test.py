"""The real program under an X server, driven by real input: open a scan from the command line,
fit it, zoom in with the wheel, pan with the right button, save it under a new name through the
save dialog, and check the saved file's pixels and resolution.

Usage: view_and_save_test.py VELMORA OUTPUT_FOLDER (run under xvfb-run)."""

import os
import sys
import tempfile

from driver import Program, ViewMapping, find_border, read_bmp, write_bmp

WIDTH, HEIGHT = 480, 320


def pattern(x, y):
    if x % 40 == 0 or y % 40 == 0:
        return (20, 20, 20)
    return (200 - (x * 3) % 90, 180 - (y * 5) % 70, 120 + (x + y) % 100)


def main():
    program, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    work = tempfile.mkdtemp()
    scan = os.path.join(work, "scan.bmp")
    saved = os.path.join(work, "saved copy.bmp")
    write_bmp(scan, WIDTH, HEIGHT, pattern, resolution=3780)

    velmora = Program(program, scan)
    velmora.wait_title("scan.bmp")

    # Fitted: the whole raster with an eighth of it free around.
    velmora.key("ctrl+0")
    fitted = find_border(velmora.screenshot())
    width, height = fitted[2] - fitted[0], fitted[3] - fitted[1]
    assert abs(width / height - WIDTH / HEIGHT) < 0.02, (width, height)

    # The wheel zooms in by 1.5 about the point under the mouse, which stays there: the raster's
    # corner moves away from it by half as much again.
    point = ViewMapping(fitted, WIDTH, HEIGHT).screen(WIDTH // 10, HEIGHT // 10)
    velmora.wheel(*point, up=True)
    zoomed = find_border(velmora.screenshot())
    expected = (point[0] + (fitted[0] - point[0]) * 1.5, point[1] + (fitted[1] - point[1]) * 1.5)
    assert abs(zoomed[0] - expected[0]) <= 2 and abs(zoomed[1] - expected[1]) <= 2, (
        fitted, point, zoomed)

    # A drag with the right button pans the picture by as much and opens no menu.
    velmora.drag(point, (point[0] + 90, point[1] + 40), button=3)
    panned = find_border(velmora.screenshot(os.path.join(out, "view_and_save.png")))
    assert abs(panned[0] - zoomed[0] - 90) <= 1 and abs(panned[1] - zoomed[1] - 40) <= 1, (
        zoomed, panned)

    # Save as, through the save dialog.
    velmora.key("ctrl+shift+s")
    velmora.type_into_dialog("Сохранение растра", saved)
    velmora.wait_title("saved copy.bmp")
    image, resolution = read_bmp(saved)
    original, _ = read_bmp(scan)
    assert resolution == (3780, 3780), resolution
    assert image.tobytes() == original.tobytes(), "the saved pixels differ"

    assert velmora.close() == 0
    print("view and save: fitted", fitted, "zoomed", zoomed, "panned", panned)


if __name__ == "__main__":
    main()
