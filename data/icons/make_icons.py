#!/usr/bin/env python3
"""Draws the program's icon, a page whose picture is being taken out of it.

One description, the numbers below on a square 32 units wide, gives every
form of it:

- ravoth.svg, the scalable icon: the shapes as filled SVG paths;
- ravoth-48.png, -64, -128 and -256: full colour with alpha, the same shapes
  filled by Pillow at eight times the size and reduced, which smooths their
  edges;
- ravoth-32.png: the same numbers placed pixel by pixel in 16 colours, and
  ravoth-16.png, placed by hand (SMALL), since at that size a shape's edge
  falls between pixels and shapes drawn from numbers smear.

app/win32/make_icon.py puts them into the Windows icon group. The build only
copies these files, so after changing the drawing run both scripts with the
interpreter that has Pillow (python3-pil) and commit what they write:

    /usr/bin/python3 data/icons/make_icons.py data/icons
    /usr/bin/python3 app/win32/make_icon.py app/win32/ravoth.ico

The test icons.fresh (tests/icons/check_icons.py) fails while the committed
files differ from what the scripts write.
"""
import math
import sys

# Index 0 is transparent; the rest stay within the classic 16 colours.
PALETTE = [
    (0, 0, 0),        # 0 transparent
    (64, 64, 64),     # 1 outline
    (255, 255, 255),  # 2 paper
    (192, 192, 192),  # 3 fold
    (128, 192, 255),  # 4 sky
    (255, 224, 0),    # 5 sun
    (0, 160, 64),     # 6 hill
    (200, 0, 0),      # 7 band
    (0, 96, 192),     # 8 arrow
    (0, 96, 32),      # 9 hill shade
]
PALETTE += [(0, 0, 0)] * (16 - len(PALETTE))

# The drawing, in units of a 32-unit square, y downwards.
SHEET = (4, 1, 24, 31)       # left, top, right, bottom
FOLD = 7                     # the folded corner, along each edge
LINE = 1                     # the sheet's outline, a pixel wide at 32
PICTURE = (7, 9, 21, 20)     # left, top, right, bottom
SUN = (17, 12.5, 2.2)        # centre x, centre y, radius
# The hill's crest at u, 0 to 1 across the picture, stands
# height - bend * (2u - peak)^2 of the picture's height over its bottom.
HILL = (0.55, 0.35, 0.6)     # height, bend, peak
HILL_SHADE = 0.7             # the u where the hill's shaded side starts
BAND = (7, 23, 18, 27)       # the band that marks a PDF
ARROW = (17, 25, 2, 4, 31)   # start x, centre y, shaft width, head half-height, tip x

LARGE_SIZES = (48, 64, 128, 256)


def crest(u):
    """The hill's top as a y, u going 0 to 1 across the picture."""
    px0, py0, px1, py1 = PICTURE
    height, bend, peak = HILL
    return py1 - (py1 - py0) * (height - bend * (2 * u - peak) ** 2)


def draw(size):
    """The drawing as a 16-colour pixel grid, its rounding tuned for 32
    pixels."""
    s = size / 32.0
    grid = [[0] * size for _ in range(size)]

    def put(x, y, colour):
        if 0 <= x < size and 0 <= y < size:
            grid[y][x] = colour

    def rect(x0, y0, x1, y1, colour):
        for y in range(round(y0 * s), round(y1 * s)):
            for x in range(round(x0 * s), round(x1 * s)):
                put(x, y, colour)

    # The sheet, its top right corner folded over.
    left, top = round(SHEET[0] * s), round(SHEET[1] * s)
    right, bottom = round(SHEET[2] * s) - 1, round(SHEET[3] * s) - 1
    fold = round(FOLD * s)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            dx, dy = x - (right - fold), y - top
            if dx > dy:
                continue
            edge = x in (left, right) or y in (top, bottom) or dx == dy
            corner = dx >= 0 and y - top <= fold and x == right - fold
            corner = corner or (dx >= 0 and y == top + fold)
            put(x, y, 1 if edge or corner else (3 if dx >= 0 and dy <= fold else 2))

    # The picture on it: sky, sun, a hill.
    px0, py0, px1, py1 = PICTURE
    rect(px0, py0, px1, py1, 4)
    cx, cy, r = SUN[0] * s, SUN[1] * s, SUN[2] * s
    for y in range(size):
        for x in range(size):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                put(x, y, 5)
    for x in range(round(px0 * s), round(px1 * s)):
        u = (x / s - px0) / (px1 - px0)
        for y in range(round(crest(u) * s), round(py1 * s)):
            put(x, y, 9 if u > HILL_SHADE else 6)

    rect(*BAND, 7)

    # The arrow carrying the picture out of the page.
    start, centre, width, half, tip_x = ARROW
    ay = round(centre * s)
    shaft = max(1, round(width * s))
    for x in range(round(start * s), round((tip_x - half) * s)):
        for t in range(shaft):
            put(x, ay - shaft // 2 + t, 8)
    head = round(half * s)
    tip = round(tip_x * s) - 1
    for i in range(head + 1):
        for y in range(ay - i, ay + i + (1 if shaft > 1 else 0)):
            put(tip - head + (head - i), y, 8)
    for k in range(head + 1):
        for y in range(ay - (head - k), ay + (head - k) + 1):
            put(tip - head + k, y, 8)
    return grid


# At 16 pixels the shapes are placed by hand: "." transparent, digits and
# letters are palette indexes.
SMALL = [
    "..11111111......",
    "..122222211.....",
    "..1222222131....",
    "..12222221111...",
    "..12222222221...",
    "..12444444421...",
    "..12444455421...",
    "..12444455421...",
    "..12664444421...",
    "..12666664421...",
    "..12666666921...",
    "..122222222218..",
    "..1222222222188.",
    "..12777778888888",
    "..1277777222188.",
    "..111111111118..",
]


def draw_small():
    return [[0 if c == "." else int(c, 16) for c in row] for row in SMALL]


def shapes():
    """The drawing as filled outlines in painting order: (palette index,
    outline). An outline is ("circle", x, y, r) or ("path", steps), a closed
    path whose first step is a point and each later one either a point (a
    straight edge to it) or a (control, end) pair (a quadratic curve)."""
    left, top, right, bottom = SHEET
    cut = right - FOLD
    # The outline is drawn inside the sheet, so the paper's cut edge runs
    # LINE in from the sheet's, which is at 45 degrees.
    slant = LINE * math.sqrt(2)
    sheet = [(left, top), (cut, top), (right, top + FOLD), (right, bottom), (left, bottom)]
    paper = [(left + LINE, top + LINE), (cut + LINE - slant, top + LINE),
             (right - LINE, top + FOLD - LINE + slant), (right - LINE, bottom - LINE),
             (left + LINE, bottom - LINE)]
    # The flap's two creases, LINE wide, meet the sheet's outline.
    creases = [(cut - LINE, top), (cut, top), (right, top + FOLD), (right, top + FOLD + LINE),
               (cut - LINE, top + FOLD + LINE)]
    flap = [(cut, top + slant), (cut, top + FOLD), (right - slant, top + FOLD)]

    px0, py0, px1, py1 = PICTURE
    sky = [(px0, py0), (px1, py0), (px1, py1), (px0, py1)]

    def at(u):
        return (px0 + (px1 - px0) * u, crest(u))

    def curve(u0, u1):
        # The crest is a parabola in u, so one quadratic curve draws it
        # exactly: the control point is where the end tangents meet.
        (x0, y0), end = at(u0), at(u1)
        _, bend, peak = HILL
        slope = (py1 - py0) * bend * 4 * (2 * u0 - peak)
        half = (u1 - u0) / 2
        return ((x0 + (px1 - px0) * half, y0 + slope * half), end)

    # Where the hill sinks below the picture's bottom, if it does before
    # the picture's right edge.
    height, bend, peak = HILL
    u_end = min(1.0, (peak + math.sqrt(height / bend)) / 2)
    hill = [(px0, py1), at(0), curve(0, HILL_SHADE), (at(HILL_SHADE)[0], py1)]
    shade = [(at(HILL_SHADE)[0], py1), at(HILL_SHADE), curve(HILL_SHADE, u_end)]
    if crest(u_end) < py1:
        shade.append((at(u_end)[0], py1))

    bx0, by0, bx1, by1 = BAND
    band = [(bx0, by0), (bx1, by0), (bx1, by1), (bx0, by1)]
    start, centre, width, half, tip = ARROW
    base = tip - half
    arrow = [(start, centre - width / 2), (base, centre - width / 2), (base, centre - half), (tip, centre),
             (base, centre + half), (base, centre + width / 2), (start, centre + width / 2)]

    return [(1, ("path", sheet)), (2, ("path", paper)), (1, ("path", creases)), (3, ("path", flap)),
            (4, ("path", sky)), (5, ("circle",) + SUN), (6, ("path", hill)), (9, ("path", shade)),
            (7, ("path", band)), (8, ("path", arrow))]


def number(v):
    text = f"{v:.3f}".rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def svg():
    """The drawing as a scalable SVG document."""
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32">',
             "  <title>Ravoth</title>"]
    for index, outline in shapes():
        fill = "#%02x%02x%02x" % PALETTE[index]
        if outline[0] == "circle":
            _, x, y, r = outline
            lines.append(f'  <circle cx="{number(x)}" cy="{number(y)}" r="{number(r)}" fill="{fill}"/>')
            continue
        first, *rest = outline[1]
        d = [f"M{number(first[0])} {number(first[1])}"]
        for step in rest:
            if isinstance(step[0], tuple):
                (cx, cy), (x, y) = step
                d.append(f"Q{number(cx)} {number(cy)} {number(x)} {number(y)}")
            else:
                d.append(f"L{number(step[0])} {number(step[1])}")
        lines.append(f'  <path d="{" ".join(d)}Z" fill="{fill}"/>')
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def points(outline, steps=64):
    """The outline as a polygon: curves and circles cut into straight
    pieces, fine enough that the reduction hides them."""
    if outline[0] == "circle":
        _, x, y, r = outline
        return [(x + r * math.cos(2 * math.pi * i / steps), y + r * math.sin(2 * math.pi * i / steps))
                for i in range(steps)]
    first, *rest = outline[1]
    polygon = [first]
    for step in rest:
        if isinstance(step[0], tuple):
            (x0, y0), ((cx, cy), (x1, y1)) = polygon[-1], step
            for i in range(1, steps + 1):
                t = i / steps
                a, b, c = (1 - t) ** 2, 2 * t * (1 - t), t * t
                polygon.append((a * x0 + b * cx + c * x1, a * y0 + b * cy + c * y1))
        else:
            polygon.append(step)
    return polygon


def render(size, over=8):
    """The drawing in full colour with alpha, size by size pixels."""
    from PIL import Image, ImageDraw

    big = size * over
    picture = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    pen = ImageDraw.Draw(picture)
    k = big / 32
    for index, outline in shapes():
        # Pillow's coordinates name pixels, both ends filled; the drawing's
        # name the edges between them.
        pen.polygon([(x * k - 0.5, y * k - 0.5) for x, y in points(outline)], fill=PALETTE[index] + (255,))
    return picture.reduce(over)


def png(grid, path):
    """Writes the grid as a 4-bit palette PNG through Pillow, index 0
    transparent."""
    from PIL import Image

    size = len(grid)
    picture = Image.new("P", (size, size))
    picture.putpalette([v for colour in PALETTE for v in colour])
    picture.putdata([index for row in grid for index in row])
    picture.save(path, bits=4, transparency=0, optimize=False)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    for size, grid in ((32, draw(32)), (16, draw_small())):
        png(grid, f"{folder}/ravoth-{size}.png")
    for size in LARGE_SIZES:
        render(size).save(f"{folder}/ravoth-{size}.png", optimize=False)
    with open(f"{folder}/ravoth.svg", "w", encoding="utf-8", newline="\n") as f:
        f.write(svg())


if __name__ == "__main__":
    main()
