#!/usr/bin/env python3
"""Writes ravoth.ico, the icon group "RAVOTHICON": the program's icon from
data/icons/make_icons.py as, in this order,

- a 32x32 and a 16x16 image, 16 colours each (4 bits per pixel, palette
  index 0 transparent through the AND mask), first, as older Windows and
  the tests expect;
- 48x48, 64x64 and 128x128 images of 32 bits with alpha, and a 256x256 one
  stored as PNG, as Windows takes that size: the larger PNG files of
  data/icons, so run data/icons/make_icons.py first when the drawing changes.

    /usr/bin/python3 app/win32/make_icon.py app/win32/ravoth.ico

Reading the PNG files needs Pillow (python3-pil).
"""
import importlib.util
import pathlib
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent
ICONS = HERE.parent.parent / "data" / "icons"
DESIGN = ICONS / "make_icons.py"


def load_design():
    found = importlib.util.spec_from_file_location("make_icons", DESIGN)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def padded(row_bytes):
    return row_bytes + bytes(-len(row_bytes) % 4)


def image(grid, palette):
    """One icon image: BITMAPINFOHEADER (height doubled for the mask),
    16 RGBQUADs, the 4-bit XOR rows and the 1-bit AND rows, bottom-up,
    each row padded to 4 bytes."""
    size = len(grid)
    xor_rows = b""
    and_rows = b""
    for row in reversed(grid):
        xor_rows += padded(bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2)))
        mask = bytearray((size + 7) // 8)
        for x, index in enumerate(row):
            if index == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        and_rows += padded(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         len(xor_rows) + len(and_rows), 0, 0, 16, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + xor_rows + and_rows


def true_colour(path):
    """One 32-bit icon image from a PNG file: BITMAPINFOHEADER (height
    doubled), the BGRA rows and the 1-bit AND rows, bottom-up. Windows
    blends by the alpha; the mask, set where alpha is 0, is for what cannot."""
    from PIL import Image

    with Image.open(path) as picture:
        picture = picture.convert("RGBA")
    size = picture.width
    pixels = list(picture.getdata())
    xor_rows = b""
    and_rows = b""
    for y in reversed(range(size)):
        row = pixels[y * size:(y + 1) * size]
        xor_rows += b"".join(struct.pack("<BBBB", b, g, r, a) for r, g, b, a in row)
        mask = bytearray((size + 7) // 8)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        and_rows += padded(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(xor_rows) + len(and_rows), 0, 0, 0, 0)
    return header + xor_rows + and_rows


def icon(images):
    """The .ico file of (size, colours, bits per pixel, image data), where
    a size of 256 is written as 0, the directory's byte holding no more."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, colours, bits, data in images:
        side = size % 256
        entries += struct.pack("<BBBBHHII", side, side, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for *_, data in images)


def main():
    design = load_design()
    out = sys.argv[1] if len(sys.argv) > 1 else str(HERE / "ravoth.ico")
    images = [(len(grid), 16, 4, image(grid, design.PALETTE)) for grid in (design.draw(32), design.draw_small())]
    for size in design.LARGE_SIZES:
        path = ICONS / f"ravoth-{size}.png"
        images.append((size, 0, 32, path.read_bytes() if size == 256 else true_colour(path)))
    with open(out, "wb") as f:
        f.write(icon(images))


if __name__ == "__main__":
    main()
