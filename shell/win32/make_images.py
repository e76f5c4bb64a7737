#!/usr/bin/env python3
"""Writes the pictures the two programs carry as resources.

The pictures are drawn from a few geometric shapes at build time instead of
being kept as binary files: the output is byte-for-byte reproducible, the
sources stay reviewable, and changing a colour is a one-line edit.

  make_images.py background OUT.bmp      Tarnwick's dialog background (134)
  make_images.py icon tarnwick OUT.ico   Tarnwick's program icon (130)
  make_images.py icon pellfray OUT.ico   Pellfray's program icon (132)

Only the standard library is used, so the step runs wherever CMake finds a
Python 3 interpreter.
"""
import math
import struct
import sys

# Background: light grey everywhere, with a dark rectangle right behind the
# grid so that the one-unit gaps between the owner-drawn cells read as lines.
BACKGROUND_SIZE = (465, 230)
BACKGROUND_LIGHT = (240, 240, 240)
BACKGROUND_DARK = (60, 60, 60)
# Inclusive pixel columns and rows, rows counted from the top.
DARK_COLUMNS = (180, 451)
DARK_ROWS = (10, 198)


def bmp_24(width, height, pixel_at):
    """An uncompressed bottom-up 24-bit BMP file; pixel_at(x, y) -> (r, g, b)
    with y counted from the top."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel_at(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data),
                       2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0,
                         14 + len(info))
    return header + info + data


def background_pixel(x, y):
    if DARK_COLUMNS[0] <= x <= DARK_COLUMNS[1] and DARK_ROWS[0] <= y <= DARK_ROWS[1]:
        return BACKGROUND_DARK
    return BACKGROUND_LIGHT


# --- icons -----------------------------------------------------------------
# Each icon is a list of layers (shape, colour), later layers on top. A shape
# is a predicate on a point in pixel space (0..32, y down). Every pixel is
# sampled 4 x 4 times, which gives the edges a little anti-aliasing.

def rounded_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def disc(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def arc(cx, cy, inner, outer, from_deg, to_deg):
    """Part of a ring; angles in degrees, 0 to the right, growing upwards."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if not inner <= d <= outer:
            return False
        angle = math.degrees(math.atan2(cy - y, x - cx))
        return from_deg <= angle <= to_deg
    return inside


TEAL = (31, 111, 139)
WHITE = (250, 250, 250)
ORANGE = (255, 170, 40)
PURPLE = (92, 64, 140)
PANEL = (238, 236, 246)

ICONS = {
    # A tag with its lanyard hole and the waves of a reader reaching it.
    "tarnwick": [
        (rounded_rect(1, 1, 31, 31, 6), TEAL),
        (rounded_rect(4, 14, 19, 28, 3), WHITE),
        (disc(8, 18, 1.7), TEAL),
        (arc(16, 16, 5.5, 7.5, 0, 90), ORANGE),
        (arc(16, 16, 9.5, 11.5, 0, 90), ORANGE),
        (arc(16, 16, 13.5, 15.0, 5, 85), ORANGE),
    ],
    # Three stacked boards with their status lamps: the three-in-one module.
    "pellfray": [
        (rounded_rect(1, 1, 31, 31, 6), PURPLE),
        (rounded_rect(6, 6, 26, 11.5, 1.5), PANEL),
        (rounded_rect(6, 13.5, 26, 19, 1.5), PANEL),
        (rounded_rect(6, 21, 26, 26.5, 1.5), PANEL),
        (disc(22, 8.75, 1.5), (60, 190, 90)),
        (disc(22, 16.25, 1.5), (250, 170, 30)),
        (disc(22, 23.75, 1.5), (60, 140, 230)),
    ],
}


def render_icon(layers, size=32, samples=4):
    """Rows top to bottom of (r, g, b, a) with straight alpha."""
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = px + (sx + 0.5) / samples
                    y = py + (sy + 0.5) / samples
                    colour = None
                    for shape, c in layers:
                        if shape(x, y):
                            colour = c
                    if colour is not None:
                        covered += 1
                        for i in range(3):
                            acc[i] += colour[i]
            if covered:
                rgb = tuple(round(v / covered) for v in acc)
            else:
                rgb = (0, 0, 0)
            alpha = round(255 * covered / (samples * samples))
            row.append(rgb + (alpha,))
        pixels.append(row)
    return pixels


def ico_32bpp(pixels):
    """An .ico file holding one 32 x 32 image with 32 bits per pixel."""
    size = len(pixels)
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                       len(xor) + len(mask), 0, 0, 0, 0)
    image = info + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) == 3 and argv[1] == "background":
        write(argv[2], bmp_24(*BACKGROUND_SIZE, background_pixel))
        return 0
    if len(argv) == 4 and argv[1] == "icon" and argv[2] in ICONS:
        write(argv[3], ico_32bpp(render_icon(ICONS[argv[2]])))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
