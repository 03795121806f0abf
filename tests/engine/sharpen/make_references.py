#!/usr/bin/python3
"""Writes the pictures the unsharp mask is checked on and what Pillow's
ImageFilter.UnsharpMask makes of them, into this folder:

    /usr/bin/python3 tests/engine/sharpen/make_references.py

The pictures are drawn here (gradients, hard-edged shapes, a little noise, at sizes that give
the blur an interior, only edges, and both), each sharpened with the settings in SETTINGS;
references.tsv lists them. Pillow is the yardstick the engine is held to, not its model.
"""

import math
import os
import random

from PIL import Image, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))

# radius, percent, threshold
SETTINGS = [
    (0.3, 100, 0),
    (0.5, 150, 0),
    (1.0, 80, 2),
    (1.0, 200, 0),
    (2.0, 150, 3),
    (3.0, 120, 4),
    (5.0, 100, 0),
    (5.0, 200, 2),
]


def clip(v):
    return max(0, min(255, int(v)))


def scene(width, height, seed, noise):
    """Gradients and waves under a rectangle, a disc and a thin line, with a little noise."""
    rnd = random.Random(seed)
    img = Image.new("RGB", (width, height))
    px = img.load()
    for y in range(height):
        for x in range(width):
            r = 40 + 150 * x / width + 30 * math.sin(y / 7.0)
            g = 128 + 100 * math.sin((x + y) / 11.0)
            b = 60 + 120 * y / height
            if width * 0.2 < x < width * 0.55 and height * 0.25 < y < height * 0.7:
                r, g, b = 230, 40, 30
            if (x - width * 0.72) ** 2 + (y - height * 0.45) ** 2 < (min(width, height) * 0.2) ** 2:
                r, g, b = 20, 20, 200
            if x == width // 3:
                r, g, b = 250, 250, 250
            n = rnd.randint(-noise, noise)
            px[x, y] = (clip(r + n), clip(g + n), clip(b - n))
    return img


# name, picture, the largest radius it is sharpened with: a picture smaller than the blur is
# wide is all edge, and there the shape of the blur decides more than its width.
PICTURES = [
    ("scene", scene(96, 72, 1, 8), 5.0),
    ("odd", scene(61, 37, 2, 0), 5.0),
    ("tiny", scene(7, 5, 3, 8), 2.0),
]


def main():
    rows = []
    for name, img, largest in PICTURES:
        source = name + ".png"
        img.save(os.path.join(HERE, source))
        for radius, percent, threshold in SETTINGS:
            if radius > largest:
                continue
            out = "%s-r%s-p%d-t%d.png" % (name, radius, percent, threshold)
            img.filter(ImageFilter.UnsharpMask(radius, percent, threshold)).save(
                os.path.join(HERE, out))
            rows.append("%s\t%s\t%d\t%d\t%s" % (source, radius, percent, threshold, out))
    with open(os.path.join(HERE, "references.tsv"), "w") as f:
        f.write("# source\tradius\tpercent\tthreshold\tPillow's result "
                "(written by make_references.py)\n")
        f.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
