#!/usr/bin/python3
"""Makes the pictures of the README (docs/*.png) and of the user's help (help/img/*.png) from the
real program, driven by real input under an X server as the end-to-end tests drive it: a scanned map
sheet whose grid came out bent is opened, the grid is stated in centimetres, the nodes are found,
the one under an ink blot is dragged by hand, the sheet is calibrated and clipped; a large copy of
the sheet shows long work half done. From the
repository root, after a build:

    /usr/bin/python3 docs/make_screenshots.py build/test/src/app/velmora

It runs in an X server of its own (xvfb-run), where the window manager openbox (scripts/setup
installs it) gives the windows their frames, and the program runs in a Russian locale with a Russian
keyboard beside the English one, as our users run it."""

import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import map_sheet  # noqa: E402
from driver import (GRID, Program, ViewMapping, active_window, client_origin,  # noqa: E402
                    find_border, run, start_window_manager, toolbar_buttons, toolbar_strip,
                    window_picture, write_bmp)

DOCS = HERE
HELP = os.path.join(ROOT, "help", "img")
WINDOW_SIZE = (1000, 700)
HELP_WIDTH = 560  # what the help window's page shows without scrolling sideways
# The README's strip of the search: the same part of the sheet zoomed in, before, found, calibrated.
STRIP_CENTRE = (965, 320)
STRIP_PANEL = (420, 320)
# The tool buttons "Сбросить изменения в сетке", "Начать калибровку" and "Обрезать растр по первой
# ячейке сетки".
RESET_BUTTON, CALIBRATE_BUTTON, CLIP_BUTTON = 12, 14, 15


def russian_environment(work):
    """The environment of a run in the Russian locale; the locale is compiled into the work folder
    when the system does not have it, so that window titles and decimal commas come out right."""
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), LANG="ru_RU.UTF-8",
               LC_ALL="ru_RU.UTF-8")
    if "ru_RU.utf8" not in run("locale", "-a", check=False).split():
        locales = os.path.join(work, "locales")
        if not os.path.isdir(locales):
            os.makedirs(locales)
            subprocess.run(["localedef", "-i", "ru_RU", "-f", "UTF-8",
                            os.path.join(locales, "ru_RU.UTF-8")], check=True)
        env["LOCPATH"] = locales
    return env


def save(image, path):
    # A palette of 256 colours, chosen from the picture, keeps the scan's noise from making the
    # files four times larger; the eye cannot tell them apart.
    image.quantize(256, Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE).save(path,
                                                                                   optimize=True)
    print("made", os.path.relpath(path, ROOT))


def for_help(image):
    """A picture reduced to the width the help's page shows."""
    if image.width <= HELP_WIDTH:
        return image
    return image.resize((HELP_WIDTH, round(image.height * HELP_WIDTH / image.width)), Image.LANCZOS)


def edit_area(client):
    """The edit window's rectangle in a picture of the main window without its frame: below the
    toolbars, left of the docks beside it and above the dock under it, parted from them by rows
    and columns of the window's own colour (that of the status bar's right end)."""
    pixels = client.load()
    colour = pixels[client.width - 40, client.height - 1]
    top = toolbar_strip(client)[1] + 1

    def plain(points):
        return all(pixels[p] == colour for p in points)

    bottom = next(y for y in range(top + 50, client.height)
                  if plain((x, y) for x in range(0, client.width // 2, 3)))
    right = next((x for x in range(client.width // 2, client.width)
                  if plain((x, y) for y in range(top + 2, bottom, 3))), client.width)
    return 0, top, right, bottom


def lattice_crossing(screen, near, reach=20):
    """The crossing of the reference lattice's lines nearest to a screen point: zoomed in, a point
    computed from the fitted view may miss a node by a few pixels."""
    pixels = screen.load()

    def line(across, along):
        counts = {}
        for a in range(near[across] - reach, near[across] + reach + 1):
            counts[a] = sum(
                pixels[(a, b) if across == 0 else (b, a)] == GRID
                for b in range(near[along] - 5 * reach, near[along] + 5 * reach))
        return max(counts, key=counts.get)

    return line(0, 1), line(1, 0)


class Session:
    def __init__(self, program, work):
        self.work = work
        self.scan = os.path.join(work, "N-37-14-Б.bmp")
        image = map_sheet.make_scan()
        pixels = image.load()
        write_bmp(self.scan, map_sheet.WIDTH, map_sheet.HEIGHT, lambda x, y: pixels[x, y],
                  resolution=map_sheet.RESOLUTION)
        self.velmora = Program(program, self.scan, env=russian_environment(work),
                               size=WINDOW_SIZE)
        # Room for the frame: the window manager puts it around the window.
        run("xdotool", "windowmove", self.velmora.window, "40", "40")
        self.velmora.wait_title("N-37-14-Б.bmp")
        self.velmora.key("ctrl+0")
        self.mapping = ViewMapping(find_border(self.velmora.screenshot()), map_sheet.WIDTH,
                                   map_sheet.HEIGHT)

    def window(self):
        self.velmora.settle(0.4)
        return window_picture(self.velmora.window, frame=True)

    def detail(self, centre, size):
        """The part of the edit window of the given size around a screen point, as far as the
        edit window reaches."""
        client = window_picture(self.velmora.window)
        ox, oy = client_origin(self.velmora.screenshot(), client)
        left, top, right, bottom = edit_area(client)
        x = min(max(left, centre[0] - ox - size[0] // 2), right - size[0])
        y = min(max(top, centre[1] - oy - size[1] // 2), bottom - size[1])
        return client.crop((x, y, x + size[0], y + size[1]))

    def dialog(self, title, timeout=30):
        dialog = self.velmora.wait_window(title, timeout)
        self.velmora.settle(0.4)
        return dialog, window_picture(dialog, frame=True)

    def keys(self, *keys):
        run("xdotool", "key", *keys)
        self.velmora.settle()

    def menu_dialog(self, menu_key, item_key, title):
        """The dialog of a menu item chosen by its access keys, and its picture. The keys of a
        second keyboard layout now and then go astray: the menu is tried again."""
        for _ in range(3):
            self.velmora.key("alt+" + menu_key)
            self.keys(item_key)
            try:
                return self.dialog(title, timeout=5)[1]
            except RuntimeError:
                self.keys("Escape")
                self.keys("Escape")
        raise RuntimeError(f"the menu never opened {title!r}")

    def menu_picture(self, menu_key):
        """A menu opened by its access key, with the window's corner it hangs from; closed
        again. The menu is what changed on the screen."""
        for _ in range(3):
            shut = self.velmora.screenshot()
            self.velmora.key("alt+" + menu_key)
            self.velmora.settle(0.4)
            shown = self.velmora.screenshot()
            self.keys("Escape")
            self.keys("Escape")
            changed = ImageChops.difference(shut, shown).getbbox()
            if changed and changed[3] - changed[1] > 100:
                client = window_picture(self.velmora.window)
                ox, oy = client_origin(shut, client)
                return shown.crop((ox, oy, changed[2] + 8, changed[3] + 8))
        raise RuntimeError("the menu never opened")

    def button(self, index):
        """Clicks a tool button, counted from the left across the toolbars."""
        client = window_picture(self.velmora.window)
        ox, oy = client_origin(self.velmora.screenshot(), client)
        x, y = toolbar_buttons(client)[index]
        self.velmora.move(ox + x, oy + y)
        run("xdotool", "click", "1")
        # Away from the button, whose hint would take the place of the status bar's panels.
        self.velmora.move(ox + client.width // 2, oy + client.height // 2)
        self.velmora.settle()

    def grid_params(self, cells, picture=None):
        """States the grid in the dialog; a picture of the dialog filled in is saved when asked."""
        self.velmora.key("ctrl+g")
        title = "Параметры эталонной сетки"
        run("xdotool", "windowfocus", "--sync", self.velmora.wait_window(title), check=False)
        for value in [*(f"{v:g}".replace(".", ",") for v in map_sheet.GRID_CM), *map(str, cells)]:
            run("xdotool", "key", "ctrl+a")
            run("xdotool", "type", "--delay", "5", value)
            run("xdotool", "key", "Tab")
        if picture:
            save(self.dialog(title)[1], picture)
        self.keys("Return")

    def strip_panel(self):
        """Part of the sheet around the blotted crossing, zoomed in; the view is fitted again
        afterwards."""
        centre = self.mapping.screen(*STRIP_CENTRE)
        for _ in range(2):
            self.velmora.wheel(*centre, up=True)
        self.velmora.move(centre[0], centre[1] + 400)
        panel = self.detail(centre, STRIP_PANEL)
        self.velmora.key("ctrl+0")
        return panel

    def reference(self, i, j):
        """Node (i, j) of the grid the dialog makes, in raster pixels."""
        x, y = map_sheet.grid_node(i, j)
        return round(x), round(y)


def main():
    program = os.path.abspath(sys.argv[1])
    if os.environ.get("VELMORA_PICTURES_SERVER") != "1":
        env = dict(os.environ, VELMORA_PICTURES_SERVER="1", QT_QPA_PLATFORM="xcb")
        os.execvpe("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x900x24", sys.executable,
                                os.path.abspath(__file__), program], env)
    # The access keys of the menus are Russian letters.
    run("setxkbmap", "-layout", "us,ru")
    work = os.path.join(tempfile.gettempdir(), "velmora-pictures")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.makedirs(HELP, exist_ok=True)
    manager = start_window_manager()
    try:
        make_pictures(Session(program, work), program)
    finally:
        if manager:
            manager.terminate()


def make_pictures(s, program):
    panels = opened_and_stated(s)
    panels.append(nodes_found(s))
    node_dragged(s)
    panels.append(calibrated_and_clipped(s))
    save(strip(panels), os.path.join(DOCS, "find_nodes.png"))
    dialogs_and_help(s)
    long_work(program, s.work)


def opened_and_stated(s):
    """The scan just opened, the toolbars, and the grid stated in centimetres of paper; the first
    panel of the README's strip."""
    opened = s.window()
    save(for_help(opened), os.path.join(HELP, "window.png"))
    client = window_picture(s.velmora.window)
    right = toolbar_buttons(client)[-1][0] + 16
    save(client.crop((0, 0, right, toolbar_strip(client)[1] + 1)),
         os.path.join(HELP, "toolbars.png"))

    s.grid_params(map_sheet.CELLS, os.path.join(HELP, "grid_params.png"))
    stated = s.window()
    save(stated, os.path.join(DOCS, "grid.png"))
    save(for_help(stated), os.path.join(HELP, "grid.png"))
    return [s.strip_panel()]


def nodes_found(s):
    """The search's report, the nodes found, and the menu of the tools with an edit to undo."""
    s.velmora.key("ctrl+f")
    s.velmora.wait_idle()
    save(window_picture(active_window(), frame=True), os.path.join(HELP, "find_report.png"))
    s.keys("Return")
    save(for_help(s.window()), os.path.join(HELP, "found.png"))
    save(s.menu_picture("Cyrillic_i"), os.path.join(HELP, "tools_menu.png"))
    return s.strip_panel()


def node_dragged(s):
    """The missed node, zoomed in on beside its found neighbour: the user drags it onto the
    crossing that the blot hides."""
    v = s.velmora
    i, j = map_sheet.BLOTTED
    left, node = s.mapping.screen(*s.reference(i - 1, j)), s.mapping.screen(*s.reference(i, j))
    middle = ((left[0] + node[0]) // 2, (left[1] + node[1]) // 2)
    zoom = 1.5 ** 4
    for _ in range(4):
        v.wheel(*middle, up=True)
    v.move(*middle)
    node = lattice_crossing(v.screenshot(), (round(middle[0] + (node[0] - middle[0]) * zoom),
                                             round(middle[1] + (node[1] - middle[1]) * zoom)))
    detail = (HELP_WIDTH, 380)
    save(s.detail(node, detail), os.path.join(HELP, "missed.png"))
    tx, ty = map_sheet.scanned_node(i, j)
    rx, ry = s.reference(i, j)
    target = (round(node[0] + (tx - rx) * s.mapping.sx * zoom),
              round(node[1] + (ty - ry) * s.mapping.sy * zoom))
    # Half way, the lines from the neighbours to the pointer show where the node would go.
    v.move(*node)
    run("xdotool", "mousedown", "1")
    halfway = ((node[0] + target[0]) // 2 + 40, (node[1] + target[1]) // 2 + 50)
    for k in range(1, 9):
        v.move(node[0] + (halfway[0] - node[0]) * k // 8, node[1] + (halfway[1] - node[1]) * k // 8)
    v.settle(0.4)
    # The window with the loupe beside the pointer, the table of the nodes and the overview.
    save(s.window(), os.path.join(DOCS, "drag.png"))
    save(s.detail(node, detail), os.path.join(HELP, "drag.png"))
    # The loupe keeps clear of the pointer on whichever side has room: the picture around the
    # pointer holds it on every side.
    save(s.detail(halfway, (HELP_WIDTH, 380)), os.path.join(HELP, "loupe.png"))
    for k in range(1, 9):
        v.move(halfway[0] + (target[0] - halfway[0]) * k // 8,
               halfway[1] + (target[1] - halfway[1]) * k // 8)
    run("xdotool", "mouseup", "1")
    v.move(*middle)
    save(s.detail(node, detail), os.path.join(HELP, "placed.png"))
    docks(s)


def docks(s):
    """The table of the nodes with the node just placed selected, and the overview of the sheet
    with the part the window shows."""
    client = window_picture(s.velmora.window)
    _, top, right, bottom = edit_area(client)
    table = client.crop((0, bottom, client.width, client.height))
    save(table, os.path.join(DOCS, "nodes_dock.png"))
    save(for_help(table), os.path.join(HELP, "nodes_dock.png"))
    overview = client.crop((right, top, client.width, bottom))
    save(overview, os.path.join(HELP, "overview.png"))


def calibrated_and_clipped(s):
    """The sheet calibrated, with the grid's changes reset so that its lattice shows the lines
    straight; the last panel of the README's strip; then clipped to the grid's frame."""
    v = s.velmora
    v.key("ctrl+0")
    v.key("F9")
    v.wait_idle(3)
    s.button(RESET_BUTTON)
    save(for_help(s.window()), os.path.join(HELP, "calibrated.png"))
    panel = s.strip_panel()
    s.grid_params((1, 1))
    s.button(CLIP_BUTTON)
    v.wait_idle(2)
    save(for_help(s.window()), os.path.join(HELP, "clipped.png"))
    return panel


def dialogs_and_help(s):
    """The options and the raster's properties; the raster saved under a new name; the help."""
    v = s.velmora
    save(s.menu_dialog("Cyrillic_i", "Cyrillic_a", "Параметры"), os.path.join(HELP, "options.png"))
    s.keys("Escape")
    save(s.menu_dialog("Cyrillic_ef", "Cyrillic_ve", "Свойства растра"),
         os.path.join(HELP, "properties.png"))
    s.keys("Escape")
    v.key("ctrl+shift+s")
    v.type_into_dialog("Сохранение растра", os.path.join(s.work, "straight.bmp"))
    v.wait_title("straight.bmp")
    v.key("F1")
    help_window, picture = s.dialog("Справка Velmora")
    save(for_help(picture), os.path.join(HELP, "help_window.png"))
    run("xdotool", "windowactivate", "--sync", help_window, check=False)
    s.keys("alt+F4")
    assert v.close() == 0


def long_work(program, work):
    """A calibration of a large scan (the sheet twelve times larger each way) under way: its
    percentage, its name and the button that stops it, with a tool button's hint beside them."""
    scale = 12
    large = os.path.join(work, "N-37-14-Б-600dpi.bmp")
    map_sheet.make_scan().resize((map_sheet.WIDTH * scale, map_sheet.HEIGHT * scale),
                                 Image.NEAREST).save(large, dpi=(1200, 1200))
    v = Program(program, large, env=russian_environment(work), size=(640, 460))
    run("xdotool", "windowmove", v.window, "40", "40")
    v.wait_title("N-37-14-Б-600dpi.bmp")
    client = window_picture(v.window)
    ox, oy = client_origin(v.screenshot(), client)
    x, y = toolbar_buttons(client)[CALIBRATE_BUTTON]
    v.move(ox + x, oy + y)
    run("xdotool", "click", "1")
    v.settle(0.3)
    save(window_picture(v.window, frame=True), os.path.join(HELP, "work.png"))
    # Whether the calibration was stopped or has ended, nothing of it is kept.
    v.process.kill()
    v.process.wait()
    os.remove(large)


def strip(panels):
    gap = 12
    width = sum(p.width for p in panels) + gap * (len(panels) - 1)
    out = Image.new("RGB", (width, panels[0].height), (255, 255, 255))
    x = 0
    for panel in panels:
        out.paste(panel, (x, 0))
        x += panel.width + gap
    return out


if __name__ == "__main__":
    main()
