#!/usr/bin/env python3
"""Writes the demo's part as a binary STL: a 60 x 40 mm plate, 4 mm thick, with a dome of
radius 12 rising 8 mm on its left and a rounded pocket 3 mm deep on its right. The part is a
closed solid (top, walls and bottom share their edges), made on a 0.5 mm grid.

Standard library only:
    python3 scripts/make_part_stl.py OUTPUT.stl
"""

import math
import struct
import sys

WIDTH, DEPTH, STEP = 60.0, 40.0, 0.5
PLATE = 4.0


def height(x, y):
    z = PLATE
    d = math.hypot(x - 18, y - 20)
    if d < 12:
        # A spherical cap: radius 13 centred below the plate, 8 mm high at the middle.
        z = max(z, PLATE + math.sqrt(13 ** 2 - d * d) - 5)
    e = math.hypot((x - 44) / 9, (y - 20) / 12)
    if e < 1:
        z -= 3 * (1 - e ** 4)
    return z


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    nx, ny = int(WIDTH / STEP), int(DEPTH / STEP)
    xs = [i * STEP for i in range(nx + 1)]
    ys = [j * STEP for j in range(ny + 1)]
    top = [[(x, y, height(x, y)) for y in ys] for x in xs]
    bottom = [[(x, y, 0.0) for y in ys] for x in xs]
    triangles = []

    def quad(a, b, c, d):  # counter-clockwise seen from outside
        triangles.append((a, b, c))
        triangles.append((a, c, d))

    for i in range(nx):
        for j in range(ny):
            quad(top[i][j], top[i + 1][j], top[i + 1][j + 1], top[i][j + 1])
            quad(bottom[i][j], bottom[i][j + 1], bottom[i + 1][j + 1], bottom[i + 1][j])
    for i in range(nx):
        quad(bottom[i][0], bottom[i + 1][0], top[i + 1][0], top[i][0])
        quad(bottom[i + 1][ny], bottom[i][ny], top[i][ny], top[i + 1][ny])
    for j in range(ny):
        quad(bottom[0][j + 1], bottom[0][j], top[0][j], top[0][j + 1])
        quad(bottom[nx][j], bottom[nx][j + 1], top[nx][j + 1], top[nx][j])

    with open(sys.argv[1], "wb") as out:
        out.write(b"Plexmill demo part".ljust(80, b" "))
        out.write(struct.pack("<I", len(triangles)))
        for a, b, c in triangles:
            u = [b[k] - a[k] for k in range(3)]
            v = [c[k] - a[k] for k in range(3)]
            n = [u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]]
            size = math.sqrt(sum(k * k for k in n)) or 1
            out.write(struct.pack("<12fH", *(k / size for k in n), *a, *b, *c, 0))
    print(f"{sys.argv[1]}: {len(triangles)} triangles, {WIDTH:g} x {DEPTH:g} mm")


if __name__ == "__main__":
    main()
