#!/usr/bin/env python3
"""Checks and summarises a G-code result of the reference kernel, and draws its top view.

    python3 scripts/toolpath_report.py RESULT [SVG]

RESULT is what `plexmilld --connect` stored: the kernel's G-code followed by the server's
status line ("ACK"). The report counts the moves, measures the cutting and rapid lengths and
estimates the machining time (feed moves at their F, rapid moves at 5000 mm/min, an assumed
machine rapid rate). With SVG, it writes a top view: feed moves coloured by height from
blue (low) to orange (high), rapid moves dashed grey. Standard library only. Exits 1 when
the result is not a complete program (an "ERROR:" line, no M30, no status line).
"""

import math
import sys

RAPID_RATE = 5000.0  # mm/min


def parse(text):
    moves = []  # (rapid, start, end, feed)
    at, rapid, feed = None, True, 0.0
    x = y = z = None
    for line in text.splitlines():
        line = line.strip()
        if not line or line[0] in "(%":
            continue
        words = line.split()
        moved = False
        for word in words:
            letter, value = word[0], float(word[1:])
            if letter == "G" and value in (0, 1):
                rapid = value == 0
            elif letter == "F":
                feed = value
            elif letter in "XYZ":
                moved = True
                if letter == "X":
                    x = value
                elif letter == "Y":
                    y = value
                else:
                    z = value
        # Moves count from the first point where all three coordinates are known.
        if moved and None not in (x, y, z):
            end = (x, y, z)
            if at is not None:
                moves.append((rapid, at, end, feed))
            at = end
    return moves


def colour(t):
    low, high = (40, 90, 200), (240, 140, 30)
    return "#%02x%02x%02x" % tuple(round(l + (h - l) * t) for l, h in zip(low, high))


def svg(moves, path):
    xs = [p[k] for m in moves for p in (m[1], m[2]) for k in (0,)]
    ys = [p[1] for m in moves for p in (m[1], m[2])]
    zs = [m[2][2] for m in moves if not m[0]] or [0.0]
    zlow, zhigh = min(zs), max(zs)
    left, right, bottom, top = min(xs), max(xs), min(ys), max(ys)
    scale = 900.0 / max(right - left, top - bottom, 1e-9)
    width, height = (right - left) * scale + 40, (top - bottom) * scale + 70

    def px(p):
        return (20 + (p[0] - left) * scale, 50 + (top - p[1]) * scale)

    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width:.0f}" height="{height:.0f}" '
        f'viewBox="0 0 {width:.0f} {height:.0f}">',
        f'<rect width="100%" height="100%" fill="white"/>',
        f'<text x="20" y="28" font-family="sans-serif" font-size="16">Plexmill toolpath, top '
        f"view: feed moves from blue (Z {zlow:.2f}) to orange (Z {zhigh:.2f}), rapid moves "
        f"dashed</text>",
    ]
    for rapid, start, end, _ in moves:
        (x1, y1), (x2, y2) = px(start), px(end)
        if rapid:
            style = 'stroke="#999" stroke-dasharray="4 3" stroke-width="0.6"'
        else:
            t = (end[2] - zlow) / (zhigh - zlow) if zhigh > zlow else 0
            style = f'stroke="{colour(t)}" stroke-width="0.8"'
        parts.append(f'<line x1="{x1:.2f}" y1="{y1:.2f}" x2="{x2:.2f}" y2="{y2:.2f}" {style}/>')
    parts.append("</svg>")
    with open(path, "w") as out:
        out.write("\n".join(parts) + "\n")


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    text = open(sys.argv[1]).read()
    if text.startswith("ERROR:"):
        print("the kernel refused the job: " + text.splitlines()[0][len("ERROR: "):])
        return 1
    body, _, status = text.rstrip("\n").rpartition("\n")
    if status != "ACK" or not body.startswith("%") or "\nM30\n" not in body:
        print("the result is not a complete program (status line %r)" % status)
        return 1
    moves = parse(body)
    feeds = [m for m in moves if not m[0]]
    rapids = [m for m in moves if m[0]]
    length = lambda m: math.dist(m[1], m[2])
    cut = sum(length(m) for m in feeds)
    travel = sum(length(m) for m in rapids)
    minutes = sum(length(m) / m[3] for m in feeds if m[3] > 0) + travel / RAPID_RATE
    lowest = min((m[2][2] for m in feeds), default=0.0)
    print(f"  {len(body.splitlines())} lines, {len(moves)} moves ({len(feeds)} feed, {len(rapids)} rapid)")
    print(f"  cutting path {cut:.1f} mm, rapid travel {travel:.1f} mm, lowest cut at Z {lowest:.3f}")
    print(f"  estimated machining time {int(minutes)} min {round(minutes % 1 * 60)} s")
    if len(sys.argv) == 3:
        svg(moves, sys.argv[2])
        print(f"  top view written to {sys.argv[2]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
