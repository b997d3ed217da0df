#!/usr/bin/python3

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

"""Checks velto-camera's main window as a screen reader and a mouse meet it.

Run by app_accessibility_test.sh, which starts the application on a private X server and session
bus with the accessibility bus, and a simulated C200. The window is read through AT-SPI (roles,
accessible names, states, extents, values) and driven with real xdotool pointer, wheel and key
events; the camera's own state comes from velto-simcam. Each check prints PASS or FAIL with its
reasons; the exit status is the number of failed checks.

Every wait polls a condition with a deadline: nothing sleeps for a fixed time to let something
happen.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

WHEEL_UP, WHEEL_DOWN = 4, 5
# Qt lists a checkable tool button (a picker's segment, a tool) as a check box.
BUTTONS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON}
POLL = 0.03  # seconds between two looks at a condition


def wait_until(condition, seconds):
    """condition()'s first true value within `seconds`, else None."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(POLL)


# --- Reading the window ---------------------------------------------------------------------------

def children(acc):
    try:
        count = acc.childCount
    except GLib.GError:
        return []
    kids = []
    for i in range(count):
        try:
            child = acc.getChildAtIndex(i)
        except GLib.GError:
            continue
        if child is not None:
            kids.append(child)
    return kids


def walk(acc):
    """acc and everything under it, depth first, in the order a screen reader lists them."""
    stack = [acc]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(reversed(children(node)))


def role(acc):
    try:
        return acc.getRole()
    except GLib.GError:
        return None


def role_name(acc):
    try:
        return acc.getRoleName()
    except GLib.GError:
        return "?"


def name(acc):
    try:
        return acc.name or ""
    except GLib.GError:
        return ""


def has(acc, state):
    try:
        return acc.getState().contains(state)
    except GLib.GError:
        return False


def showing(acc):
    return has(acc, pyatspi.STATE_SHOWING)


def extents(acc):
    """(x, y, width, height) on the screen."""
    box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def centre(acc):
    x, y, w, h = extents(acc)
    return x + w // 2, y + h // 2


def text(acc):
    try:
        return acc.queryText().getText(0, -1)
    except (NotImplementedError, GLib.GError):
        return ""


def current_value(acc):
    try:
        return acc.queryValue().currentValue
    except (NotImplementedError, GLib.GError):
        return None


def shown_value(acc):
    """What a control shows as its setting: a slider's position, a combo box's text, a button's
    checked state."""
    value = current_value(acc)
    if value is not None:
        return value
    if role(acc) == pyatspi.ROLE_COMBO_BOX:
        return name(acc)  # Qt names a combo box by its current text; a label names the box
    return has(acc, pyatspi.STATE_CHECKED)


def describe(acc):
    return f'{role_name(acc)} "{name(acc)}"'


def find_window(title, seconds):
    def look():
        desktop = pyatspi.Registry.getDesktop(0)
        for app in children(desktop):
            for top in children(app):
                if role(top) == pyatspi.ROLE_FRAME and name(top) == title:
                    return top
        return None
    return wait_until(look, seconds)


def find(root, wanted_role, wanted_name):
    for acc in walk(root):
        if role(acc) == wanted_role and name(acc) == wanted_name:
            return acc
    return None


def scroll_view(acc):
    """(viewport, vertical scroll bar) of the nearest scrolling area around acc, or (None, None).
    Qt lists a scroll area as fillers: the viewport holding the content, and beside it a
    container with the scroll bars."""
    node = acc
    while node is not None and node.parent is not None:
        for sibling in children(node.parent):
            for bar in [sibling] + children(sibling):
                if role(bar) == pyatspi.ROLE_SCROLL_BAR and showing(bar):
                    _, _, w, h = extents(bar)
                    if has(bar, pyatspi.STATE_VERTICAL) or h > w:
                        return node, bar
        node = node.parent
    return None, None


# --- Driving it -----------------------------------------------------------------------------------

def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True, text=True,
                          timeout=10).stdout


def pointer():
    where = dict(line.split("=", 1) for line in xdotool("getmouselocation", "--shell").split())
    return int(where["X"]), int(where["Y"])


def point_at(x, y):
    # Not mousemove --sync: it waits for a motion that never comes when the pointer is there already.
    xdotool("mousemove", x, y)
    if not wait_until(lambda: pointer() == (x, y), 5):
        raise RuntimeError(f"the pointer did not move to {x},{y}")


def click_centre(acc):
    x, y = centre(acc)
    point_at(x, y)
    xdotool("click", 1)


# --- The camera -----------------------------------------------------------------------------------

class Camera:
    """The simulated camera: its controls and the log of what it was asked."""

    def __init__(self, simcam, camera_id, log_path):
        self.simcam, self.id, self.log_path = simcam, camera_id, log_path

    def state(self):
        out = subprocess.run([self.simcam, "ctl", "--id", self.id, "state"], check=True,
                             capture_output=True, text=True).stdout
        return json.loads(out)

    def log(self):
        with open(self.log_path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def events(self, event, since=0):
        return sum(1 for entry in self.log()[since:] if entry.get("event") == event)


# --- The checks -----------------------------------------------------------------------------------

class Report:
    """Counts failed checks and prints each check's result with its problems."""

    failed = 0

    def report(self, title, problems):
        if problems:
            self.failed += 1
            print(f"FAIL {title}")
            for problem in problems:
                print(f"  - {problem}")
        else:
            print(f"PASS {title}")
        sys.stdout.flush()
        return not problems


class Checks(Report):
    def __init__(self, args):
        self.args = args
        self.camera = Camera(args.simcam, args.camera, args.sim_log)
        self.failed = 0
        self.window = None

    def setup(self):
        self.window = find_window("Velto Camera", 20)
        if self.window is None:
            print("FAIL no frame named \"Velto Camera\" on the accessibility bus")
            return False
        # The form is filled once the camera's ranges are read: its first slider takes input.
        brightness = wait_until(lambda: self.slider("Brightness"), 20)
        if brightness is None:
            print("FAIL the sidebar shows no sensitive slider named \"Brightness\" within 20 s")
            return False
        self.write_tree("tree.txt")
        return True

    def write_tree(self, file_name):
        """The window as a screen reader lists it, one line per object, for reading a failure."""
        depth = {}
        with open(os.path.join(self.args.out, file_name), "w", encoding="utf-8") as f:
            for acc in walk(self.window):
                level = depth.get(acc.parent, -1) + 1 if acc is not self.window else 0
                depth[acc] = level
                states = [s for s, on in (("showing", pyatspi.STATE_SHOWING), ("sensitive", pyatspi.STATE_SENSITIVE),
                                          ("focusable", pyatspi.STATE_FOCUSABLE), ("checked", pyatspi.STATE_CHECKED))
                          if has(acc, on)]
                try:
                    box = extents(acc)
                except (NotImplementedError, GLib.GError):
                    box = None
                value = current_value(acc)
                f.write("  " * level + f"{describe(acc)} {box} {' '.join(states)}"
                        + (f" value={value}" if value is not None else "")
                        + (f" text={text(acc)!r}" if text(acc) else "") + "\n")

    def slider(self, wanted):
        acc = find(self.window, pyatspi.ROLE_SLIDER, wanted)
        if acc is not None and showing(acc) and has(acc, pyatspi.STATE_SENSITIVE):
            return acc
        return None

    # 1. Names -----------------------------------------------------------------------------------
    def names(self):
        kinds = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
                 pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_COMBO_BOX,
                 pyatspi.ROLE_SPIN_BUTTON}
        problems, seen = [], 0
        for acc in walk(self.window):
            if not showing(acc):
                continue
            if role(acc) in kinds or has(acc, pyatspi.STATE_FOCUSABLE):
                seen += 1
                if not name(acc).strip():
                    x, y, w, h = extents(acc)
                    problems.append(f"{role_name(acc)} at {x},{y} ({w}x{h}) has no accessible name")
        if seen < 10:
            problems.append(f"only {seen} widgets that take focus are showing: the tree is not read")
        self.report(f"every showing control has an accessible name ({seen} looked at)", problems)

    # 2. The microphone picker --------------------------------------------------------------------
    def microphone(self):
        problems = []
        for label in ("Pickup: 360° Room", "Pickup: 90° Front"):
            found = [acc for acc in walk(self.window) if name(acc) == label and role(acc) in BUTTONS]
            if not found:
                problems.append(f'no button named "{label}"')
            elif not any(showing(acc) for acc in found):
                problems.append(f'the button "{label}" is not showing')
        self.report("the Microphone section shows its pickup picker", problems)

    # 3. The wheel -------------------------------------------------------------------------------
    def wheel(self):
        problems = []
        pane, bar = scroll_view(self.slider("Brightness"))
        if pane is None:
            self.report("scrolling never changes a setting",
                        ["the sidebar shows no vertical scroll bar: the form cannot scroll at this size"])
            return
        value = bar.queryValue()
        top, bottom = value.minimumValue, value.maximumValue
        view = extents(pane)
        view_top, view_bottom = view[1], view[1] + view[3]

        def scroll_to(position):
            position = max(top, min(bottom, position))
            value.currentValue = position
            wait_until(lambda: value.currentValue == position, 5)

        def inside(acc):
            x, y = centre(acc)
            return showing(acc) and view[0] <= x < view[0] + view[2] and view_top <= y < view_bottom

        # Sliders, combo boxes and everything checkable: a picker's segments, and check boxes.
        kinds = {pyatspi.ROLE_SLIDER, pyatspi.ROLE_COMBO_BOX}
        scroll_to(top)
        controls = [acc for acc in walk(pane)
                    if showing(acc) and (role(acc) in kinds or
                                         role(acc) in BUTTONS - {pyatspi.ROLE_PUSH_BUTTON})]
        controls.sort(key=lambda acc: extents(acc)[1])

        before = self.camera.state()
        log_mark = len(self.camera.log())
        scrolled, wheeled, unanswered = 0, 0, 0
        for acc in controls:
            if unanswered >= 3:
                problems.append("gave up: the window no longer answers the wheel")
                break
            # Each control in the middle of the view, so that the form can move both ways under it.
            _, y, _, h = extents(acc)
            scroll_to(y - view_top + value.currentValue + h // 2 - view[3] // 2)
            if not inside(acc):
                problems.append(f"{describe(acc)} cannot be brought into the sidebar's view")
                continue
            down_first = bottom - value.currentValue >= value.currentValue - top
            for button in ((WHEEL_DOWN, WHEEL_UP) if down_first else (WHEEL_UP, WHEEL_DOWN)):
                direction = "down" if button == WHEEL_DOWN else "up"
                for _ in range(2):
                    # At the form's end in this direction a wheel that reaches it shows nothing.
                    if value.currentValue == (bottom if button == WHEEL_DOWN else top) or not inside(acc):
                        break
                    point_at(*centre(acc))
                    was = (value.currentValue, shown_value(acc))
                    xdotool("click", button)
                    wheeled += 1

                    def moved():
                        now = (value.currentValue, shown_value(acc))
                        return now if now != was else None
                    now = wait_until(moved, 3)
                    if now is None:
                        unanswered += 1
                        problems.append(f"the wheel {direction} over {describe(acc)} neither scrolled the "
                                        f"form nor changed the control within 3 s")
                        break
                    if now[1] != was[1]:
                        problems.append(f"the wheel {direction} over {describe(acc)} changed it from "
                                        f"{was[1]!r} to {now[1]!r}")
                    if now[0] != was[0]:
                        scrolled += 1

        # Writes go out as soon as the camera's queue reaches them, ahead of any read-back: two
        # read-back periods (3 s) after the last wheel event, any write it caused is in the log.
        time.sleep(3)
        writes = [e for e in self.camera.log()[log_mark:] if e.get("request") == "SET_CUR"]
        if writes:
            problems.append(f"the camera received {len(writes)} control write(s) while the wheel turned")
        after = self.camera.state()
        changed = {k: (before[k], after.get(k)) for k in before if after.get(k) != before[k]}
        if changed:
            problems.append("control values changed: " +
                            ", ".join(f"{k} {a} -> {b}" for k, (a, b) in sorted(changed.items())))
        if scrolled == 0:
            problems.append("the form never scrolled under the wheel: the wheel did not reach it")
        print(f"  wheel: {len(controls)} controls, {wheeled} wheel clicks, the form scrolled on {scrolled}")
        scroll_to(top)
        self.report("scrolling never changes a setting", problems)

    # 4. Escape ----------------------------------------------------------------------------------
    def escape(self):
        problems = []
        tools = {}
        for wanted in ("Pointer", "Click to Set White Balance"):
            tools[wanted] = next((acc for acc in walk(self.window)
                                  if name(acc) == wanted and role(acc) in BUTTONS and showing(acc)), None)
            if tools[wanted] is None:
                problems.append(f'no showing tool button named "{wanted}"')
        if problems:
            self.report("Escape leaves a click-to-set tool", problems)
            return
        pointer, white = tools["Pointer"], tools["Click to Set White Balance"]
        checked = lambda acc: has(acc, pyatspi.STATE_CHECKED)  # noqa: E731
        click_centre(white)
        if not wait_until(lambda: checked(white), 5):
            problems.append('"Click to Set White Balance" is not checked after a click on it')
        else:
            xdotool("windowfocus", "--sync", self.args.window)
            xdotool("key", "Escape")
            if not wait_until(lambda: checked(pointer) and not checked(white), 5):
                problems.append('"Pointer" is not checked again within 5 s of Escape')
        if not checked(pointer):
            click_centre(pointer)  # the later checks click in the preview's neighbourhood
            wait_until(lambda: checked(pointer), 5)
        self.report("Escape leaves a click-to-set tool", problems)

    # 5. Reset -----------------------------------------------------------------------------------
    def reset(self):
        problems = []
        reset = next((acc for acc in walk(self.window)
                      if role(acc) == pyatspi.ROLE_PUSH_BUTTON and name(acc) == "Reset Camera" and showing(acc)),
                     None)
        preview = next((acc for acc in walk(self.window) if name(acc) == "Preview" and showing(acc)), None)
        if reset is None or preview is None:
            missing = "a showing push button named \"Reset Camera\"" if reset is None else "the preview"
            self.report("reset feedback", [f"the window has no {missing}"])
            return
        if not has(reset, pyatspi.STATE_SENSITIVE):
            self.report("reset feedback", ['"Reset Camera" is not sensitive before the reset'])
            return
        area = extents(preview)

        def badge():
            """The showing label that says the camera is reconnecting, inside the preview."""
            for acc in walk(self.window):
                if "Reconnecting camera…" not in (name(acc), text(acc)) or not showing(acc):
                    continue
                x, y = centre(acc)
                inside = area[0] <= x < area[0] + area[2] and area[1] <= y < area[1] + area[3]
                if role(acc) == pyatspi.ROLE_LABEL and inside:
                    return acc
                wrong_badge.add(f"{describe(acc)} at {x},{y}" + ("" if inside else " (outside the preview)"))
            return None
        wrong_badge = set()

        def button_state():
            try:
                return (has(reset, pyatspi.STATE_SENSITIVE), name(reset))
            except GLib.GError:
                return (None, None)

        mark = len(self.camera.log())
        returns = lambda: self.camera.events("plug", mark)  # noqa: E731
        click_centre(reset)
        if not wait_until(lambda: self.camera.events("reenumerate", mark), 5):
            self.report("reset feedback", ["the camera was not asked to reset within 5 s of the click"])
            return
        # First edge: the button greys and the label shows while the camera is still away.
        sensitive = True
        label = picture = None
        deadline = time.monotonic() + 5
        while (sensitive or label is None) and time.monotonic() < deadline and not returns():
            sensitive = button_state()[0]
            label = badge()
            if picture is None and (sensitive is False or label is not None or wrong_badge):
                picture = self.screenshot()  # what the user sees once the reset shows at all
            time.sleep(POLL)
        back_already = returns()
        if sensitive or label is None:
            if sensitive:
                problems.append('"Reset Camera" stayed sensitive after the click' +
                                (" until the camera was back" if back_already else ""))
            if label is None:
                problems.append('no showing label "Reconnecting camera…" in the preview' +
                                (" before the camera was back" if back_already else "") +
                                (": the text shows only as " + "; ".join(sorted(wrong_badge)) if wrong_badge else ""))
        else:
            samples = 0
            # Until the camera is back: a look counts only if the camera was still away after it.
            while True:
                sensitive, shown_name = button_state()
                label = badge()
                if returns():
                    break
                samples += 1
                if sensitive is not False:
                    problems.append('"Reset Camera" became sensitive while the camera was away')
                    break
                if shown_name != "Reset Camera":
                    problems.append(f'the reset button\'s accessible name became "{shown_name}"')
                    break
                if label is None:
                    problems.append('the label "Reconnecting camera…" went away while the camera was away')
                    break
                time.sleep(POLL)
            print(f"  reset: {samples} looks while the camera was away")
            # Second edge: the camera is back.
            if not wait_until(lambda: button_state()[0], 10):
                problems.append('"Reset Camera" is not sensitive again within 10 s of the camera\'s return')
            if not wait_until(lambda: badge() is None, 10):
                problems.append('"Reconnecting camera…" still shows 10 s after the camera\'s return')
        if picture is not None:
            picture.wait(timeout=10)
        self.report("reset feedback", problems)

    def screenshot(self):
        """Starts writing a picture of the window to the output directory; None when it cannot."""
        gst = shutil.which("gst-launch-1.0")
        if gst is None:
            print("  no picture: gst-launch-1.0 is not installed")
            return None
        x, y, w, h = extents(self.window)
        x0, y0 = max(0, x), max(0, y)
        path = os.path.join(self.args.out, "reset.png")
        print(f"  picture of the window during the reset: {path}")
        return subprocess.Popen(
            [gst, "-q", "ximagesrc", f"display-name={os.environ['DISPLAY']}", "use-damage=false",
             "show-pointer=false", "num-buffers=1", f"startx={x0}", f"starty={y0}",
             f"endx={x0 + w - 1}", f"endy={y0 + h - 1}", "!", "videoconvert", "!", "pngenc", "!",
             "filesink", f"location={path}"], stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--simcam", required=True)
    parser.add_argument("--camera", required=True, help="the simulated camera's id")
    parser.add_argument("--sim-log", required=True)
    parser.add_argument("--window", required=True, help="the X window id of the main window")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    checks = Checks(args)
    if not checks.setup():
        return 1
    started = time.monotonic()
    checks.names()
    checks.microphone()
    checks.wheel()
    checks.escape()
    checks.reset()
    print(f"{checks.failed} of 5 checks failed ({time.monotonic() - started:.1f} s)")
    return checks.failed


if __name__ == "__main__":
    sys.exit(main())
