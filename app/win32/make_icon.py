#!/usr/bin/env python3
"""Writes ravoth.ico, the icon group "RAVOTHICON": the program's icon from
data/icons/make_icons.py as a 32x32 and a 16x16 image, 16 colours each
(4 bits per pixel, palette index 0 transparent through the AND mask).

    python3 app/win32/make_icon.py app/win32/ravoth.ico
"""
import importlib.util
import pathlib
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent
DESIGN = HERE.parent.parent / "data" / "icons" / "make_icons.py"


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


def icon(grids, palette):
    images = [image(grid, palette) for grid in grids]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for grid, data in zip(grids, images):
        size = len(grid)
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main():
    design = load_design()
    out = sys.argv[1] if len(sys.argv) > 1 else str(HERE / "ravoth.ico")
    with open(out, "wb") as f:
        f.write(icon([design.draw(32), design.draw_small()], design.PALETTE))


if __name__ == "__main__":
    main()
