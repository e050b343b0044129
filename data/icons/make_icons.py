#!/usr/bin/env python3
"""Draws the program's icon, a page whose picture is being taken out of it,
as 16-colour PNG files of 32x32 and 16x16 pixels, written by Pillow
(python3-pil).

    python3 data/icons/make_icons.py data/icons
"""
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


def draw(size):
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
    left, top, right, bottom, fold = round(4 * s), round(1 * s), round(24 * s) - 1, round(31 * s) - 1, round(7 * s)
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
    px0, py0, px1, py1 = 7, 9, 21, 20
    rect(px0, py0, px1, py1, 4)
    cx, cy, r = 17 * s, 12.5 * s, 2.2 * s
    for y in range(size):
        for x in range(size):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                put(x, y, 5)
    for x in range(round(px0 * s), round(px1 * s)):
        u = (x / s - px0) / (px1 - px0)
        crest = py1 - (py1 - py0) * (0.55 - 0.35 * (2 * u - 0.6) ** 2)
        for y in range(round(crest * s), round(py1 * s)):
            put(x, y, 9 if u > 0.7 else 6)

    # The band that marks a PDF.
    rect(7, 23, 18, 27, 7)

    # The arrow carrying the picture out of the page.
    ay = round(25 * s)
    shaft = max(1, round(2 * s))
    for x in range(round(17 * s), round(27 * s)):
        for t in range(shaft):
            put(x, ay - shaft // 2 + t, 8)
    head = round(4 * s)
    tip = round(31 * s) - 1
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


if __name__ == "__main__":
    main()
