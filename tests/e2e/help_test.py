"""The help of the real program under an X server, driven by real input: F1 opens the Russian help
at its contents; Shift+F1 and then a click on a tool button open that button's topic instead of
running its command. A window manager runs, so that the help window can be minimised as a user
minimises it: closing the main window then ends the program, the help with it.

Usage: help_test.py VELMORA OUTPUT_FOLDER (run under xvfb-run)."""

import os
import sys
import tempfile

from driver import (Program, client_origin, run, start_window_manager, toolbar_buttons,
                    window_picture, write_bmp)

HELP = "Справка Velmora"
# Tool buttons counted from the left across the toolbars "Файл", "Вид" and "Инструменты", and the
# titles of their topics' pages.
BUTTONS = 16
ZOOM_ALL, FIND_NODES = 8, 13
TOPICS = {ZOOM_ALL: "Перемещение по растру и масштаб", FIND_NODES: "Узлы, строки и столбцы сетки"}


def wait_name(velmora, window, name):
    """Waits until the window's title is name."""
    for _ in range(100):
        if run("xdotool", "getwindowname", window, check=False) == name:
            return
        velmora.settle(0.1)
    raise RuntimeError(f"the window is titled {run('xdotool', 'getwindowname', window)!r}, "
                       f"not {name!r}")


def main():
    manager = start_window_manager()
    assert manager, "openbox is not installed"
    try:
        check_help(sys.argv[1], sys.argv[2])
    finally:
        manager.terminate()


def check_help(program, out):
    os.makedirs(out, exist_ok=True)
    scan = os.path.join(tempfile.mkdtemp(), "scan.bmp")
    write_bmp(scan, 300, 200, lambda x, y: (20, 20, 20) if x % 50 == 0 or y % 50 == 0
              else (235, 230, 215))

    velmora = Program(program, scan)
    velmora.wait_title("scan.bmp")
    client = window_picture(velmora.window)
    origin = client_origin(velmora.screenshot(), client)
    buttons = [(origin[0] + x, origin[1] + y) for x, y in toolbar_buttons(client)]
    assert len(buttons) == BUTTONS, buttons

    # F1: the contents, whose first page is titled as the help itself.
    velmora.key("F1")
    help_window = velmora.wait_window(HELP)
    wait_name(velmora, help_window, f"{HELP} - {HELP}")
    # Out of the way of the toolbars.
    run("xdotool", "windowmove", help_window, "300", "200")
    velmora.settle()
    velmora.screenshot(os.path.join(out, "help_contents.png"))

    # A click in the what's-this mode opens the button's topic; a second one, another topic.
    for button in (ZOOM_ALL, FIND_NODES):
        velmora.key("shift+F1")
        velmora.move(*buttons[button])
        run("xdotool", "click", "1")
        velmora.settle()
        wait_name(velmora, help_window, f"{HELP} - {TOPICS[button]}")
    velmora.screenshot(os.path.join(out, "help_topic.png"))
    # The click ran no command: "Найти узлы" would have reported in a box of its own.
    windows = run("xdotool", "search", "--onlyvisible", "--pid", str(velmora.process.pid),
                  check=False).split()
    assert len(windows) == 2, windows

    # The help goes with the main window, and the program ends, even with the help minimised.
    run("xdotool", "windowminimize", "--sync", help_window, check=False)
    velmora.settle()
    assert velmora.close() == 0
    assert not run("xdotool", "search", "--name", HELP, check=False), "the help stayed"
    print("help: the contents, then the topics of", [TOPICS[b] for b in (ZOOM_ALL, FIND_NODES)])


if __name__ == "__main__":
    main()
