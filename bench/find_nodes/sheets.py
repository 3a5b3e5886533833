#!/usr/bin/python3
"""Synthetic scans of map sheets and plans that carry a printed reference grid, made harder than the
scans users really have, with where each scan shows every crossing of its grid.

    /usr/bin/python3 bench/find_nodes/sheets.py DIR [NAME ...]

writes, for every sheet of the set (or each one named) that DIR does not hold yet:
    NAME.bmp           the scan: 24-bit colour, 8-bit grey or 1 bit (thresholded or dithered)
    NAME.grid.json     the grid as a user lays it over the scan: cells, origin and step in pixels
    NAME.corners.json  the same grid with its four corner nodes dragged onto their crossings
    NAME.truth.json    where the scan shows each crossing, whether a label or a blot hides it, and
                       what lies at it
`--list` prints the names of the set. Needs numpy and Pillow (python3-numpy, python3-pil).

Coordinates are those of the program: pixel (X, Y) has its centre at (X, Y). The sheet is drawn
flat, then "scanned": every pixel of the scan samples the flat sheet through a known map (a turn,
a shrink of each axis, a shift, slow bends, a fold), so the crossings' places are exact. The grid
is drawn with exact coverage of its lines; the map content around it is drawn to confuse: contour
lines nearly along the grid lines, roads and railways beside them, cased roads laid along them,
water hatching and marsh symbols in rows along them, woods in halftone, buildings and words on the
crossings, labels whose white halos hide a few crossings, the map's frame close to the outer
lines; plans of parcels with small crosses for the grid. The scanner adds vignetting, noise, blur,
JPEG at quality 45, or a 1-bit threshold or dither, and ink blots that hide a few crossings."""

import dataclasses
import io
import json
import math
import os
import random
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

Image.MAX_IMAGE_PIXELS = None  # the largest sheets are 108 megapixels

FONTS = "/usr/share/fonts/truetype/dejavu/"
WORDS = ["Сосновка", "Заречье", "Ключи", "Вельма", "Берёзовый", "Красный Бор", "Лесная",
         "Горелово", "оз. Круглое", "р. Сухая", "ур. Дальнее", "Никольское", "Песчаное",
         "Высокое", "МТФ", "пгт Озёрный", "ст. Луговая", "Большие Поляны", "187,3", "214,6"]


@dataclasses.dataclass
class Recipe:
    name: str
    kind: str                 # "topo": a topographic sheet; "plan": a plan of parcels
    size: tuple               # the scan's width and height in pixels
    nodes: tuple              # node columns and rows
    step: tuple               # the printed cell in pixels of the flat sheet (not whole numbers)
    line: float = 2.0         # the grid lines' width
    cross: float = 0.0        # 0: full lines; otherwise the crosses' half arm in pixels
    ink: int = 225            # the grid's darkness, 0 to 255
    depth: str = "rgb"        # "rgb", "grey", "bw" (thresholded) or "dither"
    jpeg: bool = False        # stored once as JPEG at quality 45
    turn: float = 0.0         # degrees
    scale: tuple = (1.0, 1.0)
    shift: tuple = (0.0, 0.0)
    bend: float = 0.0         # the slow bends' amplitude in pixels
    fold: bool = False
    vignette: float = 0.0     # how much darker the corners are, 0 to 1
    blur: float = 0.6         # sigma in pixels
    noise: float = 5.0        # sigma in levels
    busy: float = 0.35        # the share of crossings that get clutter of their own
    hidden: int = 2           # crossings hidden under a label with a halo or an ink blot
    frame: float = 0.3        # the frame's distance beyond the outer lines, as a share of a cell
    seed: int = 1


def sheet_set():
    """The set: sizes from 2000 × 3000 to 12000 × 9000, grids of 6 × 5 to 30 × 25 nodes."""
    sheets = [
        # The two sheets the search is timed on against the calibration.
        Recipe("topo-12000x9000", "topo", (12000, 9000), (30, 25), (381.3, 339.6), line=2,
             turn=1.3, scale=(0.99, 0.984), shift=(14, -22), bend=34, fold=True, vignette=0.2,
             blur=0.7, noise=6, hidden=4, seed=101),
        Recipe("topo-8000x6000", "topo", (8000, 6000), (12, 10), (628.3, 566.9), line=2.5,
             turn=-0.9, scale=(0.993, 0.987), shift=(-18, 9), bend=22, blur=0.8, noise=5,
             busy=0.4, seed=102),
        # Large cells turned by 1.9 degrees: the sheet of the dragged corners.
        Recipe("topo-bigcells-turned", "topo", (6000, 6000), (9, 9), (650.4, 651.2), line=2,
             turn=1.9, scale=(0.992, 0.99), shift=(20, 12), bend=15, busy=0.4, seed=103),
        Recipe("grey-12000x9000-jpeg", "topo", (12000, 9000), (30, 25), (381.0, 340.2), line=1.4,
             depth="grey", jpeg=True, turn=-2.4, scale=(0.986, 0.995), shift=(-9, 30), bend=40,
             vignette=0.25, blur=0.6, noise=7, hidden=3, seed=104),
        # Plans marked with small crosses.
        Recipe("plan-crosses-144", "plan", (3000, 2200), (19, 14), (144.2, 144.4), line=1.5,
             cross=12, depth="grey", turn=0.7, scale=(0.995, 0.99), bend=6, blur=0.6, noise=6,
             busy=0.4, hidden=2, seed=105),
        Recipe("plan-crosses-724", "plan", (7400, 6000), (10, 8), (724.3, 723.6), line=2,
             cross=20, depth="bw", turn=-1.4, scale=(0.99, 0.992), bend=18, blur=0.7, noise=8,
             busy=0.4, hidden=1, seed=106),
        Recipe("plan-crosses-dither", "plan", (4000, 3000), (14, 10), (268.5, 268.9), line=2,
             cross=16, depth="dither", turn=2.2, scale=(0.985, 0.99), bend=10, blur=0.5, noise=5,
             busy=0.4, seed=107),
        Recipe("topo-dither", "topo", (5000, 4000), (16, 12), (292.0, 304.5), line=2,
             depth="dither", turn=-1.7, scale=(0.99, 0.985), bend=16, blur=0.6, noise=4,
             seed=108),
        Recipe("topo-thin-jpeg", "topo", (6000, 4500), (18, 14), (320.6, 300.3), line=1,
             depth="rgb", jpeg=True, turn=2.8, scale=(0.982, 0.99), bend=20, blur=0.5, noise=4,
             seed=109),
        Recipe("topo-bw-thin", "topo", (6000, 4500), (16, 12), (350.2, 350.7), line=1.2,
             depth="bw", turn=-2.9, scale=(0.988, 0.98), bend=25, fold=True, blur=0.9, noise=9,
             seed=110),
        Recipe("topo-frame-close", "topo", (5000, 6000), (9, 12), (500.3, 440.8), line=2,
             frame=0.04, turn=0.4, scale=(0.995, 0.992), bend=12, busy=0.4, seed=111),
        # Dense grids on large sheets of every depth.
        Recipe("plan-9000x7000", "plan", (9000, 7000), (25, 20), (345.2, 331.9), line=1.5,
             turn=-1.1, scale=(0.991, 0.986), bend=30, fold=True, blur=0.6, noise=6, seed=112),
        Recipe("topo-grey-9000x7000", "topo", (9000, 7000), (25, 20), (344.8, 330.4), line=1.5,
             depth="grey", turn=2.1, scale=(0.984, 0.99), bend=28, vignette=0.3, blur=0.9,
             noise=8, seed=113),
        Recipe("topo-bw-8000x6000", "topo", (8000, 6000), (22, 17), (340.7, 334.1), line=2,
             depth="bw", turn=-0.5, scale=(0.99, 0.993), bend=20, fold=True, blur=0.6, noise=7,
             seed=114),
    ]
    rnd = random.Random(2024)
    sizes = [(2000, 3000), (3000, 2000), (3000, 4000), (4000, 3000), (4500, 3500), (5000, 4000),
             (6000, 5000), (7000, 5000), (9000, 7000), (3500, 5000)]
    depths = ["rgb", "rgb", "rgb", "grey", "grey", "bw", "dither"]
    for k in range(23):
        w, h = sizes[k % len(sizes)]
        kind = "plan" if k % 4 == 3 else "topo"
        step = rnd.uniform(170, 520) if kind == "topo" else rnd.uniform(140, 420)
        nx = max(6, min(25, int((w - 0.25 * step - 300) / step) + 1))
        ny = max(5, min(20, int((h - 0.25 * step - 300) / step) + 1))
        sx = min(step, (w - 400) / (nx - 1))
        sy = min(step * rnd.uniform(0.97, 1.03), (h - 400) / (ny - 1))
        depth = depths[k % len(depths)]
        cross = 0.0
        if kind == "plan" and k % 8 == 3:
            cross = rnd.uniform(9, 0.09 * min(sx, sy) + 9)
        sheets.append(Recipe(
            f"{kind}-{k:02d}", kind, (w, h), (nx, ny), (sx + rnd.uniform(-0.5, 0.5), sy),
            line=rnd.choice([1.0, 1.5, 2.0, 2.5, 3.0]), cross=cross,
            ink=rnd.randint(170, 240), depth=depth,
            jpeg=depth in ("rgb", "grey") and rnd.random() < 0.4,
            turn=rnd.uniform(-3, 3), scale=(rnd.uniform(0.98, 0.995), rnd.uniform(0.98, 0.995)),
            shift=(rnd.uniform(-0.1, 0.1) * sx, rnd.uniform(-0.1, 0.1) * sy),
            bend=rnd.uniform(0, 0.004) * max(w, h), fold=rnd.random() < 0.3,
            vignette=rnd.choice([0, 0, 0.15, 0.3]), blur=rnd.uniform(0.4, 1.4),
            noise=rnd.uniform(2, 11), busy=rnd.uniform(0.2, 0.4), hidden=rnd.randint(0, 3),
            frame=rnd.choice([0.06, 0.15, 0.3, 0.5]), seed=200 + k))
    for recipe in sheets:
        visible(recipe)
    return sheets


def visible(recipe):
    """Keeps the grid visible: a thin line blurred by the scanner darkens less than its ink, and a
    one-bit scan keeps only what is darker than its threshold (there as fragments at least)."""
    need = 140 if recipe.depth in ("bw", "dither") else 90

    def peak():
        return recipe.ink * math.erf(recipe.line / (2 * math.sqrt(2) * max(recipe.blur, 1e-3)))

    while peak() < need and recipe.blur > 0.35:
        recipe.blur *= 0.9
    while peak() < need and recipe.ink < 245:
        recipe.ink += 5


def font(size, bold=False, serif=False):
    name = ("DejaVuSerif" if serif else "DejaVuSans") + ("-Bold" if bold else "") + ".ttf"
    return ImageFont.truetype(FONTS + name, max(6, int(size)))


class Layout:
    """The printed grid on the flat sheet and the scanner's map from the scan to the sheet."""

    def __init__(self, recipe, rnd):
        self.recipe = recipe
        w, h = recipe.size
        nx, ny = recipe.nodes
        self.left = round((w - (nx - 1) * recipe.step[0]) / 2 + rnd.uniform(-40, 40)) + 0.0
        self.top = round((h - (ny - 1) * recipe.step[1]) / 2 + rnd.uniform(-40, 40)) + 0.0
        self.right = self.left + (nx - 1) * recipe.step[0]
        self.bottom = self.top + (ny - 1) * recipe.step[1]
        self.centre = (w / 2, h / 2)
        a = math.radians(recipe.turn)
        self.cos, self.sin = math.cos(a), math.sin(a)
        # Slow bends of the whole sheet and a faint wrinkle: sums of waves in the scan's plane.
        size = max(w, h)
        self.waves = []
        for share in (0.55, 0.3, 0.15):
            length = rnd.uniform(0.8, 2.2) * size
            angle = rnd.uniform(0, math.pi)
            self.waves.append((recipe.bend * share, 2 * math.pi / length, math.cos(angle),
                               math.sin(angle), rnd.uniform(0, 2 * math.pi), rnd.uniform(0, 1)))
        length = rnd.uniform(0.3, 0.5) * size
        angle = rnd.uniform(0, math.pi)
        self.waves.append((min(1.0, recipe.bend * 0.05), 2 * math.pi / length, math.cos(angle),
                           math.sin(angle), rnd.uniform(0, 2 * math.pi), rnd.uniform(0, 1)))
        # A fold across the sheet near its middle, nearly along one of its sides: the paper beyond
        # it lies a little further on.
        self.fold = None
        if recipe.fold:
            across = rnd.random() < 0.5
            angle = math.radians(rnd.uniform(-1.5, 1.5)) + (0 if across else math.pi / 2)
            n = (-math.sin(angle), math.cos(angle))
            at = (w / 2 + rnd.uniform(-0.15, 0.15) * w, h / 2 + rnd.uniform(-0.15, 0.15) * h)
            self.fold = (n, n[0] * at[0] + n[1] * at[1], rnd.uniform(1, 2.5),
                         rnd.uniform(10, 24))

    def node(self, i, j):
        return self.left + i * self.recipe.step[0], self.top + j * self.recipe.step[1]

    def to_flat(self, x, y):
        """Where on the flat sheet the scan's point (x, y) lies (numpy arrays or numbers)."""
        s = self.recipe
        cx, cy = self.centre
        u, v = x - cx - s.shift[0], y - cy - s.shift[1]
        fx = cx + (self.cos * u + self.sin * v) / s.scale[0]
        fy = cy + (-self.sin * u + self.cos * v) / s.scale[1]
        for amplitude, k, dx, dy, phase, mix in self.waves:
            wave = amplitude * np.sin(k * (dx * x + dy * y) + phase)
            fx = fx + wave * mix
            fy = fy + wave * (1 - mix)
        if self.fold:
            (nx, ny), c, shift, width = self.fold
            t = np.clip(((nx * x + ny * y) - c) / width + 0.5, 0, 1)
            ramp = shift * t * t * (3 - 2 * t)
            fx = fx + ramp * nx
            fy = fy + ramp * ny
        return fx, fy

    def to_scan(self, fx, fy):
        """The scan's point of the flat sheet's (fx, fy), by Newton's method on to_flat."""
        x, y = np.array(fx, dtype=float), np.array(fy, dtype=float)
        for _ in range(40):
            gx, gy = self.to_flat(x, y)
            ex, ey = gx - fx, gy - fy
            d = 1e-3
            ax, ay = self.to_flat(x + d, y)
            bx, by = self.to_flat(x, y + d)
            j11, j21 = (ax - gx) / d, (ay - gy) / d
            j12, j22 = (bx - gx) / d, (by - gy) / d
            det = j11 * j22 - j12 * j21
            x = x - (j22 * ex - j12 * ey) / det
            y = y - (-j21 * ex + j11 * ey) / det
        return x, y


class Flat:
    """The flat sheet: a PIL picture for the map's content, the grid drawn into it exactly."""

    def __init__(self, recipe, layout, rnd):
        self.recipe, self.layout, self.rnd = recipe, layout, rnd
        w, h = recipe.size
        self.paper = (246, 243, 232) if recipe.kind == "topo" else (250, 250, 248)
        self.image = Image.new("RGB", (w, h), self.paper)
        self.draw = ImageDraw.Draw(self.image)
        nx, ny = recipe.nodes
        self.tags = {(i, j): set() for j in range(ny) for i in range(nx)}
        self.hidden = set()
        # Crossings that already carry clutter of their own, and the labels' boxes.
        self.boxes = []

    # --- drawing helpers ---
    def line(self, points, colour, width):
        self.draw.line([tuple(p) for p in points], fill=colour, width=max(1, round(width)),
                       joint="curve")

    def curve(self, start, direction, length, bendiness, step=6.0):
        """A smooth wandering curve from start."""
        x, y = start
        a = math.atan2(direction[1], direction[0])
        turn = 0.0
        points = [(x, y)]
        for _ in range(int(length / step)):
            turn = 0.9 * turn + self.rnd.gauss(0, bendiness)
            a += turn
            x += step * math.cos(a)
            y += step * math.sin(a)
            points.append((x, y))
        return points

    def grid_direction(self, across):
        return (1.0, 0.0) if across else (0.0, 1.0)

    def composite(self, box, alpha, colour):
        """Lays colour over the box of the picture where alpha (0..1 numpy array) says."""
        region = np.asarray(self.image.crop(box)).astype(np.float32)
        a = alpha[..., None]
        region = region * (1 - a) + np.array(colour, np.float32) * a
        self.image.paste(Image.fromarray(region.astype(np.uint8)), box[:2])

    def polygon_mask(self, points, box):
        mask = Image.new("L", (box[2] - box[0], box[3] - box[1]), 0)
        ImageDraw.Draw(mask).polygon([(x - box[0], y - box[1]) for x, y in points], fill=255)
        return np.asarray(mask).astype(np.float32) / 255

    def blob(self, centre, radius):
        cx, cy = centre
        points = []
        for k in range(14):
            a = 2 * math.pi * k / 14
            r = radius * self.rnd.uniform(0.6, 1.2)
            points.append((cx + r * math.cos(a), cy + 0.8 * r * math.sin(a)))
        return points

    def box_of(self, points, margin=2):
        w, h = self.recipe.size
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        return (max(0, int(min(xs)) - margin), max(0, int(min(ys)) - margin),
                min(w, int(max(xs)) + margin + 1), min(h, int(max(ys)) + margin + 1))

    # --- map content ---
    def woods(self, centre, radius):
        """A wood: a light green area laid with a halftone screen of dots."""
        outline = self.blob(centre, radius)
        box = self.box_of(outline)
        if box[2] - box[0] < 4 or box[3] - box[1] < 4:
            return
        mask = self.polygon_mask(outline, box)
        self.composite(box, mask, (206, 230, 186))
        period = self.rnd.uniform(4, 7)
        yy, xx = np.mgrid[box[1]:box[3], box[0]:box[2]].astype(np.float32)
        u, v = (xx + yy) / period, (xx - yy) / period
        dots = ((np.sin(math.pi * u) * np.sin(math.pi * v)) > 0.55).astype(np.float32)
        self.composite(box, mask * dots * 0.85, (96, 150, 84))

    def water(self, centre, radius, along=None):
        """A lake: blue, with hatching lines (along a grid direction when asked)."""
        outline = self.blob(centre, radius)
        box = self.box_of(outline)
        if box[2] - box[0] < 4 or box[3] - box[1] < 4:
            return
        mask = self.polygon_mask(outline, box)
        self.composite(box, mask, (200, 224, 242))
        hatch = Image.new("L", (box[2] - box[0], box[3] - box[1]), 0)
        d = ImageDraw.Draw(hatch)
        spacing = self.rnd.uniform(3.5, 6.5)
        angle = (0 if along else math.pi / 2) if along is not None else self.rnd.choice(
            [0, math.pi / 2, math.pi / 4, -math.pi / 4])
        angle += math.radians(self.rnd.uniform(-0.5, 0.5))
        size = max(hatch.size) * 2
        c, s = math.cos(angle), math.sin(angle)
        mx, my = hatch.size[0] / 2, hatch.size[1] / 2
        for o in np.arange(-size, size, spacing):
            d.line([(mx - size * c - o * s, my - size * s + o * c),
                    (mx + size * c - o * s, my + size * s + o * c)], fill=255, width=1)
        self.composite(box, mask * np.asarray(hatch).astype(np.float32) / 255 * 0.9,
                       (40, 96, 170))
        self.line(outline + outline[:1], (40, 96, 170), 1.5)

    def marsh(self, centre, size, along=True):
        """Marsh: staggered rows of short dashes, along the lines across (or down)."""
        cx, cy = centre
        gap = self.rnd.uniform(5, 8)
        length = self.rnd.uniform(6, 11)
        colour = (50, 90, 150) if self.rnd.random() < 0.5 else (30, 30, 30)
        for r, o in enumerate(np.arange(-size, size, gap)):
            for t in np.arange(-size + (r % 2) * length, size, 2 * length):
                if along:
                    self.line([(cx + t, cy + o), (cx + t + length, cy + o)], colour, 1.2)
                else:
                    self.line([(cx + o, cy + t), (cx + o, cy + t + length)], colour, 1.2)

    def contours(self, centre, rings, spacing):
        cx, cy = centre
        ex = self.rnd.uniform(0.6, 1.6)
        phase = self.rnd.uniform(0, 6)
        for k in range(1, rings + 1):
            points = []
            for t in range(0, 361, 4):
                a = math.radians(t)
                r = k * spacing * (1 + 0.2 * math.sin(2 * a + phase + 0.3 * k) +
                                   0.08 * math.sin(5 * a + k))
                points.append((cx + ex * r * math.cos(a), cy + r * math.sin(a)))
            self.line(points, (176, 110, 60), 2.2 if k % 5 == 0 else 1.2)

    def road(self, points, kind):
        if kind == "cased":
            width = self.rnd.uniform(8, 14)
            self.line(points, (28, 28, 28), width + 2.5)
            self.line(points, self.rnd.choice([(245, 170, 70), (250, 250, 235), (240, 215, 90)]),
                      width)
        elif kind == "rail":
            self.line(points, (25, 25, 25), 4)
            for a, b in zip(points[::2], points[1::2]):
                self.line([a, b], (248, 248, 248), 1.5)
        elif kind == "track":
            for a, b in zip(points[::2], points[1::2]):
                self.line([a, b], (40, 40, 40), 1.5)
        else:
            self.line(points, (30, 30, 30), self.rnd.uniform(1.5, 3))

    def building(self, centre, half, angle=0.0, filled=True):
        cx, cy = centre
        c, s = math.cos(angle), math.sin(angle)
        hw, hh = half
        corners = [(cx + u * c - v * s, cy + u * s + v * c)
                   for u, v in ((-hw, -hh), (hw, -hh), (hw, hh), (-hw, hh))]
        if filled:
            self.draw.polygon(corners, fill=(28, 28, 28))
        else:
            self.line(corners + corners[:1], (28, 28, 28), 1.5)
            for t in np.arange(-2 * hw, 2 * hw, 4):
                self.line([(cx + t - hh, cy - hh), (cx + t + hh, cy + hh)], (60, 60, 60), 1)

    def text(self, centre, words, size, colour=(30, 30, 30), halo=0, angle=0.0, serif=False):
        """A label; with a halo, the white stroke around the letters covers what lies below.
        Returns the label's mask in the sheet's coordinates: (box, array 0..1)."""
        f = font(size, bold=self.rnd.random() < 0.4, serif=serif)
        probe = ImageDraw.Draw(Image.new("L", (1, 1)))
        l, t, r, b = probe.textbbox((0, 0), words, font=f, stroke_width=halo)
        pad = 4
        layer = Image.new("L", (r - l + 2 * pad, b - t + 2 * pad), 0)
        ink = Image.new("L", layer.size, 0)
        ImageDraw.Draw(layer).text((pad - l, pad - t), words, font=f, fill=255,
                                   stroke_width=halo, stroke_fill=255)
        ImageDraw.Draw(ink).text((pad - l, pad - t), words, font=f, fill=255)
        if angle:
            layer = layer.rotate(angle, expand=True, resample=Image.BILINEAR)
            ink = ink.rotate(angle, expand=True, resample=Image.BILINEAR)
        x0 = int(round(centre[0] - layer.size[0] / 2))
        y0 = int(round(centre[1] - layer.size[1] / 2))
        box = (x0, y0, x0 + layer.size[0], y0 + layer.size[1])
        w, h = self.recipe.size
        if box[0] < 0 or box[1] < 0 or box[2] > w or box[3] > h:
            return None
        if halo:
            self.composite(box, np.asarray(layer).astype(np.float32) / 255, self.paper)
        self.composite(box, np.asarray(ink).astype(np.float32) / 255, colour)
        return box, np.asarray(layer if halo else ink).astype(np.float32) / 255

    # --- the grid ---
    def grid(self):
        """The printed grid: lines (or crosses) of exact coverage, and the frame."""
        s, lay = self.recipe, self.layout
        nx, ny = s.nodes
        pixels = np.array(self.image)
        ink = np.array([255 - s.ink] * 3, np.float32)
        if s.kind == "topo" and self.rnd.random() < 0.2:
            ink = np.array([255 - s.ink, 255 - s.ink * 0.9, 255 - s.ink * 0.75], np.float32)
        reach_x = s.frame * s.step[0]
        reach_y = s.frame * s.step[1]

        def stripe(centre, width, start, end, down):
            """Exact coverage of the line centre ± width / 2 over the pixels across it."""
            first = int(math.floor(centre - width / 2 - 0.5))
            last = int(math.ceil(centre + width / 2 + 0.5))
            a, b = int(math.floor(start)), int(math.ceil(end))
            for p in range(first, last + 1):
                cover = max(0.0, min(p + 0.5, centre + width / 2) - max(p - 0.5, centre - width / 2))
                if cover <= 0:
                    continue
                if down:
                    part = pixels[a:b, p, :].astype(np.float32)
                    pixels[a:b, p, :] = part * (1 - cover) + ink * cover
                else:
                    part = pixels[p, a:b, :].astype(np.float32)
                    pixels[p, a:b, :] = part * (1 - cover) + ink * cover

        if s.cross:
            for j in range(ny):
                for i in range(nx):
                    x, y = lay.node(i, j)
                    stripe(y, s.line, x - s.cross, x + s.cross + 1, False)
                    stripe(x, s.line, y - s.cross, y + s.cross + 1, True)
        else:
            for j in range(ny):
                _, y = lay.node(0, j)
                stripe(y, s.line, lay.left - reach_x, lay.right + reach_x + 1, False)
            for i in range(nx):
                x, _ = lay.node(i, 0)
                stripe(x, s.line, lay.top - reach_y, lay.bottom + reach_y + 1, True)
        self.image = Image.fromarray(pixels)
        self.draw = ImageDraw.Draw(self.image)
        if s.kind == "topo":
            self.frame(reach_x, reach_y)

    def frame(self, reach_x, reach_y):
        """The inner frame where the lines end, the striped frame of minutes, the outer frame
        and the grid's figures outside."""
        s, lay = self.recipe, self.layout
        l, t = lay.left - reach_x, lay.top - reach_y
        r, b = lay.right + reach_x, lay.bottom + reach_y
        black = (24, 24, 24)
        self.line([(l, t), (r, t), (r, b), (l, b), (l, t)], black, 2)
        band = 8
        for k, x in enumerate(np.arange(l, r, 60)):
            if k % 2 == 0:
                self.draw.rectangle([x, t - 4 - band, min(r, x + 60), t - 4], fill=black)
                self.draw.rectangle([x, b + 4, min(r, x + 60), b + 4 + band], fill=black)
        for k, y in enumerate(np.arange(t, b, 60)):
            if k % 2 == 0:
                self.draw.rectangle([l - 4 - band, y, l - 4, min(b, y + 60)], fill=black)
                self.draw.rectangle([r + 4, y, r + 4 + band, min(b, y + 60)], fill=black)
        self.line([(l - 4 - band, t - 4 - band), (r + 4 + band, t - 4 - band),
                   (r + 4 + band, b + 4 + band), (l - 4 - band, b + 4 + band),
                   (l - 4 - band, t - 4 - band)], black, 1)
        self.line([(l - 30, t - 30), (r + 30, t - 30), (r + 30, b + 30), (l - 30, b + 30),
                   (l - 30, t - 30)], black, 5)
        nx, ny = s.nodes
        for i in range(nx):
            x, _ = lay.node(i, 0)
            self.text((x, t - 52), f"{40 + i:02d}", 22)
            self.text((x, b + 52), f"{40 + i:02d}", 22)
        for j in range(ny):
            _, y = lay.node(0, j)
            self.text((l - 60, y), f"{70 - j:02d}", 22)
            self.text((r + 60, y), f"{70 - j:02d}", 22)
        if reach_x < 40 or reach_y < 40:
            for i in range(nx):
                self.tags[(i, 0)].add("frame")
                self.tags[(i, ny - 1)].add("frame")
            for j in range(ny):
                self.tags[(0, j)].add("frame")
                self.tags[(nx - 1, j)].add("frame")

    # --- the whole sheet ---
    def background(self):
        """Map content spread over the whole sheet, under the grid."""
        s = self.recipe
        w, h = s.size
        area = w * h / 1e6
        rnd = self.rnd
        if s.kind == "topo":
            for _ in range(int(area * 1.2)):
                self.woods((rnd.uniform(0, w), rnd.uniform(0, h)), rnd.uniform(80, 400))
            for _ in range(int(area * 0.5)):
                self.water((rnd.uniform(0, w), rnd.uniform(0, h)), rnd.uniform(40, 200))
            for _ in range(int(area * 0.5)):
                self.marsh((rnd.uniform(0, w), rnd.uniform(0, h)), rnd.uniform(30, 120))
            for _ in range(int(area * 4)):
                self.contours((rnd.uniform(0, w), rnd.uniform(0, h)), rnd.randint(3, 16),
                              rnd.uniform(8, 30))
            for _ in range(int(area * 0.6)):
                start = (rnd.uniform(0, w), rnd.uniform(0, h))
                a = rnd.uniform(0, 2 * math.pi)
                self.line(self.curve(start, (math.cos(a), math.sin(a)), rnd.uniform(500, 3000),
                                     0.03), (50, 100, 180), rnd.uniform(1.5, 4))
            for _ in range(int(area * 0.8)):
                start = (rnd.uniform(0, w), rnd.uniform(0, h))
                a = rnd.uniform(0, 2 * math.pi)
                self.road(self.curve(start, (math.cos(a), math.sin(a)), rnd.uniform(600, 4000),
                                     0.01, 10), rnd.choice(["cased", "plain", "rail", "track"]))
            for _ in range(int(area * 1.5)):
                cx, cy, a = rnd.uniform(0, w), rnd.uniform(0, h), rnd.uniform(0, math.pi)
                for _ in range(rnd.randint(5, 25)):
                    self.building((cx + rnd.uniform(-80, 80), cy + rnd.uniform(-80, 80)),
                                  (rnd.uniform(3, 10), rnd.uniform(3, 8)), a)
            for _ in range(int(area * 12)):
                self.text((rnd.uniform(0, w), rnd.uniform(0, h)), rnd.choice(WORDS),
                          rnd.uniform(10, 34), rnd.choice([(30, 30, 30), (40, 90, 160),
                                                           (150, 90, 50)]),
                          angle=rnd.choice([0, 0, 0, rnd.uniform(-40, 40)]),
                          serif=rnd.random() < 0.5)
        else:
            for _ in range(int(area * 25)):
                start = (rnd.uniform(0, w), rnd.uniform(0, h))
                a = rnd.uniform(0, 2 * math.pi)
                length = rnd.uniform(100, 1500)
                self.line([start, (start[0] + length * math.cos(a),
                                   start[1] + length * math.sin(a))], (35, 35, 35),
                          rnd.choice([1, 1.5, 2]))
            for _ in range(int(area * 5)):
                self.building((rnd.uniform(0, w), rnd.uniform(0, h)),
                              (rnd.uniform(8, 40), rnd.uniform(8, 30)), rnd.uniform(0, math.pi),
                              filled=rnd.random() < 0.3)
            for _ in range(int(area * 20)):
                self.text((rnd.uniform(0, w), rnd.uniform(0, h)), str(rnd.randint(1, 999)),
                          rnd.uniform(9, 20), angle=rnd.choice([0, 0, 90]))

    def clutter_at_nodes(self):
        """Clutter of its own at a share of the crossings, of the kinds that mislead a search."""
        s, lay, rnd = self.recipe, self.layout, self.rnd
        nx, ny = s.nodes
        kinds_topo = ["beside", "cased", "rail", "contour", "hatching", "marsh", "building",
                      "text", "label", "road", "woods"]
        kinds_plan = ["parcel", "parcel", "building", "text", "label", "road"]
        for j in range(ny):
            for i in range(nx):
                if rnd.random() >= s.busy:
                    continue
                for kind in rnd.sample(kinds_topo if s.kind == "topo" else kinds_plan,
                                       rnd.choice([1, 1, 2])):
                    self.clutter(i, j, kind)

    def clutter(self, i, j, kind):
        s, lay, rnd = self.recipe, self.layout, self.rnd
        x, y = lay.node(i, j)
        across = rnd.random() < 0.5
        sx, sy = s.step
        cell = sx if across else sy
        # A point on the node's line across (or down), and the unit vectors along and across it.
        ax, ay = (1.0, 0.0) if across else (0.0, 1.0)
        nx_, ny_ = -ay, ax
        tag = kind
        if kind in ("beside", "rail"):
            offset = rnd.choice([-1, 1]) * rnd.uniform(3, 25)
            tilt = math.radians(rnd.uniform(-0.6, 0.6))
            length = rnd.uniform(1, 3) * cell
            start = -rnd.uniform(0.2, 1) * length
            points = []
            for t in np.linspace(start, start + length, 60):
                o = offset + t * tilt + 1.5 * math.sin(t / cell * math.pi)
                points.append((x + t * ax + o * nx_, y + t * ay + o * ny_))
            self.road(points, "rail" if kind == "rail" else "plain")
        elif kind == "cased":
            length = rnd.uniform(1, 2.5) * cell
            start = -rnd.uniform(0.2, 1) * length
            o = rnd.uniform(-1, 1)
            points = [(x + t * ax + o * nx_, y + t * ay + o * ny_)
                      for t in np.linspace(start, start + length, 40)]
            self.road(points, "cased")
        elif kind == "contour":
            for k in range(rnd.randint(1, 4)):
                angle = math.radians(rnd.uniform(0.3, 2) * rnd.choice([-1, 1]))
                offset = rnd.uniform(-10, 10) + 12 * k
                length = rnd.uniform(1, 2) * cell
                points = []
                for t in np.linspace(-length / 2, length / 2, 80):
                    o = offset + t * math.tan(angle) + 3 * math.sin(t / 90)
                    points.append((x + t * ax + o * nx_, y + t * ay + o * ny_))
                self.line(points, (176, 110, 60), rnd.choice([1.2, 1.2, 2.2]))
        elif kind == "hatching":
            self.water((x + rnd.uniform(-30, 30), y + rnd.uniform(-30, 30)),
                       rnd.uniform(30, 90), along=across)
        elif kind == "marsh":
            self.marsh((x + rnd.uniform(-10, 10), y + rnd.uniform(-10, 10)),
                       rnd.uniform(25, 60), along=across)
        elif kind == "building":
            # Small ones may lie on the crossing: the lines come out of them within a few pixels.
            d = rnd.uniform(0, 16)
            most = 7 if d < 8 else 9
            half = (rnd.uniform(2.5, most), rnd.uniform(2.5, most))
            a = rnd.uniform(0, 2 * math.pi)
            self.building((x + d * math.cos(a), y + d * math.sin(a)), half,
                          rnd.uniform(0, math.pi), filled=rnd.random() < 0.8)
        elif kind == "text":
            # Words without a halo, over the crossing or its arms.
            self.text((x + rnd.uniform(-25, 25), y + rnd.uniform(-12, 12)), rnd.choice(WORDS),
                      rnd.uniform(10, 26), angle=rnd.choice([0, 0, 90, rnd.uniform(-30, 30)]))
        elif kind == "label":
            # A label with a halo beside the crossing: it cuts the arms a few pixels from it.
            words, size, halo = rnd.choice(WORDS), rnd.uniform(12, 30), rnd.randint(2, 4)
            f = font(size)
            probe = ImageDraw.Draw(Image.new("L", (1, 1)))
            l, t, r, b = probe.textbbox((0, 0), words, font=f, stroke_width=halo)
            gap = rnd.uniform(4, 12)
            side = rnd.randint(0, 3)
            w, h = r - l + 8, b - t + 8
            centre = [(x - gap - w / 2, y + rnd.uniform(-h / 2, h / 2)),
                      (x + gap + w / 2, y + rnd.uniform(-h / 2, h / 2)),
                      (x + rnd.uniform(-w / 2, w / 2), y - gap - h / 2),
                      (x + rnd.uniform(-w / 2, w / 2), y + gap + h / 2)][side]
            self.text(centre, words, size, halo=halo)
        elif kind == "road":
            # A road through the crossing or close by, at a slant.
            a = rnd.uniform(0, math.pi)
            d = rnd.uniform(-8, 8)
            length = rnd.uniform(0.6, 1.5) * cell
            points = [(x + t * math.cos(a) - d * math.sin(a), y + t * math.sin(a) + d * math.cos(a))
                      for t in np.linspace(-length / 2, length / 2, 30)]
            self.road(points, rnd.choice(["cased", "plain", "track"]))
        elif kind == "woods":
            self.woods((x + rnd.uniform(-60, 60), y + rnd.uniform(-60, 60)), rnd.uniform(60, 160))
        elif kind == "parcel":
            # A parcel line past the cross: along one of its arms a few pixels off, or across it.
            if rnd.random() < 0.6:
                offset = rnd.choice([-1, 1]) * rnd.uniform(3, 10)
                tilt = math.radians(rnd.uniform(-3, 3))
                length = rnd.uniform(0.5, 2) * cell
                start = -rnd.uniform(0, 1) * length
                points = [(x + t * ax + (offset + t * math.tan(tilt)) * nx_,
                           y + t * ay + (offset + t * math.tan(tilt)) * ny_)
                          for t in (start, start + length)]
            else:
                a = rnd.uniform(0, math.pi)
                d = rnd.uniform(-6, 6)
                length = rnd.uniform(0.5, 2) * cell
                points = [(x + t * math.cos(a) - d * math.sin(a),
                           y + t * math.sin(a) + d * math.cos(a))
                          for t in (-length / 2, length / 2)]
            self.line(points, (35, 35, 35), rnd.choice([1, 1.5, 2]))
        self.tags[(i, j)].add(tag)

    def hide(self):
        """Labels with white halos over the lines between the crossings, cutting them, and over a
        few crossings, which lie well inside the halo."""
        s, lay, rnd = self.recipe, self.layout, self.rnd
        nx, ny = s.nodes
        w, h = s.size
        nodes = np.array([lay.node(i, j) for j in range(ny) for i in range(nx)])
        for _ in range(int(w * h / 1e6 * 6)):
            words, size = rnd.choice(WORDS), rnd.uniform(12, 34)
            centre = (rnd.uniform(0, w), rnd.uniform(0, h))
            if np.min(np.hypot(nodes[:, 0] - centre[0], nodes[:, 1] - centre[1])) < 30 + 6 * size:
                continue
            self.text(centre, words, size, halo=rnd.randint(2, 4),
                      colour=rnd.choice([(30, 30, 30), (40, 90, 160)]))
        inner = [(i, j) for j in range(1, ny - 1) for i in range(1, nx - 1)]
        labelled = rnd.sample(inner, min(len(inner), (s.hidden + 1) // 2))
        for i, j in labelled:
            x, y = lay.node(i, j)
            for _ in range(20):
                placed = self.text((x + rnd.uniform(-20, 20), y + rnd.uniform(-4, 4)),
                                   rnd.choice(WORDS), rnd.uniform(26, 40), halo=4)
                if placed is None:
                    break
                box, mask = placed
                px, py = int(round(x)) - box[0], int(round(y)) - box[1]
                near = mask[max(0, py - 5):py + 6, max(0, px - 5):px + 6]
                if near.shape == (11, 11) and near.min() > 0.99:
                    self.hidden.add((i, j))
                    self.tags[(i, j)].add("hidden-label")
                    break
        return [n for n in inner if n not in labelled]


def scan(recipe, layout, flat, rnd, blots):
    """The scanner's picture of the flat sheet, as numpy (height, width, 3) of light."""
    w, h = recipe.size
    source = np.asarray(flat.image)
    out = np.empty((h, w, 3), np.uint8)
    paper = np.array(flat.paper, np.float32)
    band = 256
    cx, cy = w / 2, h / 2
    for y0 in range(0, h, band):
        y1 = min(h, y0 + band)
        yy, xx = np.mgrid[y0:y1, 0:w].astype(np.float64)
        fx, fy = layout.to_flat(xx, yy)
        x0 = np.floor(fx).astype(np.int64)
        yi = np.floor(fy).astype(np.int64)
        wx = (fx - x0).astype(np.float32)[..., None]
        wy = (fy - yi).astype(np.float32)[..., None]
        inside = (x0 >= 0) & (yi >= 0) & (x0 + 1 < w) & (yi + 1 < h)
        xa, ya = np.clip(x0, 0, w - 2), np.clip(yi, 0, h - 2)
        light = ((source[ya, xa] * (1 - wx) + source[ya, xa + 1] * wx) * (1 - wy) +
                 (source[ya + 1, xa] * (1 - wx) + source[ya + 1, xa + 1] * wx) * wy)
        light = np.where(inside[..., None], light, paper)
        if layout.fold:
            (nx, ny), c, _, width = layout.fold
            d = (nx * xx + ny * yy - c)
            shade = 1 - 0.22 * np.exp(-(d / 3.0) ** 2) + 0.05 * np.exp(-((d - 5) / 3.0) ** 2)
            light = light * shade[..., None].astype(np.float32)
        if recipe.vignette:
            r2 = ((xx - cx) / cx) ** 2 + ((yy - cy) / cy) ** 2
            light = light * (1 - recipe.vignette * 0.5 * r2)[..., None].astype(np.float32)
        out[y0:y1] = np.clip(light, 0, 255).astype(np.uint8)
    image = Image.fromarray(out)
    draw = ImageDraw.Draw(image)
    # Ink blots: those on crossings hide them; others lie anywhere.
    for bx, by, radius in blots:
        draw.ellipse([bx - radius, by - radius, bx + radius, by + radius], fill=(40, 44, 70))
        for _ in range(10):
            r = rnd.uniform(0.3, 0.6) * radius
            a, d = rnd.uniform(0, 2 * math.pi), rnd.uniform(0.5, 1.1) * radius
            ex, ey = bx + d * math.cos(a), by + d * math.sin(a)
            draw.ellipse([ex - r, ey - r, ex + r, ey + r], fill=(40, 44, 70))
    if recipe.blur > 0:
        image = image.filter(ImageFilter.GaussianBlur(recipe.blur))
    pixels = np.array(image)
    noise = np.random.default_rng(recipe.seed)
    for y0 in range(0, h, band):
        y1 = min(h, y0 + band)
        grain = noise.normal(0, recipe.noise, (y1 - y0, w, 1)).astype(np.float32)
        pixels[y0:y1] = np.clip(pixels[y0:y1].astype(np.float32) + grain, 0, 255).astype(np.uint8)
    image = Image.fromarray(pixels)
    del pixels
    if recipe.depth != "rgb":
        image = image.convert("L")
    if recipe.jpeg:
        data = io.BytesIO()
        image.save(data, "JPEG", quality=45)
        image = Image.open(io.BytesIO(data.getvalue()))
        image.load()
    if recipe.depth == "bw":
        image = image.point(lambda v: 255 if v >= 150 else 0).convert("1", dither=Image.NONE)
    elif recipe.depth == "dither":
        image = image.convert("1")
    return image


def make(recipe, directory):
    rnd = random.Random(recipe.seed)
    layout = Layout(recipe, rnd)
    flat = Flat(recipe, layout, rnd)
    flat.background()
    flat.clutter_at_nodes()
    flat.grid()
    rest = flat.hide()
    nx, ny = recipe.nodes
    fx = np.array([layout.node(i, j)[0] for j in range(ny) for i in range(nx)])
    fy = np.array([layout.node(i, j)[1] for j in range(ny) for i in range(nx)])
    tx, ty = layout.to_scan(fx, fy)
    blots = []
    for i, j in rnd.sample(rest, min(len(rest), recipe.hidden // 2)):
        k = i + j * nx
        blots.append((tx[k] + rnd.uniform(-4, 4), ty[k] + rnd.uniform(-4, 4), rnd.uniform(18, 34)))
        flat.hidden.add((i, j))
        flat.tags[(i, j)].add("hidden-blot")
    w, h = recipe.size
    for _ in range(int(w * h / 4e6)):
        bx, by = rnd.uniform(0, w), rnd.uniform(0, h)
        distance = np.min(np.hypot(tx - bx, ty - by))
        radius = rnd.uniform(6, 20)
        if distance > radius + 30:
            blots.append((bx, by, radius))
    image = scan(recipe, layout, flat, rnd, blots)
    base = os.path.join(directory, recipe.name)
    image.save(base + ".bmp.part", "BMP", dpi=(300, 300))
    lattice = {"origin": [round(layout.left), round(layout.top)],
               "step": [round(recipe.step[0]), round(recipe.step[1])]}
    cells = [nx - 1, ny - 1]
    nodes = []
    for j in range(ny):
        for i in range(nx):
            k = i + j * nx
            nodes.append({"i": i, "j": j, "x": round(float(tx[k]), 4), "y": round(float(ty[k]), 4),
                          "hidden": (i, j) in flat.hidden, "tags": sorted(flat.tags[(i, j)])})
    corners = [{"i": i, "j": j, "x": round(float(tx[i + j * nx])),
                "y": round(float(ty[i + j * nx]))}
               for i, j in ((0, 0), (nx - 1, 0), (0, ny - 1), (nx - 1, ny - 1))
               if (i, j) not in flat.hidden]
    with open(base + ".grid.json", "w") as f:
        json.dump({"cells": cells, **lattice}, f)
    with open(base + ".corners.json", "w") as f:
        json.dump({"cells": cells, **lattice, "nodes": corners}, f)
    with open(base + ".truth.json", "w") as f:
        json.dump({"name": recipe.name, "width": w, "height": h, "cells": cells, "nodes": nodes,
                   "recipe": dataclasses.asdict(recipe)}, f)
    os.replace(base + ".bmp.part", base + ".bmp")


def main(argv):
    sheets = sheet_set()
    if argv[1:2] == ["--list"]:
        for recipe in sheets:
            print(recipe.name)
        return 0
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    directory = argv[1]
    os.makedirs(directory, exist_ok=True)
    wanted = set(argv[2:])
    for recipe in sheets:
        if wanted and recipe.name not in wanted:
            continue
        if os.path.exists(os.path.join(directory, recipe.name + ".bmp")):
            continue
        print(f"making {recipe.name} ({recipe.size[0]} × {recipe.size[1]})", file=sys.stderr, flush=True)
        make(recipe, directory)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
