"""A new user's first minutes with the image list, driven through the accessibility interface
on a virtual display: start with a folder, see its pictures (sub-folders included), turn one
with the middle-button gesture and undo that with Ctrl+Z, add a note through the context menu,
remove an entry with Delete, and exit.

    imagelist_desktop.py PROGRAM     (run by desktop_run.sh)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from PIL import Image

from desktop_support import (TIMEOUT, answer_box, application, centre, digest, exit_program,
                             fail, find, focused_menu_item, labels, listen_for_focus, mouse,
                             press_button, press_key, stop, wait_for)


def main(program):
    work = tempfile.mkdtemp()
    pictures = os.path.join(work, "Pictures")
    os.makedirs(os.path.join(pictures, "holiday"))
    a = os.path.join(pictures, "a.jpg")
    picture = Image.new("RGB", (200, 150), (255, 0, 0))
    picture.paste((0, 0, 255), (100, 0, 200, 150))
    picture.save(a, quality=95)
    Image.new("RGB", (120, 90), (0, 160, 0)).save(os.path.join(pictures, "holiday", "b.png"))
    with open(os.path.join(pictures, "notes.txt"), "w") as f:
        f.write("not a picture")
    original = digest(a)

    listen_for_focus()
    process = subprocess.Popen([program, pictures], cwd=work)
    try:
        app = wait_for("the program", application)
        window = wait_for("the main window", lambda: find(app, "dialog", "Pixorta"))
        image_list = wait_for("the image list", lambda: find(window, "list", "Image list"))
        wait_for("the folder's pictures",
                 lambda: labels(image_list) == ["a.jpg", "b.png"])

        # The middle-button gesture to the left turns the picture counter-clockwise.
        x, y = centre(image_list.getChildAtIndex(0))
        mouse(x, y, "abs")
        mouse(x, y, "b2p")
        mouse(x - 20, y, "abs")
        mouse(x - 40, y, "abs")
        time.sleep(0.3)
        mouse(x - 40, y, "b2r")
        wait_for("a.jpg turned", lambda: Image.open(a).size == (150, 200))
        if Image.open(a).convert("RGB").getpixel((75, 10))[2] < 200:
            fail("the right (blue) side should be on top after turning left")

        press_key(ord("z"), control=True)
        answer_box(app, "Are you sure you want to undo the last operation "
                        "(Immediate operation: Rotate left)?", "Yes")
        answer_box(app, "Everything undo'ed OK: 1 file put back.", "OK")
        if digest(a) != original:
            fail("undo did not bring back the original bytes")

        # A note through the context menu.
        x, y = centre(image_list.getChildAtIndex(1))
        mouse(x, y, "b1c")
        mouse(x, y, "b3c")
        press_key(0xFF54)  # Down: the menu's first item takes the focus
        item = wait_for("the context menu", lambda: focused_menu_item("Edit note"))
        item.queryAction().doAction(0)
        box = wait_for("the note box", lambda: find(app, "dialog", "Edit file note"))
        field = wait_for("the note field", lambda: find(box, "text"))
        field.queryEditableText().setTextContents("holiday")
        press_button(box, "OK")
        wait_for("the note in the label", lambda: labels(image_list) == ["a.jpg", "b.png (holiday)"])

        # Delete removes the selected entry, not the file.
        x, y = centre(image_list.getChildAtIndex(0))
        mouse(x, y, "b1c")
        press_key(0xFFFF)  # Delete
        wait_for("a.jpg to leave the list", lambda: labels(image_list) == ["b.png (holiday)"])
        if not os.path.exists(a):
            fail("Delete removed the file itself")

        exit_program(window, app, process)
    finally:
        stop(process)
        shutil.rmtree(work, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1])
