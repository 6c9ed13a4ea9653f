#!/usr/bin/env python3
"""Whether program icons show on any panel: each PNG given is laid on a white and on a black
panel, and on each it must (1) stand out from the panel: at least a fifth of the icon's
opaque area at 3:1 contrast or more against the panel colour, and (2) keep its glyph
readable: the icon's lightest and darkest tenths at 3:1 or more from each other. Contrast is
the WCAG ratio of relative luminances. Prints the figures; exit status 1 when an icon falls
short, 2 when a file cannot be read.

Usage: icon_contrast.py icon.png [icon.png ...]
"""
import subprocess
import sys

PANELS = {"white": (255, 255, 255), "black": (0, 0, 0)}
MIN_CONTRAST = 3.0
MIN_VISIBLE_SHARE = 0.2


def channel(value):
    c = value / 255.0
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def luminance(rgb):
    r, g, b = (channel(v) for v in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    light, dark = max(a, b), min(a, b)
    return (light + 0.05) / (dark + 0.05)


def pixels(path):
    """The icon's pixels as (r, g, b, a) tuples, through ImageMagick."""
    data = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True, check=True).stdout
    return [tuple(data[i:i + 4]) for i in range(0, len(data) - 3, 4)]


def on_panel(pixel, panel):
    alpha = pixel[3] / 255.0
    return tuple(round(alpha * c + (1 - alpha) * p) for c, p in zip(pixel[:3], panel))


def measure(path, panel):
    """(share of the opaque area at 3:1 from the panel, contrast of lightest to darkest tenth)."""
    opaque = [on_panel(p, panel) for p in pixels(path) if p[3] >= 128]
    if not opaque:
        return 0.0, 1.0
    panel_luminance = luminance(panel)
    levels = sorted(luminance(p) for p in opaque)
    visible = sum(1 for level in levels if contrast(level, panel_luminance) >= MIN_CONTRAST) / len(levels)
    tenth = max(1, len(levels) // 10)
    darkest = levels[tenth // 2]
    lightest = levels[-1 - tenth // 2]
    return visible, contrast(lightest, darkest)


def main(paths):
    if not paths:
        print(__doc__)
        return 2
    failures = 0
    for path in paths:
        for name, panel in PANELS.items():
            try:
                visible, glyph = measure(path, panel)
            except (OSError, subprocess.CalledProcessError) as error:
                print("cannot read %s: %s" % (path, error))
                return 2
            ok = visible >= MIN_VISIBLE_SHARE and glyph >= MIN_CONTRAST
            failures += not ok
            print("%s  %s on %s: %.0f%% of the icon at 3:1 from the panel, glyph %.1f:1 to its ground"
                  % ("ok  " if ok else "FAIL", path, name, 100 * visible, glyph))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
