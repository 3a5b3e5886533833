"""A synthetic scan of a topographic map sheet, as our users digitise them: light paper with roads,
a river and a lake, woods, villages, contour lines and names, a printed kilometre grid, and the
faults of a real scan: the sheet came out turned, shrunk and bent, with noise, blur, yellowed edges
and an ink blot that hides one of the grid's crossings."""

import math
import random

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

WIDTH, HEIGHT = 1400, 1000
RESOLUTION = 3937  # dots per metre: 100 dots per inch, 39.37 pixels per centimetre
PX_PER_CM = RESOLUTION / 100
# The printed grid in centimetres of paper: its left and top edges, its size and its cells.
GRID_CM = (2.0, 2.0, 30.0, 20.0)
CELLS = (6, 4)
# The crossing that the ink blot hides.
BLOTTED = (4, 1)

FONTS = "/usr/share/fonts/truetype/dejavu/"
PAPER = (243, 237, 219)
INK = (38, 36, 40)
WATER = (58, 112, 178)
WATER_FILL = (196, 222, 240)
WOOD = (203, 226, 184)
RELIEF = (176, 118, 70)
ROAD = (246, 186, 84)

SCALE = 2  # drawn at twice the size and reduced: smooth lines and letters


def font(name, size):
    return ImageFont.truetype(FONTS + name, size * SCALE)


def grid_node(i, j):
    """Where crossing (i, j) of the printed grid lies on the flat sheet, in pixels."""
    left, top, width, height = (v * PX_PER_CM for v in GRID_CM)
    return left + i * width / CELLS[0], top + j * height / CELLS[1]


def bend(x, y):
    """Where the scan shows the sheet's point (x, y): turned by 0.6 degrees, shrunk by one per
    cent and bent by the scanner's uneven pull."""
    cx, cy = WIDTH / 2, HEIGHT / 2
    a, s = math.radians(0.6), 0.99
    dx, dy = x - cx, y - cy
    x1 = cx + s * (dx * math.cos(a) - dy * math.sin(a))
    y1 = cy + s * (dx * math.sin(a) + dy * math.cos(a))
    return (x1 + 8 * math.sin(y / 240 + 0.5) + 4 * math.sin(x / 380),
            y1 + 7 * math.sin(x / 310) - 4 * math.cos(y / 270))


def unbend(x, y):
    """The sheet's point that the scan shows at (x, y)."""
    sx, sy = x, y
    for _ in range(30):
        bx, by = bend(sx, sy)
        sx, sy = sx + x - bx, sy + y - by
    return sx, sy


def scanned_node(i, j):
    """Where the scan shows crossing (i, j), in pixels."""
    return bend(*grid_node(i, j))


def smooth(points, steps=12):
    """A Catmull-Rom curve through the points."""
    out = []
    p = [points[0]] + list(points) + [points[-1]]
    for k in range(1, len(p) - 2):
        for t in range(steps):
            u = t / steps
            out.append(tuple(
                0.5 * ((2 * p[k][c]) + (-p[k - 1][c] + p[k + 1][c]) * u +
                       (2 * p[k - 1][c] - 5 * p[k][c] + 4 * p[k + 1][c] - p[k + 2][c]) * u * u +
                       (-p[k - 1][c] + 3 * p[k][c] - 3 * p[k + 1][c] + p[k + 2][c]) * u ** 3)
                for c in range(2)))
    out.append(points[-1])
    return out


class Sheet:
    """The flat sheet, drawn at SCALE times its size."""

    def __init__(self):
        self.image = Image.new("RGB", (WIDTH * SCALE, HEIGHT * SCALE), PAPER)
        self.draw = ImageDraw.Draw(self.image)
        self.random = random.Random(12)

    def at(self, points):
        return [(x * SCALE, y * SCALE) for x, y in points]

    def line(self, points, colour, width, curve=True):
        path = self.at(smooth(points) if curve else points)
        self.draw.line(path, fill=colour, width=round(width * SCALE), joint="curve")

    def area(self, points, fill, outline=None, width=1):
        path = self.at(smooth(points + points[:1]))
        self.draw.polygon(path, fill=fill)
        if outline:
            self.draw.line(path, fill=outline, width=round(width * SCALE), joint="curve")

    def text(self, xy, words, size, colour=INK, face="DejaVuSans.ttf", angle=0):
        f = font(face, size)
        box = self.draw.textbbox((0, 0), words, font=f)
        label = Image.new("RGBA", (box[2] + 4, box[3] + 4), (0, 0, 0, 0))
        ImageDraw.Draw(label).text((2, 2), words, font=f, fill=colour)
        if angle:
            label = label.rotate(angle, expand=True, resample=Image.BICUBIC)
        x, y = xy
        self.image.paste(label, (round(x * SCALE - label.width / 2),
                                 round(y * SCALE - label.height / 2)), label)

    def woods(self, outline):
        self.area(outline, WOOD, (120, 160, 100), 1)
        left = min(x for x, _ in outline)
        right = max(x for x, _ in outline)
        top = min(y for _, y in outline)
        bottom = max(y for _, y in outline)
        mask = Image.new("L", self.image.size, 0)
        ImageDraw.Draw(mask).polygon(self.at(smooth(outline + outline[:1])), fill=255)
        for y in range(int(top) + 8, int(bottom), 22):
            for x in range(int(left) + 8 + (y // 22 % 2) * 11, int(right), 22):
                if mask.getpixel((x * SCALE, y * SCALE)):
                    r = 3 * SCALE
                    self.draw.ellipse([x * SCALE - r, y * SCALE - r, x * SCALE + r, y * SCALE + r],
                                      outline=(90, 140, 80), width=SCALE)

    def village(self, centre, count, spread, angle):
        cx, cy = centre
        for _ in range(count):
            along = self.random.uniform(-spread, spread)
            aside = self.random.choice((-1, 1)) * self.random.uniform(9, 20)
            a = math.radians(angle)
            x = cx + along * math.cos(a) - aside * math.sin(a)
            y = cy + along * math.sin(a) + aside * math.cos(a)
            w, h = self.random.uniform(5, 9), self.random.uniform(4, 7)
            corners = [(-w, -h), (w, -h), (w, h), (-w, h)]
            self.draw.polygon(self.at([(x + u * math.cos(a) - v * math.sin(a),
                                        y + u * math.sin(a) + v * math.cos(a))
                                       for u, v in corners]), fill=INK)

    def contours(self, centre, rings):
        cx, cy = centre
        for k in range(1, rings + 1):
            points = []
            for t in range(0, 360, 30):
                r = k * 26 * (1 + 0.18 * math.sin(math.radians(t * 2) + k))
                points.append((cx + 1.5 * r * math.cos(math.radians(t)),
                               cy + r * math.sin(math.radians(t))))
            self.area(points, None, RELIEF, 1.2 if k % 5 else 2)

    def road(self, points, main):
        if main:
            self.line(points, INK, 9)
            self.line(points, ROAD, 6)
        else:
            self.line(points, INK, 2.5)

    def track(self, points):
        """A field track: a dashed line."""
        path = smooth(points)
        for k in range(0, len(path) - 1, 2):
            self.line([path[k], path[k + 1]], INK, 1.5, curve=False)

    def railway(self, points):
        self.line(points, INK, 5, curve=False)
        self.line(points, (250, 250, 250), 2.5, curve=False)

    def grid(self):
        # The map ends at the frame.
        left, top = grid_node(0, 0)
        right, bottom = grid_node(*CELLS)
        inside = [(left - 12) * SCALE, (top - 12) * SCALE, (right + 12) * SCALE,
                  (bottom + 12) * SCALE]
        w, h = self.image.size
        for box in ([0, 0, w, inside[1]], [0, inside[3], w, h], [0, 0, inside[0], h],
                    [inside[2], 0, w, h]):
            self.draw.rectangle(box, fill=PAPER)
        for i in range(CELLS[0] + 1):
            self.line([grid_node(i, 0), grid_node(i, CELLS[1])], INK, 2, curve=False)
        for j in range(CELLS[1] + 1):
            self.line([grid_node(0, j), grid_node(CELLS[0], j)], INK, 2, curve=False)
        self.line([(left - 12, top - 12), (right + 12, top - 12), (right + 12, bottom + 12),
                   (left - 12, bottom + 12), (left - 12, top - 12)], INK, 3, curve=False)
        for i in range(CELLS[0] + 1):
            x, _ = grid_node(i, 0)
            self.text((x, top - 28), f"{62 + 2 * i}", 15)
            self.text((x, bottom + 28), f"{62 + 2 * i}", 15)
        for j in range(CELLS[1] + 1):
            _, y = grid_node(0, j)
            self.text((left - 38, y), f"{18 - 2 * j:02d}", 15)
            self.text((right + 38, y), f"{18 - 2 * j:02d}", 15)


def flat_sheet():
    s = Sheet()
    s.woods([(90, 120), (300, 95), (420, 180), (380, 330), (230, 360), (110, 280)])
    s.woods([(880, 560), (1080, 520), (1230, 610), (1210, 800), (1010, 840), (900, 720)])
    s.woods([(560, 700), (700, 660), (760, 760), (640, 840), (540, 800)])
    s.contours((640, 330), 4)
    s.contours((1100, 250), 3)
    s.area([(330, 560), (430, 520), (520, 570), (500, 660), (380, 680), (310, 630)],
           WATER_FILL, WATER, 2)
    s.line([(80, 470), (200, 500), (330, 590), (480, 650), (600, 620), (760, 560), (900, 470),
            (1040, 430), (1180, 460), (1320, 420)], WATER, 3.5)
    s.railway([(80, 760), (500, 700), (900, 640), (1320, 560)])
    s.road([(80, 240), (300, 420), (520, 440), (760, 380), (980, 330), (1320, 300)], True)
    s.line([(1180, 120), (1150, 260), (1190, 380), (1180, 460)], WATER, 2)
    s.line([(160, 900), (260, 820), (330, 680)], WATER, 2)
    s.track([(300, 420), (330, 300), (470, 200), (600, 150)])
    s.track([(1100, 880), (1200, 860), (1320, 880)])
    s.road([(520, 440), (560, 600), (620, 880)], False)
    s.road([(760, 380), (800, 200), (860, 80)], False)
    s.road([(980, 330), (1040, 560), (1100, 880)], False)
    s.village((540, 460), 18, 55, 10)
    s.village((1000, 345), 14, 45, -8)
    s.village((240, 400), 10, 40, 38)
    s.grid()
    s.text((470, 500), "Сосновка", 22, face="DejaVuSans-Bold.ttf")
    s.text((1000, 395), "Заречье", 20, face="DejaVuSans-Bold.ttf")
    s.text((215, 470), "Ключи", 16, face="DejaVuSans-Bold.ttf")
    s.text((1240, 200), "руч. Сухой", 13, WATER, "DejaVuSerif.ttf", angle=80)
    s.text((470, 190), "пол. дор.", 12, face="DejaVuSerif.ttf", angle=20)
    s.text((700, 590), "р. Вельма", 17, WATER, "DejaVuSerif.ttf", angle=18)
    s.text((420, 600), "оз. Круглое", 15, WATER, "DejaVuSerif.ttf")
    s.text((250, 230), "ур. Лесное", 15, (60, 100, 50), "DejaVuSerif.ttf")
    s.text((640, 330), "• 214,6", 14)
    s.text((1100, 250), "• 187,3", 14)
    s.text((700, 930), "Лист N-37-14-Б     Масштаб 1:25 000", 20, face="DejaVuSerif.ttf")
    return s.image.resize((WIDTH, HEIGHT), Image.LANCZOS)


def scanned(sheet):
    """What the scanner makes of the flat sheet."""
    step = 20
    mesh = []
    for y in range(0, HEIGHT, step):
        for x in range(0, WIDTH, step):
            box = (x, y, min(x + step, WIDTH), min(y + step, HEIGHT))
            corners = [unbend(box[0], box[1]), unbend(box[0], box[3]),
                       unbend(box[2], box[3]), unbend(box[2], box[1])]
            mesh.append((box, [c for corner in corners for c in corner]))
    scan = sheet.transform((WIDTH, HEIGHT), Image.MESH, mesh, Image.BILINEAR, fillcolor=PAPER)

    # The blot: a dark splash on one crossing.
    draw = ImageDraw.Draw(scan)
    bx, by = scanned_node(*BLOTTED)
    rnd = random.Random(3)
    for _ in range(14):
        r = rnd.uniform(5, 13)
        x, y = bx + rnd.uniform(-10, 10), by + rnd.uniform(-9, 9)
        draw.ellipse([x - r, y - r, x + r, y + r], fill=(44, 48, 78))
    # Yellowed edges and a coffee ring.
    shade = Image.new("L", (WIDTH, HEIGHT), 0)
    ImageDraw.Draw(shade).rectangle([0, 0, WIDTH - 1, HEIGHT - 1], outline=255, width=30)
    shade = shade.filter(ImageFilter.GaussianBlur(28))
    scan = Image.composite(Image.new("RGB", scan.size, (222, 206, 170)), scan,
                           shade.point(lambda v: v * 0.6))
    ring = Image.new("L", (WIDTH, HEIGHT), 0)
    ImageDraw.Draw(ring).ellipse([1150, 640, 1290, 770], outline=90, width=5)
    ring = ring.filter(ImageFilter.GaussianBlur(3))
    scan = Image.composite(Image.new("RGB", scan.size, (190, 150, 100)), scan, ring)

    scan = scan.filter(ImageFilter.GaussianBlur(0.6))
    # The scanner's noise, the same in every run, so that pictures made again differ only where
    # the program does.
    rnd = random.Random(5)
    noise = bytes(max(0, min(255, round(128 + rnd.gauss(0, 5)))) for _ in range(WIDTH * HEIGHT))
    return ImageChops.add(scan, Image.frombytes("L", (WIDTH, HEIGHT), noise).convert("RGB"), 1.0,
                          -128)


def make_scan():
    """The scan as an RGB image."""
    return scanned(flat_sheet())
