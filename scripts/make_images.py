#!/usr/bin/env python3
"""Draws the images the HTTP status service serves: the Quorvex logo (in colour and in white,
for the blue header of the task-manager page) and the Plexmill monitor icon.

Standard library only, so anyone can regenerate them:
    python3 scripts/make_images.py [output folder]   (default service/http/resources)

The drawing is plain geometry: a ring with a tail (the Q), three load bars inside it, and the
word QUORVEX in round-capped strokes. Shapes are sampled 4 x 4 times per pixel for smooth
edges. The output is deterministic, so regenerating leaves the committed files unchanged.
"""

import math
import os
import struct
import sys
import zlib

SUBSAMPLES = 4

BLUE = (0x40, 0x40, 0xE0)
LIGHT_BLUE = (0x80, 0x90, 0xFF)
GREEN = (0x30, 0xC0, 0x50)
INK = (0x20, 0x20, 0x50)
WHITE = (0xFF, 0xFF, 0xFF)


# --- Shapes: each has a bounding box and an inside test, in pixel coordinates ---------------

class Ring:
    def __init__(self, cx, cy, outer, inner):
        self.cx, self.cy, self.outer, self.inner = cx, cy, outer, inner
        self.box = (cx - outer, cy - outer, cx + outer, cy + outer)

    def contains(self, x, y):
        d = (x - self.cx) ** 2 + (y - self.cy) ** 2
        return self.inner ** 2 <= d <= self.outer ** 2


class Capsule:
    """A line segment drawn with a round-capped pen."""

    def __init__(self, x0, y0, x1, y1, radius):
        self.x0, self.y0, self.x1, self.y1, self.radius = x0, y0, x1, y1, radius
        self.box = (min(x0, x1) - radius, min(y0, y1) - radius,
                    max(x0, x1) + radius, max(y0, y1) + radius)
        self.dx, self.dy = x1 - x0, y1 - y0
        self.length2 = self.dx ** 2 + self.dy ** 2

    def contains(self, x, y):
        t = 0.0
        if self.length2 > 0:
            t = ((x - self.x0) * self.dx + (y - self.y0) * self.dy) / self.length2
            t = max(0.0, min(1.0, t))
        px, py = self.x0 + t * self.dx, self.y0 + t * self.dy
        return (x - px) ** 2 + (y - py) ** 2 <= self.radius ** 2


class RoundedRect:
    def __init__(self, x0, y0, x1, y1, radius):
        self.x0, self.y0, self.x1, self.y1, self.radius = x0, y0, x1, y1, radius
        self.box = (x0, y0, x1, y1)

    def contains(self, x, y):
        if not (self.x0 <= x <= self.x1 and self.y0 <= y <= self.y1):
            return False
        r = self.radius
        cx = min(max(x, self.x0 + r), self.x1 - r)
        cy = min(max(y, self.y0 + r), self.y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def polyline(points, radius):
    return [Capsule(a[0], a[1], b[0], b[1], radius) for a, b in zip(points, points[1:])]


def arc(cx, cy, rx, ry, start, end, steps=24):
    """Points on an ellipse from angle start to end (degrees, 0 = right, 90 = down)."""
    return [(cx + rx * math.cos(math.radians(start + (end - start) * i / steps)),
             cy + ry * math.sin(math.radians(start + (end - start) * i / steps)))
            for i in range(steps + 1)]


# --- The word mark: glyph centre lines in a cell one unit high ---------------------------

GLYPH_WIDTH = 0.62


def glyph(letter):
    w = GLYPH_WIDTH
    if letter == "O":
        return [arc(w / 2, 0.5, w / 2, 0.5, 0, 360, 48)]
    if letter == "Q":
        return [arc(w / 2, 0.5, w / 2, 0.5, 0, 360, 48), [(w * 0.62, 0.72), (w * 1.02, 1.04)]]
    if letter == "U":
        return [[(0, 0), (0, 0.66)] + arc(w / 2, 0.66, w / 2, 0.34, 180, 0, 16)[1:] + [(w, 0)]]
    if letter == "R":
        bowl = arc(w * 0.62, 0.26, w * 0.38, 0.26, -90, 90, 16)
        return [[(0, 1), (0, 0), (w * 0.62, 0)] + bowl[1:] + [(0, 0.52)],
                [(w * 0.5, 0.52), (w, 1)]]
    if letter == "V":
        return [[(0, 0), (w / 2, 1), (w, 0)]]
    if letter == "E":
        return [[(w * 0.92, 0), (0, 0), (0, 1), (w * 0.92, 1)], [(0, 0.5), (w * 0.75, 0.5)]]
    if letter == "X":
        return [[(0, 0), (w, 1)], [(w, 0), (0, 1)]]
    raise ValueError(letter)


def word(text, x, y, height, pen):
    """Shapes for text whose strokes' outer edges span height pixels from y."""
    inner = height - 2 * pen
    shapes = []
    for letter in text:
        for line in glyph(letter):
            shapes += polyline([(x + pen + px * inner, y + pen + py * inner) for px, py in line], pen)
        x += (GLYPH_WIDTH + 0.38) * inner
    return shapes


def emblem(cx, cy, radius, ring_colour, bar_colour):
    """The Q: a ring, its tail, and three load bars of rising height inside."""
    ring = Ring(cx, cy, radius, radius * 0.72)
    tail = Capsule(cx + radius * 0.45, cy + radius * 0.45, cx + radius * 0.95, cy + radius * 0.95,
                   radius * 0.14)
    bars = []
    bar_width = radius * 0.2
    base = cy + radius * 0.4
    for index, height in enumerate((0.4, 0.65, 0.9)):
        left = cx + (index - 1.5) * bar_width * 1.35 + bar_width * 0.18
        bars.append(RoundedRect(left, base - radius * height, left + bar_width, base,
                                bar_width * 0.3))
    return [(ring_colour, ring), (ring_colour, tail)] + [(bar_colour, bar) for bar in bars]


# --- Rasterising ------------------------------------------------------------------------

def render(width, height, layers, background=None):
    """RGBA rows for layers of (colour, shape), painted in order over background."""
    pixels = [[background + (255,) if background else (0, 0, 0, 0) for _ in range(width)]
              for _ in range(height)]
    step = 1.0 / SUBSAMPLES
    for colour, shape in layers:
        x0, y0, x1, y1 = shape.box
        for py in range(max(0, int(y0)), min(height, int(math.ceil(y1)) + 1)):
            for px in range(max(0, int(x0)), min(width, int(math.ceil(x1)) + 1)):
                hits = 0
                for sy in range(SUBSAMPLES):
                    for sx in range(SUBSAMPLES):
                        if shape.contains(px + (sx + 0.5) * step, py + (sy + 0.5) * step):
                            hits += 1
                if hits:
                    pixels[py][px] = blend(pixels[py][px], colour, hits / SUBSAMPLES ** 2)
    return pixels


def blend(under, colour, coverage):
    """Source-over compositing of colour at coverage onto an RGBA pixel."""
    alpha_under = under[3] / 255.0
    alpha = coverage + alpha_under * (1 - coverage)
    if alpha == 0:
        return (0, 0, 0, 0)
    channels = [round((c * coverage + u * alpha_under * (1 - coverage)) / alpha)
                for c, u in zip(colour, under[:3])]
    return tuple(channels) + (round(alpha * 255),)


# --- Files ------------------------------------------------------------------------------

def png(pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\x00" + bytes(channel for pixel in row for channel in pixel)
                   for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """An icon file of 32-bit BMP images (bottom-up BGRA plus the 1-bit AND mask)."""
    entries = []
    for pixels in images:
        size = len(pixels)
        xor = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(pixels) for p in row)
        mask_row = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(pixels):
            bits = bytearray(mask_row)
            for x, p in enumerate(row):
                if p[3] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                           0, 0, 0, 0)
        entries.append((size, info + xor + bytes(mask)))
    directory = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    data = b""
    for size, image in entries:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image),
                                 offset + len(data))
        data += image
    return directory + data


def logo(height, ring_colour, bar_colour, ink):
    scale = height / 56.0
    width = round(200 * scale)
    layers = emblem(28 * scale, 28 * scale, 25 * scale, ring_colour, bar_colour)
    layers += [(ink, shape) for shape in word("QUORVEX", 64 * scale, 17 * scale, 22 * scale,
                                              2.2 * scale)]
    return render(width, height, layers)


def icon(size):
    """The monitor's icon: the white Q on a blue tile."""
    corner = size * 0.2
    tile = [((0x40, 0x40, 0xF0), RoundedRect(0, 0, size, size, corner))]
    return render(size, size, tile + emblem(size * 0.47, size * 0.47, size * 0.38, WHITE, GREEN))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "service", "http", "resources")
    outputs = {
        "quorvex.png": png(logo(56, BLUE, LIGHT_BLUE, INK)),
        "quorvex_white.png": png(logo(40, WHITE, WHITE, WHITE)),
        "plexmon.ico": ico([icon(16), icon(32), icon(48)]),
    }
    for name, data in outputs.items():
        with open(os.path.join(folder, name), "wb") as file:
            file.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
