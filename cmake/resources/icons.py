#!/usr/bin/env python3
"""The kit's camera mark, drawn as Windows icons (.ico, 32-bit frames with
their masks) at 16, 20, 24, 32 and 48 pixels.

    icons.py OUTDIR

writes into OUTDIR:
  program.ico                 the programs' own icon: the mark in the kit's blue
  keeper-STATE-THEME.ico      the keeper's notification-area icon, STATE one of
                              kept, notkept, refused; THEME light (a light
                              taskbar: a dark mark) or dark (a light mark)

Each pixel is the coverage of 4 x 4 samples, so edges stay smooth at 16
pixels; the state is a badge at the lower right, cut out of the mark by a
clear ring so that it reads on any taskbar colour.
"""
import os
import struct
import sys

SIZES = (16, 20, 24, 32, 48)
SAMPLES = 4
BLUE = (0x0A, 0x64, 0xA4)
INK = {"light": (0x1F, 0x1F, 0x1F), "dark": (0xF3, 0xF3, 0xF3)}
BADGE = {
    "kept": ((0x1E, 0x8E, 0x3E), "check"),
    "notkept": ((0x80, 0x80, 0x80), "bar"),
    "refused": ((0xD1, 0x34, 0x38), "bang"),
}


def rounded(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius and left <= x <= right and top <= y <= bottom


def within(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(x, y, ax, ay, bx, by, half):
    """Whether (x, y) lies within half of the segment from a to b."""
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= half * half


def mark(x, y):
    """The camera: a body with a viewfinder, the lens a ring with its glass."""
    body = rounded(x, y, 0.06, 0.30, 0.94, 0.84, 0.11) or rounded(x, y, 0.28, 0.18, 0.56, 0.36, 0.05)
    ring = within(x, y, 0.43, 0.57, 0.21) and not within(x, y, 0.43, 0.57, 0.14)
    glass = within(x, y, 0.43, 0.57, 0.07)
    return (body and not ring) or glass


def symbol(x, y, kind, cx, cy, r):
    if kind == "check":
        return segment(x, y, cx - 0.55 * r, cy, cx - 0.15 * r, cy + 0.4 * r, 0.16 * r) or segment(
            x, y, cx - 0.15 * r, cy + 0.4 * r, cx + 0.55 * r, cy - 0.4 * r, 0.16 * r)
    if kind == "bar":
        return segment(x, y, cx - 0.5 * r, cy, cx + 0.5 * r, cy, 0.17 * r)
    return segment(x, y, cx, cy - 0.55 * r, cx, cy + 0.1 * r, 0.17 * r) or within(
        x, y, cx, cy + 0.45 * r, 0.17 * r)


def colour_at(x, y, ink, badge):
    """The colour of a sample, or None where the icon is clear."""
    if badge:
        colour, kind = badge
        cx = cy = 0.77
        r = 0.23
        if within(x, y, cx, cy, r):
            return (255, 255, 255) if symbol(x, y, kind, cx, cy, r) else colour
        if within(x, y, cx, cy, r + 0.06):
            return None
    return ink if mark(x, y) else None


def frame(size, ink, badge):
    """The BGRA pixels of one size, top row first."""
    rows = []
    n = SAMPLES * SAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size,
                                  ink, badge)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            row.append((b // a, g // a, r // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def ico(frames):
    """An .ico file of 32-bit frames (BITMAPINFOHEADER, bottom-up, with the
    AND mask Windows still reads)."""
    images = []
    for rows in frames:
        size = len(rows)
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
        pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)
        stride = ((size + 31) // 32) * 4
        mask = b""
        for row in reversed(rows):
            line = bytearray(stride)
            for x, p in enumerate(row):
                if p[3] == 0:
                    line[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(line)
        images.append((size, header + pixels + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    icons = {"program.ico": (BLUE, None)}
    for state, badge in BADGE.items():
        for theme, ink in INK.items():
            icons["keeper-%s-%s.ico" % (state, theme)] = (ink, badge)
    for name, (ink, badge) in icons.items():
        data = ico([frame(size, ink, badge) for size in SIZES])
        path = os.path.join(out, name)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
