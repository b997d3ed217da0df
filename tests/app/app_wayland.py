#!/usr/bin/python3

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

"""Checks velto-camera on a Wayland desktop as its users meet it.

Run by app_wayland_test.sh, which starts sway without a screen (and without Xwayland), a private
session bus with the accessibility bus and a StatusNotifierItem watcher and host, a simulated C200,
and velto-camera on Qt's wayland platform. What the compositor shows (which windows are mapped,
where, which one has the keyboard) comes from sway's tree; what the windows hold comes from
AT-SPI; the tray icon is activated over the session bus as a StatusNotifier host does; keys come
from a virtual keyboard (wtype); windows are focused and closed through sway, as a click would.
Each check prints PASS or FAIL with its reasons; the exit status is the number of failed checks.

Every wait polls a condition with a deadline: nothing sleeps for a fixed time to let something
happen.
"""

import argparse
import json
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import Gio, GLib

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_accessibility import Camera, Report, children, find, has, name, role, showing, wait_until, walk  # noqa: E402

APP_ID = "app.velto.Camera"  # the desktop file's name, which Qt gives the compositor as app_id
TITLE = "Velto Camera"
PANEL_WIDTH = 320
WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher")


# --- The compositor ---------------------------------------------------------------------------------

def swaymsg(*args):
    return subprocess.run(["swaymsg", *args], check=True, capture_output=True, text=True, timeout=10).stdout


def views(pid):
    """The mapped windows of process `pid`, as sway lists them."""
    found = []

    def visit(node):
        if node.get("pid") == pid:
            found.append(node)
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            visit(child)
    visit(json.loads(swaymsg("-t", "get_tree", "-r")))
    return found


def is_panel(view):
    return view["window_rect"]["width"] == PANEL_WIDTH


def window_view(pid):
    return next((v for v in views(pid) if not is_panel(v)), None)


def panel_view(pid):
    return next((v for v in views(pid) if is_panel(v)), None)


def output_rect():
    outputs = [o for o in json.loads(swaymsg("-t", "get_outputs", "-r")) if o.get("active")]
    return outputs[0]["rect"]


def inside(rect, area):
    return (rect["x"] >= area["x"] and rect["y"] >= area["y"] and rect["width"] > 0 and rect["height"] > 0
            and rect["x"] + rect["width"] <= area["x"] + area["width"]
            and rect["y"] + rect["height"] <= area["y"] + area["height"])


def screenshot(view, path, margin=0):
    """A picture of `view` with the compositor's title bar, if it draws one, and `margin` pixels of
    what is around it on the output, in `path`."""
    area = output_rect()
    title = view.get("deco_rect", {}).get("height", 0)
    r = dict(view["rect"], y=view["rect"]["y"] - title, height=view["rect"]["height"] + title)
    x0, y0 = max(area["x"], r["x"] - margin), max(area["y"], r["y"] - margin)
    x1 = min(area["x"] + area["width"], r["x"] + r["width"] + margin)
    y1 = min(area["y"] + area["height"], r["y"] + r["height"] + margin)
    subprocess.run(["grim", "-g", f"{x0},{y0} {x1 - x0}x{y1 - y0}", path], check=True, timeout=10)
    print(f"  picture: {path}")


# --- The session bus --------------------------------------------------------------------------------

class Bus:
    def __init__(self):
        self.connection = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def call(self, destination, path, interface, method, args=None, reply="()"):
        return self.connection.call_sync(destination, path, interface, method, args, GLib.VariantType(reply),
                                         Gio.DBusCallFlags.NONE, 5000, None).unpack()

    def prop(self, destination, path, interface, prop):
        return self.call(destination, path, "org.freedesktop.DBus.Properties", "Get",
                         GLib.Variant("(ss)", (interface, prop)), "(v)")[0]

    def items(self):
        """The registered StatusNotifierItems as (service, path)."""
        try:
            registered = self.prop(*WATCHER, "RegisteredStatusNotifierItems")
        except GLib.GError:
            return []
        items = []
        for item in registered:
            service, _, path = item.partition("/")
            items.append((service, "/" + path if path else "/StatusNotifierItem"))
        return items

    def our_item(self):
        for service, path in self.items():
            try:
                if self.prop(service, path, "org.kde.StatusNotifierItem", "Title") == TITLE:
                    return service, path
            except GLib.GError:
                continue
        return None

    def activate(self, item):
        # A host passes where it was clicked; on Wayland that says nothing about the screen.
        self.call(*item, "org.kde.StatusNotifierItem", "Activate", GLib.Variant("(ii)", (0, 0)))


# --- The application on the accessibility bus -------------------------------------------------------

def top_levels():
    desktop = pyatspi.Registry.getDesktop(0)
    return [top for app in children(desktop) if name(app) == TITLE for top in children(app)]


def accessible_window():
    """The main window, while it shows."""
    return next((t for t in top_levels() if role(t) == pyatspi.ROLE_FRAME and name(t) == TITLE and showing(t)), None)


def accessible_panel():
    """The panel, while it shows: the window of ours with the panel's footer."""
    for top in top_levels():
        if showing(top) and role(top) != pyatspi.ROLE_FRAME and find(top, pyatspi.ROLE_PUSH_BUTTON, "Open Velto Camera"):
            return top
    return None


def action(acc, wanted):
    actions = acc.queryAction()
    for i in range(actions.nActions):
        if actions.getName(i) == wanted:
            actions.doAction(i)
            return
    raise RuntimeError(f"{name(acc)} has no action {wanted}")


# --- The checks -------------------------------------------------------------------------------------

class Checks(Report):
    def __init__(self, args):
        self.args = args
        self.bus = Bus()
        self.camera = Camera(args.simcam, args.camera, args.sim_log)
        self.failed = 0
        self.item = None

    def alive(self):
        try:
            os.kill(self.args.pid, 0)
            return True
        except OSError:
            return False

    def window_shown(self):
        view = window_view(self.args.pid)
        return view if view and view.get("visible") and accessible_window() else None

    def key(self, key):
        subprocess.run(["wtype", "-k", key], check=True, timeout=10)

    # 1. The window ------------------------------------------------------------------------------
    def window(self):
        problems = []
        view = wait_until(self.window_shown, 20)
        if view is None:
            return self.report("the window maps on the Wayland compositor",
                               [f"no window of velto-camera (pid {self.args.pid}) mapped and showing within 20 s: "
                                f"{[(v.get('name'), v.get('shell')) for v in views(self.args.pid)]}"])
        if view.get("shell") != "xdg_shell":
            problems.append(f"the window is a {view.get('shell')} surface, not a Wayland (xdg_shell) one")
        if view.get("app_id") != APP_ID:
            problems.append(f"the window's app_id is {view.get('app_id')!r}, not {APP_ID!r}: the desktop cannot "
                            "match it with its entry")
        if view.get("name") != TITLE:
            problems.append(f"the window's title is {view.get('name')!r}")
        if not inside(view["rect"], output_rect()):
            problems.append(f"the window at {view['rect']} is not on the screen {output_rect()}")
        # The form is filled once the camera's ranges are read: its first slider takes input.
        brightness = wait_until(lambda: (w := accessible_window()) and find(w, pyatspi.ROLE_SLIDER, "Brightness"), 20)
        if brightness is None or not has(brightness, pyatspi.STATE_SENSITIVE):
            problems.append("the window shows no sensitive slider named \"Brightness\" within 20 s")
        else:
            screenshot(view, os.path.join(self.args.out, "wayland-window.png"))
        return self.report("the window maps on the Wayland compositor", problems)

    # 2. The tray icon ---------------------------------------------------------------------------
    def tray_icon(self):
        self.item = wait_until(self.bus.our_item, 10)
        return self.report("the tray icon registers with the StatusNotifierItem watcher",
                           [] if self.item else [f"no item titled \"{TITLE}\" among {self.bus.items()} within 10 s"])

    # 3. The panel -------------------------------------------------------------------------------
    def open_panel(self, problems):
        """Activates the icon; the panel's view once it is on screen with the keyboard, else None."""
        self.bus.activate(self.item)

        def up():
            view = panel_view(self.args.pid)
            return view if view and view.get("visible") and view.get("focused") and accessible_panel() else None
        view = wait_until(up, 10)
        if view is None:
            seen = panel_view(self.args.pid)
            state = (f"mapped, visible {seen.get('visible')}, with the keyboard {seen.get('focused')}" if seen
                     else "not mapped")
            problems.append(f"activating the icon did not show the panel with the keyboard within 10 s ({state}; "
                            f"{'' if accessible_panel() else 'not '}showing on the accessibility bus)")
        return view

    def panel_gone(self):
        return panel_view(self.args.pid) is None and accessible_panel() is None

    def panel(self):
        problems = []
        view = self.open_panel(problems)
        if view is None:
            return self.report("activating the icon opens a usable panel on screen", problems)
        if not inside(view["rect"], output_rect()):
            problems.append(f"the panel at {view['rect']} is not inside the screen {output_rect()}")
        panel = accessible_panel()
        wanted = [(pyatspi.ROLE_PUSH_BUTTON, "Reset Camera"), (pyatspi.ROLE_CHECK_BOX, "Auto Exposure"),
                  (pyatspi.ROLE_CHECK_BOX, "Auto White Balance"), (pyatspi.ROLE_CHECK_BOX, "Auto Focus"),
                  (pyatspi.ROLE_SLIDER, "Zoom"), (pyatspi.ROLE_PUSH_BUTTON, "Open Velto Camera"),
                  (pyatspi.ROLE_PUSH_BUTTON, "Quit")]
        for wanted_role, wanted_name in wanted:
            acc = find(panel, wanted_role, wanted_name)
            if acc is None or not showing(acc) or not has(acc, pyatspi.STATE_SENSITIVE):
                problems.append(f'the panel has no showing, sensitive control named "{wanted_name}"')
        # Reached through the accessibility bus and pressed with the keyboard, a control reaches the
        # camera: the panel has the keyboard indeed.
        focus = find(panel, pyatspi.ROLE_CHECK_BOX, "Auto Focus")
        if focus is not None:
            was = self.camera.state().get("autoFocus")
            for _ in range(2):
                before = self.camera.state().get("autoFocus")
                action(focus, "SetFocus")
                if not wait_until(lambda: has(focus, pyatspi.STATE_FOCUSED), 5):
                    problems.append('"Auto Focus" in the panel did not take the focus')
                    break
                self.key("space")
                if not wait_until(lambda: self.camera.state().get("autoFocus") != before, 5):
                    problems.append(f'Space on "Auto Focus" in the panel left the camera\'s autoFocus at {before}')
                    break
            if self.camera.state().get("autoFocus") != was:
                problems.append('Space twice on "Auto Focus" did not bring the camera back')
        screenshot(view, os.path.join(self.args.out, "wayland-panel.png"), margin=24)
        return self.report("activating the icon opens a usable panel on screen", problems)

    def escape(self):
        problems = []
        if panel_view(self.args.pid) is None and self.open_panel(problems) is None:
            return self.report("Escape closes the panel", problems)
        self.key("Escape")
        if not wait_until(self.panel_gone, 5):
            problems.append("the panel is still on screen 5 s after Escape")
        return self.report("Escape closes the panel", problems)

    def focus_loss(self):
        problems = []
        window = window_view(self.args.pid)
        if window is None or self.open_panel(problems) is None:
            return self.report("another window taking the keyboard closes the panel",
                               problems or ["the window is not there to take the keyboard"])
        swaymsg(f"[con_id={window['id']}] focus")
        if not wait_until(self.panel_gone, 5):
            problems.append("the panel is still on screen 5 s after the window took the keyboard")
        return self.report("another window taking the keyboard closes the panel", problems)

    # 4. Closing the window ----------------------------------------------------------------------
    def close_window(self):
        problems = []
        window = window_view(self.args.pid)
        if window is None:
            return self.report("closing the window keeps velto-camera in the tray", ["there is no window to close"])
        swaymsg(f"[con_id={window['id']}] kill")  # what the title bar's close button asks
        if not wait_until(lambda: window_view(self.args.pid) is None and accessible_window() is None, 10):
            problems.append("the window is still mapped 10 s after the compositor asked it to close")
        elif not self.alive():
            problems.append("velto-camera ended when its window was closed")
        elif self.bus.our_item() is None:
            problems.append("the tray icon left the watcher when the window was closed")
        elif self.open_panel(problems) is not None:
            self.key("Escape")
            if not wait_until(self.panel_gone, 5):
                problems.append("the panel is still on screen 5 s after Escape")
        return self.report("closing the window keeps velto-camera in the tray", problems)

    # 5. A second start --------------------------------------------------------------------------
    def second_start(self):
        problems = []
        env = dict(os.environ, XDG_ACTIVATION_TOKEN="some-token")
        started = time.monotonic()
        with open(self.args.log, "a", encoding="utf-8") as log:
            try:
                status = subprocess.run([self.args.app], env=env, stdout=log, stderr=log, timeout=15).returncode
            except subprocess.TimeoutExpired:
                status = None
        took = time.monotonic() - started
        print(f"  second start: ended in {took:.2f} s with status {status}")
        if status is None:
            problems.append("a second velto-camera did not end within 15 s")
        elif status != 0:
            problems.append(f"a second velto-camera ended with status {status}, not 0")
        elif took > 5:
            problems.append(f"a second velto-camera took {took:.1f} s to hand over")
        if not self.alive():
            problems.append("the first velto-camera ended")
        elif not wait_until(lambda: (v := self.window_shown()) and v.get("focused"), 10):
            problems.append("the first velto-camera's window did not show again with the keyboard within 10 s")
        return self.report("a second start brings the first one's window back", problems)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--app", required=True, help="velto-camera, for the second start")
    parser.add_argument("--pid", required=True, type=int, help="the running velto-camera")
    parser.add_argument("--log", required=True, help="where the second start writes")
    parser.add_argument("--simcam", required=True)
    parser.add_argument("--camera", required=True, help="the simulated camera's id")
    parser.add_argument("--sim-log", required=True)
    parser.add_argument("--out", required=True, help="the pictures' directory")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    checks = Checks(args)
    started = time.monotonic()
    # Each check needs the one before it: the first failure ends the run.
    for check in (checks.window, checks.tray_icon, checks.panel, checks.escape, checks.focus_loss,
                  checks.close_window, checks.second_start):
        if not check():
            break
    print(f"{checks.failed} checks failed ({time.monotonic() - started:.1f} s)")
    return checks.failed


if __name__ == "__main__":
    sys.exit(main())
