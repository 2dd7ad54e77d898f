#!/usr/bin/env python3
"""Draws plexmon's tray icons, one per state of the local server and two frames for each busy
state, in every size a tray host may ask for, with the shapes of scripts/make_images.py.

Standard library only; the output is deterministic:
    python3 scripts/make_tray_icons.py [output folder]   (default monitor/tray/icons)

Every icon is the Q ring of the product's logo on a rounded tile whose colour says the state at a
glance (green ready, blue running, amber refusing work, blue-grey paused, grey stopped); what is
inside the ring says the rest: load bars (which move while sessions run), a bar across for "not
responding", pause bars, or a stop square.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_images import Capsule, RoundedRect, Ring, png, render  # noqa: E402

SIZES = (16, 22, 24, 32, 48, 64)

GREEN = (0x2E, 0x9E, 0x4F)
BLUE = (0x40, 0x40, 0xF0)
AMBER = (0xE0, 0x8E, 0x1C)
SLATE = (0x5E, 0x6E, 0x8C)
GREY = (0x8C, 0x8C, 0x94)
WHITE = (0xFF, 0xFF, 0xFF)
LIME = (0x7C, 0xF0, 0x8C)
RED = (0xD8, 0x2C, 0x2C)


def ring(size):
    """The Q: a ring and its tail, centred a little up and left to leave room for the tail."""
    cx = cy = size * 0.47
    radius = size * 0.38
    return cx, cy, radius, [
        (WHITE, Ring(cx, cy, radius, radius * 0.74)),
        (WHITE, Capsule(cx + radius * 0.5, cy + radius * 0.5, cx + radius * 0.98,
                        cy + radius * 0.98, radius * 0.15)),
    ]


def bars(cx, cy, radius, heights, colour):
    width = radius * 0.24
    base = cy + radius * 0.42
    shapes = []
    for index, height in enumerate(heights):
        left = cx + (index - 1.5) * width * 1.3 + width * 0.15
        shapes.append((colour, RoundedRect(left, base - radius * height, left + width, base,
                                           width * 0.3)))
    return shapes


def across(cx, cy, radius, colour):
    return [(colour, Capsule(cx - radius * 0.42, cy, cx + radius * 0.42, cy, radius * 0.13))]


def pause(cx, cy, radius, colour):
    width = radius * 0.22
    shapes = []
    for offset in (-0.28, 0.28):
        left = cx + radius * offset - width / 2
        shapes.append((colour, RoundedRect(left, cy - radius * 0.4, left + width,
                                           cy + radius * 0.4, width * 0.3)))
    return shapes


def stop(cx, cy, radius, colour):
    half = radius * 0.36
    return [(colour, RoundedRect(cx - half, cy - half, cx + half, cy + half, half * 0.25))]


def icon(size, tile, inside):
    layers = [(tile, RoundedRect(0, 0, size, size, size * 0.2))]
    cx, cy, radius, q = ring(size)
    return render(size, size, layers + q + inside(cx, cy, radius))


STATES = {
    "ready": (GREEN, lambda cx, cy, r: bars(cx, cy, r, (0.3, 0.3, 0.3), WHITE)),
    "not_responding": (AMBER, lambda cx, cy, r: across(cx, cy, r, WHITE)),
    "running_a": (BLUE, lambda cx, cy, r: bars(cx, cy, r, (0.4, 0.65, 0.9), LIME)),
    "running_b": (BLUE, lambda cx, cy, r: bars(cx, cy, r, (0.9, 0.4, 0.65), LIME)),
    "not_accepting_a": (AMBER, lambda cx, cy, r: bars(cx, cy, r, (0.4, 0.65, 0.9), WHITE)),
    "not_accepting_b": (AMBER, lambda cx, cy, r: bars(cx, cy, r, (0.9, 0.4, 0.65), WHITE)),
    "paused": (SLATE, lambda cx, cy, r: pause(cx, cy, r, WHITE)),
    "stopped": (GREY, lambda cx, cy, r: stop(cx, cy, r, RED)),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "monitor", "tray", "icons")
    for name, (tile, inside) in STATES.items():
        for size in SIZES:
            data = png(icon(size, tile, inside))
            with open(os.path.join(folder, f"{name}-{size}.png"), "wb") as file:
                file.write(data)
        print(f"{name}: {len(SIZES)} sizes")


if __name__ == "__main__":
    main()
