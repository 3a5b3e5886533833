#!/usr/bin/python3
"""Draws the pictures of the drawing styles and cursors into patterns/ and cursors/ beside this
script: the nine 8 x 8 density patterns HOLLOW_2 ... HOLLOW_10 as 1-bit BMPs (a 0 bit, black, is a
painted pixel) and the mouse cursors as 32 x 32 PNGs whose hot spot is kept in the text fields
HotSpotX and HotSpotY. Needs Pillow (Debian's python3-pil): /usr/bin/python3 make_drawing_resources.py
"""
import math
import os

from PIL import Image, ImageDraw, ImageFilter
from PIL.PngImagePlugin import PngInfo

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 32
BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)

# Rows from the top, one byte per row, the leftmost pixel in the high bit; 0 bits are painted.
DENSITIES = {
    2: [0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF],
    3: [0x77, 0xFF, 0xFF, 0xFF, 0x77, 0xFF, 0xFF, 0xFF],
    4: [0x77, 0xFF, 0xDD, 0xFF, 0x77, 0xFF, 0xDD, 0xFF],
    5: [0x55, 0xFF, 0x55, 0xFF, 0x55, 0xFF, 0x55, 0xFF],
    6: [0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA],
    7: [0x55, 0x00, 0x55, 0x00, 0x55, 0x00, 0x55, 0x00],
    8: [0x11, 0x00, 0x44, 0x00, 0x11, 0x00, 0x44, 0x00],
    9: [0x11, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00],
    10: [0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00],
}


def write_patterns():
    folder = os.path.join(HERE, "patterns")
    os.makedirs(folder, exist_ok=True)
    for level, rows in DENSITIES.items():
        image = Image.new("1", (8, 8))
        for y, row in enumerate(rows):
            for x in range(8):
                image.putpixel((x, y), (row >> (7 - x)) & 1)
        image.save(os.path.join(folder, "HOLLOW_%d.bmp" % level))


class Cursor:
    """A cursor picture built in layers. Each layer is a shape in one colour that gets a one-pixel
    rim of the other colour, so the cursor shows on dark and light pictures alike."""

    def __init__(self, hot):
        self.image = Image.new("RGBA", (SIZE, SIZE), (0, 0, 0, 0))
        self.hot = hot

    def layer(self, paint, colour=BLACK):
        mask = Image.new("L", (SIZE, SIZE), 0)
        paint(ImageDraw.Draw(mask))
        rim = mask.filter(ImageFilter.MaxFilter(3))
        self.image.paste(WHITE if colour == BLACK else BLACK, (0, 0), rim)
        self.image.paste(colour, (0, 0), mask)
        return self

    def art(self, rows, left, top):
        """Pixel art: '#' black, '.' white, anything else left alone."""
        for y, row in enumerate(rows):
            for x, c in enumerate(row):
                if c in "#.":
                    self.image.putpixel((left + x, top + y), BLACK if c == "#" else WHITE)
        return self

    def save(self, name):
        info = PngInfo()
        info.add_text("HotSpotX", str(self.hot[0]))
        info.add_text("HotSpotY", str(self.hot[1]))
        self.image.save(os.path.join(HERE, "cursors", name + ".png"), pnginfo=info)


# Shapes, each painting a mask with fill 255.

def arrow_shape(d, x=0, y=0):
    d.polygon([(x, y), (x, y + 16), (x + 4, y + 12), (x + 7, y + 18), (x + 9, y + 17),
               (x + 6, y + 11), (x + 11, y + 11)], fill=255)


def cross_lines(d, cx, cy, arm):
    d.line([(cx - arm, cy), (cx + arm, cy)], fill=255)
    d.line([(cx, cy - arm), (cx, cy + arm)], fill=255)


def plus_sign(d, cx, cy, arm=3):
    d.line([(cx - arm, cy), (cx + arm, cy)], fill=255, width=2)
    d.line([(cx, cy - arm), (cx, cy + arm)], fill=255, width=2)


def minus_sign(d, cx, cy, arm=3):
    d.line([(cx - arm, cy), (cx + arm, cy)], fill=255, width=2)


def dashed_rect(d, x0, y0, x1, y1):
    for x in range(x0, x1 + 1):
        if (x - x0) % 3 != 2:
            d.point((x, y0), fill=255)
            d.point((x, y1), fill=255)
    for y in range(y0, y1 + 1):
        if (y - y0) % 3 != 2:
            d.point((x0, y), fill=255)
            d.point((x1, y), fill=255)


def arrow_head(d, tip, direction, length=5, half=4):
    """A filled triangle pointing along direction (dx, dy) with its tip at tip."""
    dx, dy = direction
    norm = math.hypot(dx, dy)
    dx, dy = dx / norm, dy / norm
    bx, by = tip[0] - dx * length, tip[1] - dy * length
    d.polygon([tip, (bx - dy * half, by + dx * half), (bx + dy * half, by - dx * half)], fill=255)


def double_arrow(d, p0, p1, width=1, head=5, half=4):
    d.line([p0, p1], fill=255, width=width)
    arrow_head(d, p1, (p1[0] - p0[0], p1[1] - p0[1]), head, half)
    arrow_head(d, p0, (p0[0] - p1[0], p0[1] - p1[1]), head, half)


def four_way(d, cx, cy, arm, head=4, half=3):
    double_arrow(d, (cx - arm, cy), (cx + arm, cy), 1, head, half)
    double_arrow(d, (cx, cy - arm), (cx, cy + arm), 1, head, half)


def rotate_arc(d, cx, cy, r, start, end, width=2):
    d.arc([cx - r, cy - r, cx + r, cy + r], start, end, fill=255, width=width)
    a = math.radians(end)
    tip = (cx + r * math.cos(a), cy + r * math.sin(a))
    arrow_head(d, (tip[0] - math.sin(a) * 2, tip[1] + math.cos(a) * 2),
               (-math.sin(a), math.cos(a)), 5, 4)


OPEN_HAND = [
    "      ##        ",
    "   ## #..###    ",
    "  #..##..#..#   ",
    "  #..##..#..# # ",
    "   #..#..#..##.#",
    "   #..#..#..#..#",
    " ## #........#.#",
    "#..##..........#",
    "#...#.........# ",
    " #............# ",
    "  #...........# ",
    "  #..........#  ",
    "   #.........#  ",
    "    #.......#   ",
    "     #......#   ",
    "     #......#   ",
]

CLOSED_HAND = [
    "     ## ## ##   ",
    "    #..#..#..## ",
    "   ##..........#",
    "  #.#..........#",
    "  #............#",
    "   #...........#",
    "   #..........# ",
    "    #.........# ",
    "     #........# ",
    "      #......#  ",
    "      #......#  ",
]

POINTING_HAND = [
    "     ##          ",
    "    #..#         ",
    "    #..#         ",
    "    #..#         ",
    "    #..###       ",
    "    #..#..###    ",
    "    #..#..#..##  ",
    "### #..#..#..#.# ",
    "#..##........#..#",
    "#...#...........#",
    " #..............#",
    "  #.............#",
    "  #............# ",
    "   #...........# ",
    "    #.........#  ",
    "     #........#  ",
    "     ##########  ",
]

ANCHOR = [
    "    ###    ",
    "   #...#   ",
    "   #.#.#   ",
    "   #...#   ",
    " ###...### ",
    " #.......# ",
    " ###...### ",
    "   #...#   ",
    "   #...#   ",
    "   #...#   ",
    "## #...# ##",
    "#.##...##.#",
    "#.........#",
    " #.......# ",
    "  ##...##  ",
    "    ###    ",
]

# The crosshair of the drawing tools: its centre is the hot spot, a badge goes to the lower right.
CX, CY, ARM = 10, 10, 9


def cross(hot=(CX, CY)):
    return Cursor(hot).layer(lambda d: cross_lines(d, CX, CY, ARM))


def arrow():
    return Cursor((0, 0)).layer(arrow_shape, WHITE)


def magnifier(sign):
    c = Cursor((8, 8))
    c.layer(lambda d: d.line([(13, 13), (21, 21)], fill=255, width=4))
    c.layer(lambda d: d.ellipse([1, 1, 15, 15], fill=255), BLACK)
    c.layer(lambda d: d.ellipse([3, 3, 13, 13], fill=255), WHITE)
    c.layer(sign)
    return c


def question(d):
    d.arc([5, 4, 11, 9], 180, 90, fill=255, width=2)
    d.line([(8, 9), (8, 11)], fill=255, width=2)
    d.point((8, 13), fill=255)
    d.point((9, 13), fill=255)


def scroll(tip, direction):
    """A broad arrow pointing at the edge the view scrolls towards; the tip is the hot spot."""
    def shape(d):
        dx, dy = direction
        n = math.hypot(dx, dy)
        ux, uy = dx / n, dy / n
        px, py = -uy, ux
        base = (tip[0] - ux * 9, tip[1] - uy * 9)
        tail = (tip[0] - ux * 18, tip[1] - uy * 18)
        d.polygon([tip, (base[0] + px * 8, base[1] + py * 8), (base[0] + px * 3, base[1] + py * 3),
                   (tail[0] + px * 3, tail[1] + py * 3), (tail[0] - px * 3, tail[1] - py * 3),
                   (base[0] - px * 3, base[1] - py * 3), (base[0] - px * 8, base[1] - py * 8)],
                  fill=255)
    return Cursor(tip).layer(shape, WHITE)


def grid_line(horizontal, size):
    """A grid row (horizontal) or column being moved, or resized when size is set: the line with a
    double arrow across it; resizing adds the fixed first line the size is measured from."""
    c = Cursor((15, 15))
    def shape(d):
        if horizontal:
            d.line([(4, 15), (26, 15)], fill=255, width=2)
            double_arrow(d, (15, 5), (15, 25), 2)
            if size:
                d.line([(20, 2), (28, 2)], fill=255, width=2)
                d.line([(24, 2), (24, 9)], fill=255)
        else:
            d.line([(15, 4), (15, 26)], fill=255, width=2)
            double_arrow(d, (5, 15), (25, 15), 2)
            if size:
                d.line([(2, 20), (2, 28)], fill=255, width=2)
                d.line([(2, 24), (9, 24)], fill=255)
    return c.layer(shape)


def node(c):
    return c.layer(lambda d: d.ellipse([10, 10, 20, 20], outline=255, width=2)).layer(centre_dot)


def centre_dot(d, cx=15, cy=15):
    """Marks the hot spot of a cursor drawn around it."""
    d.rectangle([cx - 1, cy - 1, cx + 1, cy + 1], fill=255)


def write_cursors():
    os.makedirs(os.path.join(HERE, "cursors"), exist_ok=True)
    badge = (24, 24)
    bx, by = badge
    cursors = {
        "CR_CROSS": cross(),
        "CR_CROSS_PLUS": cross().layer(lambda d: plus_sign(d, bx, by)),
        "CR_CROSS_MINUS": cross().layer(lambda d: minus_sign(d, bx, by)),
        "CR_HAND": Cursor((5, 0)).art(POINTING_HAND, 0, 0),
        "CR_FIGURE_COPY": arrow().layer(lambda d: plus_sign(d, bx, by)),
        "CR_ARROW_FRAME": arrow().layer(lambda d: dashed_rect(d, 16, 18, 29, 28)),
        "CR_ARROW_FRAME_PLUS": arrow().layer(lambda d: dashed_rect(d, 14, 18, 25, 27))
                                     .layer(lambda d: plus_sign(d, 27, 27)),
        "CR_FIGURE_SELECT": arrow().layer(lambda d: d.rectangle([18, 20, 27, 28], fill=255)),
        "CR_ARROW_VERTEX": arrow().layer(lambda d: d.rectangle([19, 21, 25, 27], outline=255,
                                                                width=2)),
        "CR_FIGURE_MOVE": arrow().layer(lambda d: four_way(d, 22, 23, 7)),
        "CR_VERTEX": cross().layer(lambda d: d.rectangle([CX - 3, CY - 3, CX + 3, CY + 3],
                                                          outline=255)),
        "CR_VERTEX_MOVE": Cursor((15, 15)).layer(lambda d: four_way(d, 15, 15, 13))
                                          .layer(lambda d: d.rectangle([12, 12, 18, 18],
                                                                       fill=255), WHITE),
        "CR_ARROW_CONNECTIONPOINT": arrow().layer(
            lambda d: (d.ellipse([17, 19, 28, 30], outline=255, width=2),
                       d.line([(19, 21), (26, 28)], fill=255),
                       d.line([(26, 21), (19, 28)], fill=255))),
        "CR_CROSS_ARC": cross().layer(lambda d: d.arc([16, 18, 30, 32], 180, 360, fill=255,
                                                      width=2)),
        "CR_CROSS_CURVE": cross().layer(
            lambda d: d.line([(16, 28), (19, 21), (22, 20), (24, 25), (27, 28), (30, 20)],
                             fill=255, width=2, joint="curve")),
        "CR_CROSS_ELLIPSE": cross().layer(lambda d: d.ellipse([15, 19, 30, 29], outline=255,
                                                               width=2)),
        "CR_CROSS_LINE": cross().layer(lambda d: d.line([(16, 29), (29, 18)], fill=255, width=2)),
        "CR_CROSS_RECT": cross().layer(lambda d: d.rectangle([16, 19, 29, 28], outline=255,
                                                             width=2)),
        "CR_CROSS_STAMP": cross().layer(
            lambda d: (d.rectangle([20, 16, 24, 22], fill=255),
                       d.rectangle([16, 23, 28, 26], fill=255),
                       d.line([(16, 29), (28, 29)], fill=255))),
        "CR_CROSS_TEXT": cross().layer(
            lambda d: (d.line([(17, 18), (29, 18)], fill=255, width=2),
                       d.line([(23, 18), (23, 30)], fill=255, width=2))),
        "CR_ORTO_ROTATE": Cursor((15, 15)).layer(lambda d: rotate_arc(d, 15, 15, 10, 200, 340))
                                          .layer(centre_dot)
                                          .layer(lambda d: d.line([(8, 20), (8, 27), (15, 27)],
                                                                  fill=255, width=2)),
        "CR_ROTATE_EX": Cursor((15, 15)).layer(lambda d: rotate_arc(d, 15, 15, 11, 200, 340))
                                        .layer(lambda d: rotate_arc(d, 15, 15, 11, 20, 160))
                                        .layer(centre_dot),
        "CR_ROTATE_CENTER": Cursor((15, 15)).layer(lambda d: cross_lines(d, 15, 15, 14))
                                            .layer(lambda d: d.ellipse([9, 9, 21, 21],
                                                                       outline=255, width=2))
                                            .layer(lambda d: d.ellipse([13, 13, 17, 17],
                                                                       fill=255)),
        "FIND_OBJECT": magnifier(question),
        "SCROLL_LEFT": scroll((0, 15), (-1, 0)),
        "SCROLL_RIGHT": scroll((31, 15), (1, 0)),
        "SCROLL_UP": scroll((15, 0), (0, -1)),
        "SCROLL_DOWN": scroll((15, 31), (0, 1)),
        "SCROLL_LEFTTOP": scroll((1, 1), (-1, -1)),
        "SCROLL_LEFTBOTTOM": scroll((1, 30), (-1, 1)),
        "SCROLL_RIGHTTOP": scroll((30, 1), (1, -1)),
        "SCROLL_RIGHTBOTTOM": scroll((30, 30), (1, 1)),
        "SCROLL_HAND": Cursor((8, 8)).art(OPEN_HAND, 0, 0),
        "ZOOM_IN": magnifier(lambda d: plus_sign(d, 8, 8)),
        "SELECTRECT": cross().layer(lambda d: dashed_rect(d, 15, 15, 30, 28)),
        "CR_MOVE": Cursor((15, 15)).layer(lambda d: four_way(d, 15, 15, 14, 6, 5)),
        "BASEPOINT": cross().layer(lambda d: d.ellipse([CX - 4, CY - 4, CX + 4, CY + 4],
                                                       outline=255, width=2)),
        "CR_ROTATE": Cursor((15, 15)).layer(lambda d: rotate_arc(d, 15, 15, 11, 120, 400))
                                     .layer(centre_dot),
        "CR_ANCHOR": Cursor((5, 15)).art(ANCHOR, 0, 0),
        "CR_ANCHORLINE": Cursor((5, 15)).art(ANCHOR, 0, 0)
                                        .layer(lambda d: d.line([(14, 29), (30, 13)], fill=255,
                                                                width=2)),
        "CR_AIM": Cursor((15, 15)).layer(lambda d: (d.ellipse([5, 5, 25, 25], outline=255,
                                                              width=2),
                                                    cross_lines(d, 15, 15, 14))),
        "CR_ADDPOINT": cross().layer(lambda d: d.rectangle([CX - 2, CY - 2, CX + 2, CY + 2],
                                                            fill=255))
                              .layer(lambda d: plus_sign(d, bx, by)),
        "CR_DELPOINT": cross().layer(lambda d: d.rectangle([CX - 2, CY - 2, CX + 2, CY + 2],
                                                            fill=255))
                              .layer(lambda d: minus_sign(d, bx, by)),
        "HAND_CLOSED": Cursor((8, 7)).art(CLOSED_HAND, 0, 2),
        "HAND_OPENED": Cursor((8, 8)).art(OPEN_HAND, 0, 0),
        "CR_ANCHORCROSS": Cursor((5, 15)).art(ANCHOR, 0, 0)
                                         .layer(lambda d: cross_lines(d, 23, 23, 7)),
        "CR_HGRIDMOVE": grid_line(True, False),
        "CR_HGRIDSIZE": grid_line(True, True),
        "CR_NODEDEL": node(Cursor((15, 15))).layer(
            lambda d: (d.line([(22, 22), (29, 29)], fill=255, width=2),
                       d.line([(29, 22), (22, 29)], fill=255, width=2))),
        "CR_NODEMOVE": node(Cursor((15, 15)).layer(lambda d: four_way(d, 15, 15, 14, 5, 4))),
        "CR_VGRIDMOVE": grid_line(False, False),
        "CR_VGRIDSIZE": grid_line(False, True),
    }
    for name, cursor in cursors.items():
        cursor.save(name)


if __name__ == "__main__":
    for rows in (OPEN_HAND, CLOSED_HAND, POINTING_HAND, ANCHOR):
        assert len({len(r) for r in rows}) == 1, rows
    write_patterns()
    write_cursors()
