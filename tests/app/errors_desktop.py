"""What the window tells when something goes wrong, and a batch that outlives the window,
driven through the accessibility interface on a virtual display: Start! with an empty list;
a batch with a broken picture, whose processing window stays open with the failed row and the
summary until "Close", which leads to "Done."; a batch over the originals, the window closed,
and pixorta-batch --undo bringing back every original byte for byte.

    errors_desktop.py PROGRAM     (run by desktop_run.sh; pixorta-batch lies beside PROGRAM)
"""
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

from desktop_support import (work_folder, TIMEOUT, answer_box, application, click, digest, fail, find,
                             labels, press_button, program_folder, set_text, stop, wait_for)


def rows_of(processing):
    rows = find(processing, "tree", "Results")
    if rows is None:
        return []
    return [cell.name for cell in (rows.getChildAtIndex(i) for i in range(rows.childCount))
            if cell.getRoleName() == "table cell"]


def start(bin_folder, work, environment, files):
    process = subprocess.Popen([os.path.join(bin_folder, "pixorta")] + files, cwd=work,
                               env=environment)
    app = wait_for("the program", application)
    window = wait_for("the main window", lambda: find(app, "dialog", "Pixorta"))
    return process, app, window


def finish(process):
    if process.wait(TIMEOUT) != 0:
        fail("the program ended with status %d" % process.returncode)


def main(program):
    program, work, bin_folder, batch_tool, temp = work_folder(program)
    environment = dict(os.environ, TMPDIR=temp)

    pictures = os.path.join(work, "Pictures")
    os.makedirs(pictures)
    good = os.path.join(pictures, "good.png")
    Image.new("RGB", (120, 90), (0, 160, 0)).save(good)
    other = os.path.join(pictures, "other.jpg")
    Image.new("RGB", (80, 60), (200, 20, 20)).save(other, quality=95)
    broken = os.path.join(pictures, "broken.jpg")
    # A picture while the list takes it, no longer one when the batch reads it.
    Image.new("RGB", (40, 30), (0, 0, 200)).save(broken)
    originals = {path: digest(path) for path in (good, other)}
    out = os.path.join(work, "out")

    # Start! with nothing in the list says so and starts nothing.
    process, app, window = start(bin_folder, work, environment, [])
    try:
        press_button(window, "Start!")
        answer_box(app, "There are no images in the list.", "OK")
        if find(app, "dialog", "Pixorta image processor") is not None:
            fail("a batch started with an empty list")
        click(window, "menu item", "Exit")
        finish(process)
    finally:
        stop(process)

    process, app, window = start(bin_folder, work, environment, [good, broken, other])
    try:
        image_list = wait_for("the image list", lambda: find(window, "list", "Image list"))
        wait_for("the pictures", lambda: labels(image_list) ==
                 ["good.png", "broken.jpg", "other.jpg"])
        with open(broken, "wb") as f:
            f.write(b"no longer a picture")

        # A batch with an error keeps its processing window until "Close".
        set_text(window, "spin button", "Percentage", "50")
        click(window, "radio button", "Specify output folder:")
        set_text(window, "text", "Output folder", out)
        press_button(window, "Start!")
        processing = wait_for("the processing window",
                              lambda: find(app, "dialog", "Pixorta image processor"))
        expected = ["done :good.png", "Loading failed :broken.jpg", "done :other.jpg",
                    "Finished. With 1 errors."]
        wait_for("the rows with the summary", lambda: rows_of(processing) == expected)
        wait_for("the finished state", lambda: find(processing, "push button", "Close"))
        if find(app, "dialog", "Done.") is not None:
            fail("Done. came before the processing window was closed")
        press_button(processing, "Close")
        done = wait_for("Done.", lambda: find(app, "dialog", "Done."))
        written = wait_for("the converted images", lambda: find(done, "list", "Converted images"))
        wait_for("what was written", lambda: labels(written) == ["good.png", "other.jpg"])
        press_button(done, "OK")
        wait_for("Done. to close", lambda: find(app, "dialog", "Done.") is None)

        # Over the originals; then the window closes, and the command line undoes the batch.
        click(window, "radio button", "Change original images, or...")
        press_button(window, "Start!")
        processing = wait_for("the processing window again",
                              lambda: find(app, "dialog", "Pixorta image processor"))
        wait_for("the rows in place", lambda: rows_of(processing) == expected)
        press_button(processing, "Close")
        done = wait_for("Done. again", lambda: find(app, "dialog", "Done."))
        press_button(done, "OK")
        wait_for("Done. to close", lambda: find(app, "dialog", "Done.") is None)
        for path, sha in originals.items():
            if digest(path) == sha:
                fail("the batch in place left %s as it was" % path)
        click(window, "menu item", "Exit")
        finish(process)
    finally:
        stop(process)

    try:
        listed = subprocess.run([batch_tool, "--undo-list"], capture_output=True, text=True)
        if listed.stdout.count("Pixorta: Processing all images") != 2:
            fail("the window's batches are not in the journal: " + listed.stdout)
        undone = subprocess.run([batch_tool, "--undo"], capture_output=True, text=True)
        if undone.returncode != 0 or "2 files put back" not in undone.stdout:
            fail("pixorta-batch --undo: " + undone.stdout + undone.stderr)
        for path, sha in originals.items():
            if digest(path) != sha:
                fail("pixorta-batch --undo did not bring back the bytes of " + path)
        undone = subprocess.run([batch_tool, "--undo"], capture_output=True, text=True)
        if undone.returncode != 0 or "2 new files removed" not in undone.stdout:
            fail("pixorta-batch --undo of the batch into a folder: " + undone.stdout +
                 undone.stderr)
        if os.listdir(out):
            fail("the files the first batch made are still there: %r" % os.listdir(out))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1])
