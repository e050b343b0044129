#!/usr/bin/env python3
"""Fails when the committed icons are not what data/icons/make_icons.py and
app/win32/make_icon.py write now, so that a change to the drawing cannot
leave stale files behind, or when the Windows icon group lacks a size.
PNG files are compared by their pixels, not their bytes, since another
zlib may pack the same pixels differently. Exits 77 (skipped) without
Pillow (python3-pil).
"""
import pathlib
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

ROOT = pathlib.Path(__file__).resolve().parents[2]
ICONS = ROOT / "data" / "icons"
ICO = ROOT / "app" / "win32" / "ravoth.ico"
# (side, bits per pixel) in the group's order: the 16-colour pair first.
GROUP = [(32, 4), (16, 4), (48, 32), (64, 32), (128, 32), (256, 32)]

try:
    from PIL import Image
except ImportError:
    print("no Pillow (python3-pil): skipped")
    sys.exit(77)


def picture(path):
    with Image.open(path) as image:
        return image.mode, image.size, image.getpalette(), image.info.get("transparency"), image.tobytes()


def group_faults(data):
    count = struct.unpack_from("<HHH", data)[2]
    listed = []
    faults = []
    for i in range(count):
        width, height, _, _, _, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        side = width or 256
        listed.append((side, bits))
        image = data[offset:offset + length]
        if side == 256:
            if not image.startswith(b"\x89PNG\r\n\x1a\n"):
                faults.append("the 256x256 image is not stored as PNG")
        elif struct.unpack_from("<Iii", image) != (40, side, 2 * side):
            faults.append(f"the {side}x{side} image's header does not say {side}x{2 * side}")
    if listed != GROUP:
        faults.append(f"the group lists {listed}, not {GROUP}")
    return faults


def main():
    stale = []
    with tempfile.TemporaryDirectory() as scratch:
        fresh = pathlib.Path(scratch)
        subprocess.run([sys.executable, str(ICONS / "make_icons.py"), scratch], check=True)
        subprocess.run([sys.executable, str(ICO.parent / "make_icon.py"), str(fresh / ICO.name)], check=True)
        made = sorted(path.name for path in fresh.iterdir() if path.name != ICO.name)
        for name in made:
            committed = ICONS / name
            if not committed.exists():
                stale.append(f"{name} is made but not committed")
            elif name.endswith(".png") and picture(committed) != picture(fresh / name):
                stale.append(f"{name} differs from what make_icons.py draws")
            elif name.endswith(".svg") and committed.read_bytes() != (fresh / name).read_bytes():
                stale.append(f"{name} differs from what make_icons.py writes")
        if ICO.read_bytes() != (fresh / ICO.name).read_bytes():
            stale.append(f"{ICO.name} differs from what make_icon.py writes")
    # The writer's own output must parse, or every desktop skips the icon.
    ElementTree.parse(ICONS / "ravoth.svg")
    if stale:
        stale.append("regenerate them as data/icons/make_icons.py says")
    faults = stale + group_faults(ICO.read_bytes())
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
