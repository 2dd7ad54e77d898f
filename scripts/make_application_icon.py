#!/usr/bin/env python3
"""Draws plexmon's application icon, the one that menus, software centres and the desktop entry
(Icon=plexmon) show: the tray's "ready" artwork, in the hicolor theme's sizes, from the small ones
a menu uses to the large ones a software centre shows.

Standard library only; the output is deterministic:
    python3 scripts/make_application_icon.py [theme folder]
        (default packaging/desktop/icons, laid out as hicolor/SIZExSIZE/apps/plexmon.png)
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_images import png  # noqa: E402
from make_tray_icons import STATES, icon  # noqa: E402

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "packaging", "desktop", "icons")
    tile, inside = STATES["ready"]
    for size in SIZES:
        apps = os.path.join(folder, "hicolor", f"{size}x{size}", "apps")
        os.makedirs(apps, exist_ok=True)
        with open(os.path.join(apps, "plexmon.png"), "wb") as file:
            file.write(png(icon(size, tile, inside)))
    print(f"plexmon: {len(SIZES)} sizes")


if __name__ == "__main__":
    main()
