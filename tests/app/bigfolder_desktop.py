"""A big folder in the window, driven through the accessibility interface on a virtual
display: the program starts with a folder of 300 generated photos, every entry is listed at
once, and while the thumbnails are still coming in a task panel is switched and shows; then all
thumbnails arrive and the program exits.

    bigfolder_desktop.py PROGRAM     (run by desktop_run.sh)
"""
import os
import random
import shutil
import subprocess
import sys

from PIL import Image

import pyatspi

from desktop_support import (application, click, exit_program, fail, find, labels, stop,
                             wait_for, work_folder)

COUNT = 300


def showing(node):
    return node is not None and node.getState().contains(pyatspi.STATE_SHOWING)


def description(node):
    try:
        return node.description or ""
    except Exception:
        return ""


def make_photos(folder):
    """300 progressive JPEGs of 2000 x 1500 with some grain: each takes its moment to decode,
    as photos do. One picture is encoded once and copied (not linked: one file reached twice is
    one entry) under every name."""
    random.seed(7)
    base = Image.new("RGB", (2000, 1500))
    pixels = base.load()
    for y in range(0, 1500, 3):
        for x in range(0, 2000, 3):
            pixels[x, y] = (random.randrange(256), (x * 255) // 2000, (y * 255) // 1500)
    first = os.path.join(folder, "photo000.jpg")
    base.save(first, quality=90, progressive=True)
    names = ["photo%03d.jpg" % i for i in range(COUNT)]
    for name in names[1:]:
        shutil.copyfile(first, os.path.join(folder, name))
    return names


def main(program):
    program, work, bin_folder, _, temp = work_folder(program)
    pictures = os.path.join(work, "Pictures", "big")
    os.makedirs(pictures)
    names = make_photos(pictures)
    environment = dict(os.environ, TMPDIR=temp)

    process = subprocess.Popen([os.path.join(bin_folder, os.path.basename(program)), pictures],
                               cwd=work, env=environment)
    try:
        app = wait_for("the program", application)
        window = wait_for("the main window", lambda: find(app, "dialog", "Pixorta"))
        image_list = wait_for("the image list", lambda: find(window, "list", "Image list"))
        wait_for("every entry", lambda: labels(image_list) == names)
        if not description(image_list).startswith("Making thumbnails:"):
            fail("the thumbnails should still be on their way, not: %r" % description(image_list))

        # The window answers meanwhile: another task's panel comes up.
        click(window, "list item", "Add text")
        wait_for("the Add text panel",
                 lambda: showing(find(window, "label", "Add text to all images")))
        if not description(image_list).startswith("Making thumbnails:"):
            fail("the panel should have come while thumbnails were still being made")
        click(window, "list item", "Resize")
        wait_for("the Resize panel", lambda: showing(find(window, "label", "Resize all images")))

        wait_for("every thumbnail", lambda: description(image_list) == "", timeout=120)
        exit_program(window, app, process)
    finally:
        stop(process)
        shutil.rmtree(work, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1])
