"""Drives the real program under an X server: real input through xdotool, pictures through
ImageMagick's import. The tests and the scripts that make the README's pictures share it."""

import os
import shutil
import struct
import subprocess
import tempfile
import time

from PIL import Image

# The reference grid's colour (the options' default). Right after opening, the calibrator's grid is
# one cell on the raster's corners: its lines are the raster's outline.
GRID = (0, 128, 0)


def run(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True, text=True).stdout.strip()


def write_bmp(path, width, height, pixel, resolution=3780):
    """A bottom-up 24-bit BMP; pixel(x, y) gives (r, g, b)."""
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += bytes(row - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), resolution,
                       resolution, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def read_bmp(path):
    """The pixels and the resolution of a 24-bit BMP as written above."""
    image = Image.open(path).convert("RGB")
    with open(path, "rb") as f:
        head = f.read(54)
    xres, yres = struct.unpack("<ii", head[38:46])
    return image, (xres, yres)


class Program:
    """One run of the program under the X server of DISPLAY."""

    def __init__(self, program, *args, env=None, size=(1200, 860)):
        if env is None:
            # Settings of the run's own: the user's are never touched.
            env = dict(os.environ, XDG_CONFIG_HOME=tempfile.mkdtemp())
        self.process = subprocess.Popen([program, *args], env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        # A sanitizer build on a busy machine may take long to show its first window.
        self.window = self.wait_window("Velmora", timeout=120)
        run("xdotool", "windowmove", self.window, "0", "0")
        run("xdotool", "windowsize", self.window, str(size[0]), str(size[1]))
        self.settle()

    def wait_window(self, name, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            found = run("xdotool", "search", "--onlyvisible", "--name", name, check=False)
            if found:
                return found.split()[-1]
            time.sleep(0.1)
        raise RuntimeError(f"no window named {name!r} appeared")

    def wait_title(self, part, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            if part in run("xdotool", "getwindowname", self.window, check=False):
                return
            time.sleep(0.1)
        raise RuntimeError(f"the title never showed {part!r}")

    def settle(self, seconds=0.6):
        time.sleep(seconds)

    def key(self, *keys):
        run("xdotool", "windowfocus", "--sync", self.window, check=False)
        run("xdotool", "key", "--clearmodifiers", *keys)
        self.settle()

    def type_into_dialog(self, title, text):
        dialog = self.wait_window(title)
        run("xdotool", "windowfocus", "--sync", dialog, check=False)
        self.settle(0.3)
        run("xdotool", "key", "ctrl+a")
        run("xdotool", "type", "--delay", "5", text)
        run("xdotool", "key", "Return")
        self.settle()

    def fill_dialog(self, title, values):
        """Types the values into the dialog's fields in their tab order and confirms it."""
        dialog = self.wait_window(title)
        run("xdotool", "windowfocus", "--sync", dialog, check=False)
        self.settle(0.3)
        for value in values:
            run("xdotool", "key", "ctrl+a")
            run("xdotool", "type", "--delay", "5", value)
            run("xdotool", "key", "Tab")
        run("xdotool", "key", "Return")
        self.settle()

    def wait_idle(self, seconds=1.5):
        self.settle(seconds)

    def move(self, x, y):
        run("xdotool", "mousemove", str(x), str(y))
        time.sleep(0.05)

    def drag(self, start, end, button=1, steps=8, modifier=None, during=None):
        self.move(*start)
        if modifier:
            run("xdotool", "keydown", modifier)
        run("xdotool", "mousedown", str(button))
        for k in range(1, steps + 1):
            self.move(start[0] + (end[0] - start[0]) * k // steps,
                      start[1] + (end[1] - start[1]) * k // steps)
        if during:
            time.sleep(0.3)
            during()
        run("xdotool", "mouseup", str(button))
        if modifier:
            run("xdotool", "keyup", modifier)
        self.settle()

    def wheel(self, x, y, up=True):
        self.move(x, y)
        run("xdotool", "click", "4" if up else "5")
        self.settle()

    def screenshot(self, path=None):
        return window_picture("root", path)

    def close(self, timeout=20):
        self.key("alt+F4")
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise RuntimeError("the program did not end")
        return self.process.returncode


def window_picture(window, path=None, frame=False):
    """A picture of a window (or of the whole screen, "root"), with the frame that the window
    manager gives the window when asked."""
    with tempfile.NamedTemporaryFile(suffix=".png", delete=False) as f:
        name = path or f.name
    run("import", "-window", window, *(["-frame"] if frame else []), name)
    return Image.open(name).convert("RGB")


def client_origin(screen, client):
    """Where a window's picture without its frame lies on the screen."""
    samples = [(x, y) for x in range(0, client.width, client.width // 9)
               for y in range(0, client.height, client.height // 7)]
    pixels, own = screen.load(), client.load()
    for dy in range(screen.height - client.height + 1):
        for dx in range(screen.width - client.width + 1):
            if all(pixels[x + dx, y + dy] == own[x, y] for x, y in samples):
                return dx, dy
    raise RuntimeError("the window is not on the screen")


def start_window_manager():
    """Starts openbox, a light window manager, when it is installed: windows get their frames,
    and Alt+F4 closes any of them as on a desktop. Returns its process, or None."""
    if not shutil.which("openbox"):
        return None
    manager = subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    return manager


def active_window():
    return run("xdotool", "getactivewindow")


def toolbar_strip(image):
    """The rows (top, bottom) of the toolbars in a picture of the main window without its frame:
    between the menu bar's and the toolbars' lower edges, dark lines across the window."""
    pixels = image.load()

    def darker(y, than):
        return sum(pixels[0, than]) - sum(pixels[0, y]) >= 30

    edges = [y for y in range(1, min(image.height, 120) - 1)
             if len({pixels[x, y] for x in range(0, image.width, 7)}) == 1
             and darker(y, y - 1) and darker(y, y + 1)]
    if len(edges) < 2:
        raise RuntimeError("no toolbar strip under the menu bar")
    return edges[0], edges[1]


def toolbar_buttons(image):
    """The centres of the tool buttons in a picture of the main window without its frame, in the
    order of the toolbars: the glyphs of the toolbar strip, apart from the narrow handles and
    separators."""
    pixels = image.load()
    top, bottom = toolbar_strip(image)
    top, bottom = top + 4, bottom - 4
    marked = []
    for x in range(image.width):
        marked.append(any(max(abs(a - b) for a, b in zip(pixels[x, y], pixels[image.width - 1, y]))
                          > 48 for y in range(top, bottom)))
    buttons, start = [], None
    for x, on in enumerate(marked + [False]):
        if on and start is None:
            start = x
        elif not on and start is not None:
            if x - start >= 10:
                buttons.append(((start + x) // 2, (top + bottom) // 2))
            start = None
    return buttons


def find_border(image, colour=GRID):
    """The screen rectangle (left, top, right, bottom) of the raster's outline: the outermost rows
    and columns where long runs of its colour lie (a glyph of the same colour is too short)."""
    pixels = image.load()
    rows = [0] * image.height
    columns = [0] * image.width
    for y in range(image.height):
        for x in range(image.width):
            if pixels[x, y] == colour:
                rows[y] += 1
                columns[x] += 1
    long_rows = [y for y, n in enumerate(rows) if n >= 40]
    long_columns = [x for x, n in enumerate(columns) if n >= 40]
    if not long_rows or not long_columns:
        raise RuntimeError("the raster's outline is not on the screen")
    return min(long_columns), min(long_rows), max(long_columns), max(long_rows)


class ViewMapping:
    """Raster pixels to screen pixels, from the outline of a raster of the given size."""

    def __init__(self, border, width, height):
        left, top, right, bottom = border
        self.left, self.top = left, top
        self.sx = (right - left) / width
        self.sy = (bottom - top) / height

    def screen(self, x, y):
        return round(self.left + x * self.sx), round(self.top + y * self.sy)


class DragSource:
    """A window that drags a file onto another as a file manager does (e2e_drag_source)."""

    def __init__(self, program, path, at=(1210, 20)):
        self.process = subprocess.Popen([program, path], stdout=subprocess.PIPE, text=True)
        end = time.time() + 30
        while True:
            found = run("xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid),
                        check=False)
            if found:
                self.window = found.split()[-1]
                break
            if time.time() > end:
                raise RuntimeError("the drag source never showed")
            time.sleep(0.1)
        run("xdotool", "windowmove", self.window, str(at[0]), str(at[1]))
        time.sleep(0.3)
        self.at = (at[0] + 30, at[1] + 30)

    def drop(self, target, during=None):
        """Drags the file to the screen point and lets it go there; during() runs while the file
        hangs over it. Returns "accepted" or "refused", as the target answered."""
        run("xdotool", "mousemove", str(self.at[0]), str(self.at[1]))
        run("xdotool", "mousedown", "1")
        for k in range(1, 9):
            run("xdotool", "mousemove", str(self.at[0] + (target[0] - self.at[0]) * k // 8),
                str(self.at[1] + (target[1] - self.at[1]) * k // 8))
            time.sleep(0.02)
        if during:
            during()
        run("xdotool", "mouseup", "1")
        return self.process.communicate(timeout=30)[0].strip()
