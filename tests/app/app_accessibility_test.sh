#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# velto-camera's window as a screen reader and a mouse meet it: the real application on a private
# X server (Xvfb), a private session bus with the accessibility bus on it, and a simulated C200.
# This script sets the desktop up; app_accessibility.py reads the window through AT-SPI, drives it
# with xdotool and does the checks.
#
#   app_accessibility_test.sh VELTO_CAMERA VELTO_SIMCAM [OUTPUT_DIR]
#
# OUTPUT_DIR (default ./app-accessibility) receives a picture of the window during a camera reset.
# Exits 77 (skipped) when Xvfb, xdotool, the accessibility bus or python3-pyatspi is missing. Every
# wait is for an event and is bounded.
set -uo pipefail

app=$1 simcam=$2 out=${3:-$PWD/app-accessibility}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
bus_launcher=/usr/libexec/at-spi-bus-launcher

# shellcheck source=desktop_test_lib.sh
. "$here/desktop_test_lib.sh"
require_tools Xvfb xdotool dbus-daemon dbus-send
require_accessibility
mkdir -p "$out"

# --- X server, session bus, accessibility bus, camera -----------------------------------------
start_x_and_bus 1280x800

"$bus_launcher" --launch-immediately > /dev/null 2>&1 &
pids+=($!)
a11y_address() {
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress 2> /dev/null |
    grep -q 'string "unix:'
}
wait_for 10 "the accessibility bus" a11y_address

# A reset keeps the camera off the bus for 2 s: long enough to see the window while it is away.
"$simcam" --id a11y --size 320x180 --fps 15 --reenumerate-ms 2000 --log "$tmp/sim.jsonl" 2> /dev/null &
pids+=($!)
wait_for 10 "the simulated camera" "$simcam" ctl --id a11y info > /dev/null 2>&1
# Manual exposure, white balance and focus: their sliders take input and their values hold still,
# so any change is the test's doing.
for auto in "autoExposure 1" "autoWhiteBalance 0" "autoFocus 0"; do
  # shellcheck disable=SC2086  # name and value
  "$simcam" ctl --id a11y set $auto > /dev/null || fail "cannot set $auto on the simulated camera"
done

"$app" >> "$tmp/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
window() { xdotool search --onlyvisible --name '^Velto Camera$' 2> /dev/null | head -n 1; }
window_shown() { [ -n "$(window)" ]; }
wait_for 15 "the window" window_shown

"$python" "$here/app_accessibility.py" --simcam "$simcam" --camera a11y \
  --sim-log "$tmp/sim.jsonl" --window "$(window)" --out "$out"
status=$?
kill -0 "$app_pid" 2> /dev/null || fail "velto-camera ended during the checks"
[ "$status" -eq 0 ] || fail "app_accessibility.py ended with status $status"
echo "PASS"
