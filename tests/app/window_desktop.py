"""A new user's first batch, driven through the accessibility interface on a virtual display
of a small laptop's 1280 x 720: pictures from the command line, every control of the window
and of every task panel on the screen, the menus' keys, the help page, Resize to 50 % and PNG
into a folder with a slideshow of the results, "Start!", the processing rows, the recorder
without a microphone, "Done."; then a batch over the originals, undone from "Done.", and "Exit
application". The files are compared byte for byte, after each step, with what pixorta-batch
writes for the same job.

    window_desktop.py PROGRAM     (run by desktop_run.sh; pixorta-batch lies beside PROGRAM)
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

import pyatspi

from desktop_support import (work_folder, TIMEOUT, answer_box, application, click, descendants, digest,
                             expect_on_screen, fail, find, labels, press_button, press_key,
                             program_folder, pump, set_text, stop, wait_for)

HOME, RETURN, ESCAPE = 0xFF50, 0xFF0D, 0xFF1B
# Typing a letter in the open box picks the first item it starts.
LETTER_P = 0x0070


def choose_format(window, current, key, wanted):
    """Picks a format from the open box with the keyboard: its items offer no action to pick
    them."""
    box = wait_for("the format box", lambda: find(window, "combo box", current))
    box.queryAction().doAction(0)  # ShowMenu
    press_key(key)
    press_key(RETURN)
    wait_for("the format " + wanted, lambda: find(window, "combo box", wanted))


# Each task's panel, by a caption only it shows.
PANELS = [("Resize", "label", "Resize all images"),
          ("Crop", "check box", "Crop images"),
          ("Sharpen", "check box", "Sharpen images"),
          ("Change colors", "label", "Change light, contrast and colors"),
          ("Add background", "check box", "Add background"),
          ("Add text", "label", "Add text to all images"),
          ("Watermark", "check box", "Add watermark"),
          ("Create slideshow", "check box", "Create movie slideshow (.avi)")]


def showing(node):
    return node is not None and node.getState().contains(pyatspi.STATE_SHOWING)


def check_window_fits(window):
    """The window and every control of it, with each task panel in turn, on the screen."""
    expect_on_screen(window, "the main window")
    # Resize is shown first; choosing it again would unselect it.
    for task, role, caption in PANELS[1:]:
        click(window, "list item", task)
        wait_for("the %s panel" % task, lambda: showing(find(window, role, caption)))
        pump()
        expect_on_screen(window, "the main window with the %s panel" % task)
    click(window, "list item", "Resize")
    wait_for("the Resize panel", lambda: showing(find(window, "label", "Resize all images")))


def check_menu_keys(window, undo_offered):
    """The menus show the keys the window knows, and undo is greyed with nothing to undo."""
    for caption, keys in (("Undo last operation", "Ctrl+Z"), ("Help index", "F1")):
        item = wait_for("the menu item " + caption, lambda: find(window, "menu item", caption))
        if item.queryAction().getKeyBinding(0) != keys:
            fail("%s shows %r, not %s" % (caption, item.queryAction().getKeyBinding(0), keys))
    # The menu's state is brought up to date as it opens.
    click(window, "menu item", "File")
    undo = find(window, "menu item", "Undo last operation")
    wait_for("the File menu", lambda: showing(undo))
    if undo.getState().contains(pyatspi.STATE_SENSITIVE) != undo_offered:
        fail("Undo last operation is %s" % ("greyed" if not undo_offered else "offered"))
    press_key(ESCAPE)
    wait_for("the File menu to close", lambda: not showing(undo))


def run_batch_tool(batch_tool, arguments):
    """What the command line writes for the same job."""
    result = subprocess.run([batch_tool, "--jobs", "1"] + arguments, capture_output=True,
                            text=True)
    if result.returncode != 0:
        fail("pixorta-batch failed: " + result.stdout + result.stderr)


def expect_same(path, expected_path, what):
    if digest(path) != digest(expected_path):
        fail("%s: %s differs from %s" % (what, path, expected_path))


def main(program):
    program, work, bin_folder, batch_tool, temp = work_folder(program)

    pictures = os.path.join(work, "Pictures")
    os.makedirs(pictures)
    a = os.path.join(pictures, "a.jpg")
    picture = Image.new("RGB", (200, 150), (255, 0, 0))
    picture.paste((0, 0, 255), (100, 0, 200, 150))
    picture.save(a, quality=95)
    b = os.path.join(pictures, "b.png")
    Image.new("RGB", (120, 90), (0, 160, 0)).save(b)
    originals = {path: digest(path) for path in (a, b)}
    # The originals as they were, for the command line's batch in place.
    kept = os.path.join(work, "kept")
    os.makedirs(kept)
    originals_kept = [shutil.copy(path, kept) for path in (a, b)]
    out = os.path.join(work, "out")

    # The desktop's default handler, as Qt finds it on a desktop it does not know.
    handler_bin = os.path.join(work, "handler")
    os.makedirs(handler_bin)
    opened = os.path.join(work, "opened.txt")
    with open(os.path.join(handler_bin, "xdg-open"), "w") as f:
        f.write('#!/bin/sh\necho "$1" >> "%s"\n' % opened)
    os.chmod(os.path.join(handler_bin, "xdg-open"), 0o755)
    environment = dict(os.environ, TMPDIR=temp,
                       PATH=handler_bin + os.pathsep + os.environ.get("PATH", ""))
    process = subprocess.Popen([os.path.join(bin_folder, "pixorta"), a, b], cwd=work,
                               env=environment)
    try:
        app = wait_for("the program", application)
        window = wait_for("the main window", lambda: find(app, "dialog", "Pixorta"))
        image_list = wait_for("the image list", lambda: find(window, "list", "Image list"))
        wait_for("the command line's pictures", lambda: labels(image_list) == ["a.jpg", "b.png"])
        check_window_fits(window)
        check_menu_keys(window, undo_offered=False)

        # The help page beside the program opens in the desktop's browser.
        click(window, "menu item", "Help index")
        help_page = os.path.join(bin_folder, "images_internal", "help.html")
        wait_for("the help page to be opened", lambda: os.path.exists(opened) and
                 open(opened).read().strip() == "file://" + help_page)

        # Resize to 50 %, PNG into a folder, and a small slideshow of the results.
        set_text(window, "spin button", "Percentage", "50")
        choose_format(window, "Don't change", LETTER_P, "PNG")
        click(window, "radio button", "Specify output folder:")
        set_text(window, "text", "Output folder", out)
        click(window, "list item", "Create slideshow")
        click(window, "check box", "Create movie slideshow (.avi)")
        set_text(window, "spin button", "Movie width:", "160")
        set_text(window, "spin button", "Movie height:", "120")
        set_text(window, "spin button", "Pause between slides:", "1")
        press_button(window, "Start!")

        # Once the movie is written the recorder is offered, over the processing window.
        processing = wait_for("the processing window",
                              lambda: find(app, "dialog", "Pixorta image processor"))
        recorder = wait_for("the sound recorder",
                            lambda: find(app, "dialog", "Pixorta sound recorder"), timeout=60)
        rows = find(processing, "tree", "Results")
        shown = [cell.name for cell in (rows.getChildAtIndex(i) for i in range(rows.childCount))
                 if cell.getRoleName() == "table cell"]
        if shown != ["done :a.jpg", "done :b.png"]:
            fail("processing rows: %r" % shown)
        expect_on_screen(processing, "the processing window")
        # The virtual display has no sound server: the recorder says so, shows the movie all
        # the same, and goes on to a movie without a voice.
        wait_for("the recorder's message", lambda: any(
            node.getRoleName() == "label" and (node.name or "").startswith(
                "No microphone was found.") for node in descendants(recorder)))
        if find(recorder, "push button", "Start recording").getState().contains(
                pyatspi.STATE_SENSITIVE):
            fail("the recorder offers to record without a microphone")
        expect_on_screen(recorder, "the sound recorder")
        press_button(recorder, "Make the movie without a voice")

        done = wait_for("Done.", lambda: find(app, "dialog", "Done."), timeout=60)
        written = wait_for("the converted images", lambda: find(done, "list", "Converted images"))
        wait_for("the written files in Done.",
                 lambda: labels(written) == ["Pixorta slideshow.avi", "a.png", "b.png"])
        expect_on_screen(done, "Done.")
        expected = os.path.join(work, "expected-folder")
        run_batch_tool(batch_tool, ["--resize", "50%", "--format", "png", "--output-folder",
                                    expected, a, b])
        for name in ("a.png", "b.png"):
            expect_same(os.path.join(out, name), os.path.join(expected, name), "into the folder")
        if not os.path.getsize(os.path.join(out, "Pixorta slideshow.avi")):
            fail("the slideshow is empty")
        for path, sha in originals.items():
            if digest(path) != sha:
                fail("the original %s changed" % path)
        press_button(done, "OK")
        wait_for("Done. to close", lambda: find(app, "dialog", "Done.") is None)
        check_menu_keys(window, undo_offered=True)

        # Again over the originals, in their own formats, without the slideshow.
        choose_format(window, "PNG", HOME, "Don't change")
        click(window, "radio button", "Change original images, or...")
        click(window, "list item", "Create slideshow")
        click(window, "check box", "Create movie slideshow (.avi)")
        press_button(window, "Start!")
        done = wait_for("Done. again", lambda: find(app, "dialog", "Done."), timeout=60)
        written = wait_for("the converted images", lambda: find(done, "list", "Converted images"))
        wait_for("the originals in Done.", lambda: labels(written) == ["a.jpg", "b.png"])
        expected = os.path.join(work, "expected-in-place")
        os.makedirs(expected)
        copies = [shutil.copy(original, expected) for original in originals_kept]
        run_batch_tool(batch_tool, ["--resize", "50%", "--in-place"] + copies)
        for path in (a, b):
            expect_same(path, os.path.join(expected, os.path.basename(path)), "in place")

        # Undo brings back the originals; again, the batch before it, whose new files go, all
        # but one edited since, which stays; then there is nothing.
        press_button(done, "I made a mistake! Please Undo it!")
        answer_box(app, "Are you sure you want to undo the last operation "
                        "(Processing all images)?", "Yes")
        answer_box(app, "Everything undo'ed OK: 2 files put back.", "OK")
        for path, sha in originals.items():
            if digest(path) != sha:
                fail("undo did not bring back the bytes of " + path)
        edited = os.path.join(out, "b.png")
        Image.new("RGB", (3, 3), (9, 9, 9)).save(edited)
        press_button(done, "I made a mistake! Please Undo it!")
        answer_box(app, "Are you sure you want to undo the last operation "
                        "(Processing all images)?", "Yes")
        answer_box(app, "Undone: 2 new files removed, 1 changed file left. Changed since, and "
                        "left as they are:\n" + edited, "OK")
        press_button(done, "I made a mistake! Please Undo it!")
        answer_box(app, "There is nothing to undo (i.e. no file was overwritten)", "OK")
        if sorted(os.listdir(out)) != ["b.png"]:
            fail("undo should remove the first batch's new files but the edited one: %r"
                 % os.listdir(out))

        # "Exit application" ends the program at once and cleanly.
        press_button(done, "Exit application")
        if process.wait(TIMEOUT) != 0:
            fail("the program ended with status %d" % process.returncode)
        if glob.glob(os.path.join(temp, "pixorta_temp*")):
            fail("the backup folder was left behind")
        with open(os.path.join(bin_folder, "preferences.ini")) as f:
            if f.read() != "[Options]\ngeneral.nusg=1\n":
                fail("the start was not counted")
    finally:
        stop(process)
        shutil.rmtree(work, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1])
