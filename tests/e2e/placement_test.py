"""Placing nodes to the pixel in the real program under an X server, driven by real input: the
search misses the crossings under two ink blots; the key N walks to each missed node and shows it
zoomed in; the first is dragged onto its crossing with the loupe beside the pointer and put right
with the arrows, the second is typed into the table of the nodes. The saved grid holds both
exactly. A grid with a node dragged past its neighbour is refused before calibrating.

Usage: placement_test.py VELMORA OUTPUT_FOLDER (run under xvfb-run)."""

import json
import os
import sys
import tempfile

from PIL import ImageChops

from driver import Program, ViewMapping, find_border, run, write_bmp
import calibrate_test as sheet

# The crossings the blots hide, and their nodes.
BLOTTED = [(1, 0), (1, 1)]
WORKING_ZOOM = 4  # logical pixels per raster pixel at which a node is shown
MAGENTA = (255, 0, 255)  # the mark of a node the search missed
HIGHLIGHT_MIN = 60  # how far a selected row's colour is from the table's white


def blotted_sheet():
    lines = sheet.bent_sheet()

    def pixel(x, y):
        for node in BLOTTED:
            bx, by = sheet.BENT[node]
            if (x - bx - 3) ** 2 + (y - by + 2) ** 2 <= 20 ** 2:
                return (30, 30, 90)
        return lines(x, y)

    return pixel


def truth(node):
    """The pixel the node belongs on: the one the scan's crossing lies in."""
    return sheet.BENT[node]


def answer_box(velmora):
    """Confirms the message box over the main window: the window of the program's title that is
    not the main window."""
    boxes = [w for w in run("xdotool", "search", "--onlyvisible", "--name", "Velmora").split()
             if w != velmora.window]
    assert boxes, "no message box"
    run("xdotool", "windowfocus", "--sync", boxes[-1], check=False)
    run("xdotool", "key", "Return")
    velmora.settle()
    return len(boxes)


def saved_grid(velmora, path):
    velmora.key("ctrl+shift+g")
    velmora.type_into_dialog("Сохранение сетки", path)
    data = json.load(open(path))
    return data, {(n["i"], n["j"]): (n["x"], n["y"]) for n in data["nodes"]}


def marked_node(picture, box):
    """The middle of the missed node's mark nearest the middle of a box of the screen."""
    pixels = picture.load()
    left, top, right, bottom = box
    cx, cy = (left + right) // 2, (top + bottom) // 2
    points = [(x, y) for x in range(cx - 40, cx + 41) for y in range(cy - 40, cy + 41)
              if pixels[x, y] == MAGENTA]
    assert points, "no mark of a missed node in the middle of the view"
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return (min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2


def edit_box(picture, mapping_border):
    """Where the edit window lies on the screen: around the raster's border as fitted."""
    left, top, right, bottom = mapping_border
    width, height = right - left, bottom - top
    return (left - width // 8, top - height // 8, right + width // 8, bottom + height // 8)


def highlighted_row(picture, box):
    """The screen row of the table's selected row: the rows below the edit window whose colour
    is the selection's."""
    pixels = picture.load()
    x = 20
    rows = [y for y in range(box[3], picture.height - 30)
            if sum(abs(a - b) for a, b in zip(pixels[x, y], (255, 255, 255))) > 3 * HIGHLIGHT_MIN
            and pixels[x, y][2] > pixels[x, y][0] + 60]
    assert rows, "no selected row in the table of the nodes"
    return (min(rows) + max(rows)) // 2


def main():
    program, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    work = tempfile.mkdtemp()
    scan = os.path.join(work, "blotted.bmp")
    write_bmp(scan, sheet.WIDTH, sheet.HEIGHT, blotted_sheet(), resolution=3780)

    velmora = Program(program, scan)
    velmora.wait_title("blotted.bmp")
    velmora.key("ctrl+0")
    border = find_border(velmora.screenshot())
    box = edit_box(velmora.screenshot(), border)
    velmora.key("ctrl+g")
    velmora.fill_dialog("Параметры эталонной сетки", ["2.65", "1.98", "10.58", "7.94", "2", "2"])
    velmora.key("ctrl+f")
    velmora.wait_idle()
    answer_box(velmora)
    _, found = saved_grid(velmora, os.path.join(work, "found.json"))
    missed = sorted((j, i) for j in range(3) for i in range(3) if (i, j) not in found)
    missed = [(i, j) for j, i in missed]
    for node in BLOTTED:
        assert node in missed, f"the search found the blotted node {node}"

    # N shows the first missed node in the middle of the view, zoomed in, and selects it.
    first, second = missed[0], missed[1]
    velmora.key("n")
    shown = velmora.screenshot(os.path.join(out, "placement_next.png"))
    node_screen = marked_node(shown, box)
    selected_y = highlighted_row(shown, box)

    # Dragged onto the crossing with the loupe beside the pointer; the last pixel with the arrows.
    rx, ry = sheet.reference(*first)
    tx, ty = truth(first)
    target = (node_screen[0] + (tx - rx) * WORKING_ZOOM, node_screen[1] + (ty - ry) * WORKING_ZOOM)
    before = velmora.screenshot()
    loupe = {}

    def during():
        picture = velmora.screenshot(os.path.join(out, "placement_loupe.png"))
        changed = ImageChops.difference(before, picture).getbbox()
        loupe["changed"] = changed

    velmora.drag(node_screen, target, during=during)
    changed = loupe["changed"]
    assert changed and changed[2] - changed[0] >= 150 and changed[3] - changed[1] >= 150, \
        f"no loupe while dragging: {changed}"
    _, placed = saved_grid(velmora, os.path.join(work, "dragged.json"))
    px, py = placed[first]
    assert abs(px - tx) <= 2 and abs(py - ty) <= 2, (placed[first], (tx, ty))
    before_keys = velmora.screenshot()
    for _ in range(abs(tx - px)):
        velmora.key("Right" if tx > px else "Left")
    for _ in range(abs(ty - py)):
        velmora.key("Down" if ty > py else "Up")
    after_keys = velmora.screenshot(os.path.join(out, "placement_keys.png"))
    if (px, py) != (tx, ty):
        row = ImageChops.difference(before_keys, after_keys).crop(
            (0, selected_y - 3, after_keys.width, selected_y + 4)).getbbox()
        assert row, "the table did not follow the node"
    _, placed = saved_grid(velmora, os.path.join(work, "placed.json"))
    assert placed[first] == (tx, ty), (placed[first], (tx, ty))

    # The next missed node; its place typed into its row of the table.
    velmora.key("n")
    shown = velmora.screenshot()
    selected_y = highlighted_row(shown, box)
    velmora.move(20, selected_y)
    run("xdotool", "click", "1")
    velmora.settle()
    sx, sy = truth(second)
    for value in (sx, sy):
        velmora.key("Home")
        velmora.key(*(["Right"] * (4 if value == sx else 5)))
        velmora.key("F2")
        run("xdotool", "key", "ctrl+a")
        run("xdotool", "type", "--delay", "5", str(value))
        velmora.key("Return")
    grid_file = os.path.join(work, "placed grid.json")
    saved, placed = saved_grid(velmora, grid_file)
    assert placed[first] == truth(first), placed
    assert placed[second] == truth(second), placed

    # A node dragged past its right neighbour folds its cells: the calibration is refused, and
    # the raster stays unchanged (no star of unsaved changes in the caption).
    mapping = ViewMapping(border, sheet.WIDTH, sheet.HEIGHT)
    velmora.key("ctrl+0")
    # The node is where the search put it, on its crossing, or where the lattice has it.
    velmora.drag(mapping.screen(*placed.get((1, 2), sheet.reference(1, 2))),
                 mapping.screen(560, 370))
    velmora.screenshot(os.path.join(out, "placement_folded.png"))
    velmora.key("F9")
    velmora.screenshot(os.path.join(out, "placement_refused.png"))
    assert answer_box(velmora) == 1, "a folded grid was calibrated"
    assert not run("xdotool", "getwindowname", velmora.window).endswith("*")
    velmora.key("ctrl+z")
    assert velmora.close() == 0
    print("placement: nodes", placed)


if __name__ == "__main__":
    main()
