"""What the desktop drivers share: finding the program and its controls on the accessibility
bus as a screen reader does, waiting for them, and acting as a user would."""
import hashlib
import os
import tempfile
import sys
import time

import pyatspi
from gi.repository import GLib

TIMEOUT = 20

# Popup menus are not children of the application in the tree: a screen reader meets them
# through focus events, and so does a driver.
FOCUSED = []


def on_focus(event):
    if event.detail1:
        FOCUSED.append(event.source)


def listen_for_focus():
    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")


def pump():
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def descendants(acc):
    stack = [acc]
    while stack:
        node = stack.pop()
        yield node
        try:
            stack.extend(node.getChildAtIndex(i) for i in reversed(range(node.childCount)))
        except Exception:
            pass


def find(root, role, name=None):
    for node in descendants(root):
        try:
            if node.getRoleName() == role and (name is None or node.name == name):
                return node
        except Exception:
            continue
    return None


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "pixorta":
            return app
    return None


def fail(message):
    print("FAIL:", message)
    # What the screen reader saw, to tell a missing window from a misnamed control.
    app = application()
    for node in descendants(app) if app else []:
        try:
            print("  %s: %r" % (node.getRoleName(), node.name))
        except Exception:
            pass
    sys.exit(1)


def wait_for(what, probe, timeout=TIMEOUT):
    end = time.time() + timeout
    while time.time() < end:
        pump()
        try:
            value = probe()
        except Exception:  # objects come and go while windows open and close
            value = None
        if value:
            return value
        time.sleep(0.2)
    fail("timed out waiting for " + what)


def labels(item_list):
    return [item_list.getChildAtIndex(i).name for i in range(item_list.childCount)]


def centre(acc):
    box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x + box.width // 2, box.y + box.height // 2


def mouse(x, y, event):
    pyatspi.Registry.generateMouseEvent(x, y, event)
    time.sleep(0.15)


def press_key(keysym, control=False):
    control_keycode = 37  # Control_L in the X server's default map
    if control:
        pyatspi.Registry.generateKeyboardEvent(control_keycode, None, pyatspi.KEY_PRESS)
    pyatspi.Registry.generateKeyboardEvent(keysym, None, pyatspi.KEY_SYM)
    if control:
        pyatspi.Registry.generateKeyboardEvent(control_keycode, None, pyatspi.KEY_RELEASE)
    time.sleep(0.2)


def press_button(root, name):
    button = wait_for("the button " + name, lambda: find(root, "push button", name))
    button.queryAction().doAction(0)


def answer_box(app, text, button):
    """Presses a button of the message box that shows text (not another window's button of
    the same name)."""
    label = wait_for("the message " + repr(text), lambda: find(app, "label", text))
    box = label
    while box is not None and box.getRoleName() not in ("alert", "dialog"):
        box = box.parent
    press_button(box if box is not None else app, button)
    wait_for("the message %r to close" % text, lambda: find(app, "label", text) is None)


def focused_menu_item(name):
    for node in reversed(FOCUSED):
        try:
            if node.getRoleName() == "menu item":
                menu = node.parent
                for i in range(menu.childCount):
                    if menu.getChildAtIndex(i).name == name:
                        return menu.getChildAtIndex(i)
        except Exception:
            continue
    return None


# What a user works with; the items inside lists and tables are left out (their own list is
# checked, and the items of a list scrolled or hidden say little of where they are drawn).
CONTROL_ROLES = {"push button", "check box", "radio button", "combo box", "spin button", "text",
                 "list", "tree", "table", "slider", "label", "menu bar", "panel", "filler"}


def screen_size():
    width, height = os.environ.get("DESKTOP_SCREEN", "1280x1024").split("x")
    return int(width), int(height)


def expect_on_screen(root, what):
    """Fails unless every control on show in root lies whole inside the virtual screen."""
    width, height = screen_size()
    seen = 0
    for node in descendants(root):
        try:
            role = node.getRoleName()
            if role not in CONTROL_ROLES or not node.getState().contains(pyatspi.STATE_SHOWING):
                continue
            box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        except Exception:
            continue
        seen += 1
        if box.width <= 0 or box.height <= 0 or box.x < 0 or box.y < 0 or \
                box.x + box.width > width or box.y + box.height > height:
            fail("%s: the %s %r lies at %d,%d %dx%d, outside the %dx%d screen" %
                 (what, role, node.name, box.x, box.y, box.width, box.height, width, height))
    if not seen:
        fail("%s: no control on show" % what)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def set_text(root, role, name, text):
    field = wait_for("the field " + name, lambda: find(root, role, name))
    field.queryEditableText().setTextContents(text)


def click(root, role, name):
    control = wait_for("the %s %s" % (role, name), lambda: find(root, role, name))
    control.queryAction().doAction(0)


def program_folder(program, work):
    """A copy of the program in a folder of its own, with the pages it finds beside itself,
    so that its preferences file and its backup folder are one test's alone; the folder and
    the tool pixorta-batch that lies beside the program."""
    import shutil
    bin_folder = os.path.join(work, "bin")
    os.makedirs(bin_folder)
    shutil.copy2(program, bin_folder)
    shutil.copytree(os.path.join(os.path.dirname(program), "images_internal"),
                    os.path.join(bin_folder, "images_internal"))
    return bin_folder, os.path.join(os.path.dirname(program), "pixorta-batch")


def exit_program(window, app, process):
    """Exit, answered yes, and the program must end well."""
    press_button(window, "Exit")
    answer_box(app, "Are you sure you want to exit?", "Yes")
    if process.wait(TIMEOUT) != 0:
        fail("the program ended with status %d" % process.returncode)


def stop(process):
    """A program a failed step left running goes."""
    if process.poll() is None:
        process.kill()
        process.wait()


def work_folder(program):
    """A folder of this run with the program's copy in it: (program, work, bin_folder,
    batch_tool, temp), temp being the run's own temporary folder."""
    program = os.path.abspath(program)
    work = tempfile.mkdtemp()
    bin_folder, batch_tool = program_folder(program, work)
    temp = os.path.join(work, "tmp")
    os.makedirs(temp)
    return program, work, bin_folder, batch_tool, temp
