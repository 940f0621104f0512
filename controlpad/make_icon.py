#!/usr/bin/env python3
"""Draws controlpad.ico: a blue rounded square with a white switch turned on.

Run from this folder to regenerate the committed icon: python3 make_icon.py
"""
import struct

SIZES = (16, 24, 32, 48)
SAMPLES = 8  # per pixel and axis, for smooth edges

BLUE = (0x1F, 0x5F, 0xB8)
WHITE = (0xFF, 0xFF, 0xFF)
GREEN = (0x2E, 0xA0, 0x43)


def rounded_rect(x, y, cx, cy, hw, hh, r):
    qx, qy = abs(x - cx) - (hw - r), abs(y - cy) - (hh - r)
    outside = (max(qx, 0) ** 2 + max(qy, 0) ** 2) ** 0.5
    return outside + min(max(qx, qy), 0) - r <= 0


def pixel(size, px, py):
    """Colour with coverage of one pixel, the layers painted back to front."""
    rgb = [0.0, 0.0, 0.0]
    alpha = 0.0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            colour = None
            if rounded_rect(x, y, 0.5, 0.5, 0.47, 0.47, 0.18):
                colour = BLUE
                if rounded_rect(x, y, 0.5, 0.5, 0.34, 0.17, 0.17):
                    colour = WHITE
                    if (x - 0.67) ** 2 + (y - 0.5) ** 2 <= 0.115 ** 2:
                        colour = GREEN
            if colour:
                alpha += 1
                for i in range(3):
                    rgb[i] += colour[i]
    n = SAMPLES * SAMPLES
    if alpha == 0:
        return (0, 0, 0, 0)
    return tuple(round(c / alpha) for c in rgb) + (round(255 * alpha / n),)


def icon_image(size):
    rows = []
    for py in reversed(range(size)):  # bottom-up
        row = b""
        for px in range(size):
            r, g, b, a = pixel(size, px, py)
            row += bytes((b, g, r, a))
        rows.append(row)
    mask_row = b"\0" * (((size + 31) // 32) * 4)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask_row * size


def main():
    images = [icon_image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open("controlpad.ico", "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
