"""Results named by a pattern into a folder that mirrors the one the pictures came from, driven
through the accessibility interface on a virtual display of a small laptop's 1280 x 720: a
folder of pictures from the command line, "%n:3% %name%" typed into "File name" with the example
beside it, the counter started at 7, PNG into a folder keeping sub-folders, "Start!"; then the
same batch again with "Rename" where the files exist. The names and the bytes on disk are
compared with what pixorta-batch writes for the same job.

    names_desktop.py PROGRAM     (run by desktop_run.sh; pixorta-batch lies beside PROGRAM)
"""
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

from desktop_support import (work_folder, TIMEOUT, answer_box, application, click, descendants, digest,
                             exit_program, expect_on_screen, fail, find, labels, press_button,
                             press_key, program_folder, set_text, stop, wait_for)

RETURN = 0xFF0D
LETTER_P, LETTER_R = 0x0070, 0x0072
PATTERN = "%n:3% %name%"


def choose(window, current, key, wanted):
    """Picks an item of a closed box with the keyboard: its items offer no action to pick
    them."""
    box = wait_for("the box showing " + current, lambda: find(window, "combo box", current))
    box.queryAction().doAction(0)  # ShowMenu
    press_key(key)
    press_key(RETURN)
    wait_for("the box showing " + wanted, lambda: find(window, "combo box", wanted))


def files_below(folder):
    """Every file below folder, by its path relative to it, with its digest."""
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            found[os.path.relpath(path, folder)] = digest(path)
    return found


def run_batch_tool(batch_tool, arguments):
    result = subprocess.run([batch_tool, "--jobs", "1"] + arguments, capture_output=True,
                            text=True)
    if result.returncode != 0:
        fail("pixorta-batch failed: " + result.stdout + result.stderr)


def start_and_wait(app, window):
    press_button(window, "Start!")
    done = wait_for("Done.", lambda: find(app, "dialog", "Done."), timeout=60)
    press_button(done, "OK")
    wait_for("Done. to close", lambda: find(app, "dialog", "Done.") is None)


def find_prefix(root, prefix):
    """The label whose text starts with prefix."""
    for node in descendants(root):
        try:
            if node.getRoleName() == "label" and (node.name or "").startswith(prefix):
                return node
        except Exception:
            continue
    return None


def main(program):
    program, work, bin_folder, batch_tool, temp = work_folder(program)

    pictures = os.path.join(work, "Pictures")
    os.makedirs(os.path.join(pictures, "trip", "rome"))
    Image.new("RGB", (64, 48), (255, 0, 0)).save(os.path.join(pictures, "a.jpg"), quality=95)
    Image.new("RGB", (40, 30), (0, 160, 0)).save(os.path.join(pictures, "trip", "b.png"))
    Image.new("RGB", (30, 40), (0, 0, 200)).save(os.path.join(pictures, "trip", "rome", "c.bmp"))
    originals = files_below(pictures)
    out = os.path.join(work, "out")

    environment = dict(os.environ, TMPDIR=temp)
    process = subprocess.Popen([os.path.join(bin_folder, "pixorta"), pictures], cwd=work,
                               env=environment)
    try:
        app = wait_for("the program", application)
        window = wait_for("the main window", lambda: find(app, "dialog", "Pixorta"))
        image_list = wait_for("the image list", lambda: find(window, "list", "Image list"))
        wait_for("the folder's pictures",
                 lambda: labels(image_list) == ["a.jpg", "b.png", "c.bmp"])
        expect_on_screen(window, "the main window")

        # The example follows the pattern, the counter's start and the format as they change.
        set_text(window, "text", "File name", PATTERN)
        wait_for("the example of the pattern",
                 lambda: find(window, "label", "Example: 001 a.jpg"))
        set_text(window, "spin button", "Start at", "7")
        wait_for("the example counting from 7",
                 lambda: find(window, "label", "Example: 007 a.jpg"))
        choose(window, "Don't change", LETTER_P, "PNG")
        wait_for("the example in PNG", lambda: find(window, "label", "Example: 007 a.png"))
        # A pattern that cannot be used says so in the example's place.
        set_text(window, "text", "File name", "%nme%")
        wait_for("the pattern's problem",
                 lambda: find_prefix(window, "Unknown token '%nme%'"))
        set_text(window, "text", "File name", PATTERN)
        wait_for("the example again", lambda: find(window, "label", "Example: 007 a.png"))

        click(window, "radio button", "Specify output folder:")
        set_text(window, "text", "Output folder", out)
        click(window, "check box", "Keep sub-folders")
        expect_on_screen(window, "the main window with the names set")
        start_and_wait(app, window)

        expected = os.path.join(work, "expected")
        common = ["--name", PATTERN, "--start", "7", "--format", "png", "--keep-folders",
                  "--output-folder", expected, pictures]
        run_batch_tool(batch_tool, common)
        written = files_below(out)
        wanted = ["007 a.png", os.path.join("trip", "008 b.png"),
                  os.path.join("trip", "rome", "009 c.png")]
        if sorted(written) != sorted(wanted):
            fail("the window wrote %r, not %r" % (sorted(written), sorted(wanted)))
        if written != files_below(expected):
            fail("the window wrote %r, pixorta-batch %r" % (written, files_below(expected)))

        # Again, renaming where the files stand now: nothing is overwritten.
        choose(window, "Overwrite (backed up)", LETTER_R, "Rename")
        start_and_wait(app, window)
        run_batch_tool(batch_tool, ["--if-exists", "rename"] + common)
        written = files_below(out)
        if len(written) != 6:
            fail("the renamed batch left %r" % sorted(written))
        if written != files_below(expected):
            fail("renamed, the window wrote %r, pixorta-batch %r" % (written,
                                                                    files_below(expected)))
        if files_below(pictures) != originals:
            fail("the pictures themselves changed")

        exit_program(window, app, process)
    finally:
        stop(process)
        shutil.rmtree(work, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1])
