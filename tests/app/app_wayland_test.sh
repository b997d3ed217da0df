#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# velto-camera as a user of a Wayland desktop meets it: running natively on a Wayland compositor
# (sway without a screen, and without Xwayland or any X server to fall back to), with a private
# session bus, the accessibility bus, a StatusNotifierItem watcher and host, and a simulated C200.
# This script sets the desktop up; app_wayland.py does the checks: the window maps, the tray icon
# registers, activating it opens the panel on screen and usable, Escape and another window taking
# the keyboard close it, closing the window keeps the application in the tray, and a second start
# (with an activation token) brings the window back and ends.
#
#   app_wayland_test.sh VELTO_CAMERA VELTO_SIMCAM [OUTPUT_DIR]
#
# OUTPUT_DIR (default ./screenshots) receives wayland-window.png and wayland-panel.png. Exits 77
# (skipped) when sway or another tool is missing, or when sway cannot start here. Every wait is
# for an event and is bounded.
set -uo pipefail

app=$1 simcam=$2 out=${3:-$PWD/screenshots}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
bus_launcher=/usr/libexec/at-spi-bus-launcher

# shellcheck source=desktop_test_lib.sh
. "$here/desktop_test_lib.sh"
require_tools sway swaymsg grim wtype setpriv dbus-daemon dbus-send status-notifier-watcher
require_accessibility
unset XDG_ACTIVATION_TOKEN DESKTOP_STARTUP_ID

# --- Compositor, session bus, accessibility bus, tray, camera ---------------------------------
start_wayland_and_bus 1280x800
[ -z "${DISPLAY:-}" ] || fail "DISPLAY is still set: velto-camera could fall back to X11"

"$bus_launcher" --launch-immediately > /dev/null 2>&1 &
pids+=($!)
a11y_address() {
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress 2> /dev/null |
    grep -q 'string "unix:'
}
wait_for 10 "the accessibility bus" a11y_address

status-notifier-watcher > /dev/null 2>&1 &
pids+=($!)
watcher_up() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher | grep -q true
}
wait_for 10 "the StatusNotifierItem watcher" watcher_up
dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
  org.kde.StatusNotifierWatcher.RegisterStatusNotifierHost string:org.kde.StatusNotifierHost-wayland \
  > /dev/null || fail "cannot register a StatusNotifier host"

# A keyboard in the seat from the start, as on a desktop: each wtype adds a keyboard of its own,
# and the first keyboard to appear in a seat loses the keys sent before the client has bound it.
wtype -s 600000 &
pids+=($!)
keyboard() { swaymsg -t get_inputs 2> /dev/null | grep -q '"type": "keyboard"'; }
wait_for 10 "the virtual keyboard" keyboard

"$simcam" --id wayland --size 320x180 --fps 15 --log "$tmp/sim.jsonl" 2> /dev/null &
pids+=($!)
wait_for 10 "the simulated camera" "$simcam" ctl --id wayland info > /dev/null 2>&1

"$app" >> "$tmp/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")

"$python" "$here/app_wayland.py" --app "$app" --pid "$app_pid" --log "$tmp/app.log" --simcam "$simcam" \
  --camera wayland --sim-log "$tmp/sim.jsonl" --out "$out"
status=$?
kill -0 "$app_pid" 2> /dev/null || fail "velto-camera ended during the checks"
[ "$status" -eq 0 ] || fail "app_wayland.py ended with status $status"

# Ended as a session ends it.
kill -TERM "$app_pid"
wait_for 15 "velto-camera to end" bash -c "! kill -0 $app_pid 2> /dev/null"
wait "$app_pid"
status=$?
[ "$status" -eq 0 ] || fail "velto-camera ended with status $status on SIGTERM"
# Qt's platform layer says when the application asks Wayland for what it does not do.
if grep -q '^qt\.qpa' "$tmp/app.log"; then
  fail "Qt's Wayland platform warned: $(grep '^qt\.qpa' "$tmp/app.log" | sort -u | head -n 3)"
fi
echo "PASS"
