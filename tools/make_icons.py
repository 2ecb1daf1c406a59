#!/usr/bin/env python3
"""Draws the two program icons and writes them as .ico files with four images
(16, 24, 32 and 48 pixels, 32-bit BGRA). Run it from the project root after a
change of design; the .ico files it writes are committed, so the build itself
never needs Python."""
import math
import struct

SIZES = (16, 24, 32, 48)


def taskroll_pixel(x, y, n):
    """A sheet of paper with rows of a listing: a dark frame, light rows."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    if not (0.12 <= u <= 0.88 and 0.06 <= v <= 0.94):
        return (0, 0, 0, 0)
    if u < 0.18 or u > 0.82 or v < 0.12 or v > 0.88:
        return (40, 60, 110, 255)
    row = (v - 0.18) / 0.14
    if row >= 0 and row % 1.0 < 0.55 and row < 5:
        if u < 0.32:
            return (220, 120, 30, 255)
        return (50, 90, 170, 255)
    return (245, 245, 240, 255)


def webroster_pixel(x, y, n):
    """A globe: a blue disc with light meridian and parallel lines."""
    cx = cy = n / 2.0
    dx, dy = (x + 0.5 - cx) / (n / 2.0), (y + 0.5 - cy) / (n / 2.0)
    r = math.hypot(dx, dy)
    if r > 0.92:
        return (0, 0, 0, 0)
    line = 1.6 / n
    on_line = (abs(dy) < line or abs(dx) < line or abs(r - 0.9) < line * 1.5
               or abs(abs(dy) - 0.5) < line
               or abs(math.hypot(dx * 2.0, dy) - 0.9) < line * 2)
    if on_line:
        return (235, 245, 255, 255)
    return (30 + int(60 * (1 - r)), 110 + int(80 * (1 - r)), 200, 255)


def image(draw, n):
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in range(n - 1, -1, -1):  # DIB rows run bottom-up
        for x in range(n):
            r, g, b, a = draw(x, y, n)
            pixels += bytes((b, g, r, a))
    mask_row = ((n + 31) // 32) * 4  # AND mask rows are padded to 32 bits
    mask = bytearray()
    for y in range(n - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(n):
            if draw(x, y, n)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def write_icon(path, draw):
    images = [image(draw, n) for n in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    write_icon('resources/taskroll.ico', taskroll_pixel)
    write_icon('resources/webroster.ico', webroster_pixel)
