#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# velto-camera as a user meets it, on a private X server (Xvfb), a private session bus and a
# simulated C200 that streams: with an XEmbed tray (trayer), with a StatusNotifierItem watcher and
# host, and with no tray and no session bus at all.
#
#   app_smoke_test.sh VELTO_CAMERA VELTO_CTL VELTO_SIMCAM
#
# Exits 77 (skipped) when Xvfb or one of the desktop tools is missing. Every wait is for an event
# (a window, a log line, a bus property, an exit) and is bounded.
set -uo pipefail

app=$1 ctl=$2 simcam=$3

# shellcheck source=desktop_test_lib.sh
. "$(dirname "$0")/desktop_test_lib.sh"
require_tools Xvfb xdotool dbus-daemon dbus-send gdbus trayer status-notifier-watcher
settings=$XDG_CONFIG_HOME/velto-camera/velto-camera.conf

# --- A console without a display ------------------------------------------------------------
for option in --help --version; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" "$option" 2>&1) ||
    fail "velto-camera $option without a display exited $?: $out"
done
[[ $out == "Velto Camera "* ]] || fail "velto-camera --version printed: $out"

# --- X server, session bus, camera ------------------------------------------------------------
# The bus starts programs from the service files under XDG_DATA_DIRS: one of ours, written below.
export XDG_DATA_DIRS=$tmp/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}
mkdir -p "$tmp/share/dbus-1/services"
start_x_and_bus 1280x800

"$simcam" --id smoke --size 320x180 --fps 15 --log "$tmp/sim.jsonl" 2> /dev/null &
pids+=($!)
wait_for 10 "the simulated camera" "$simcam" ctl --id smoke info > /dev/null 2>&1

app_pid=
start_app() {
  "$app" "$@" >> "$tmp/app.log" 2>&1 &
  app_pid=$!
  pids+=($app_pid)
}
app_alive() { kill -0 "$app_pid" 2> /dev/null; }
# expect_exit STATUS: the application ends, with STATUS.
expect_exit() {
  wait_for 15 "velto-camera to end" bash -c "! kill -0 $app_pid 2> /dev/null"
  wait "$app_pid"
  local status=$?
  [ "$status" -eq "$1" ] || fail "velto-camera ended with status $status, not $1"
}
window() { xdotool search --onlyvisible --name '^Velto Camera$' 2> /dev/null | head -n 1; }
window_shown() { [ -n "$(window)" ]; }
window_gone() { [ -z "$(window)" ]; }
# Closes the main window as the keyboard does (Ctrl+W); there is no window manager to ask.
close_window() {
  local w
  w=$(window)
  xdotool windowfocus --sync "$w" key ctrl+w
}
streams() { grep -c '"stream-start"' "$tmp/sim.jsonl"; }
stops() { grep -c '"stream-stop"' "$tmp/sim.jsonl"; }
more_than() { [ "$($1)" -gt "$2" ]; }

# --- XEmbed tray ------------------------------------------------------------------------------
echo "XEmbed tray"
trayer --edge top --align right --widthtype request --height 24 --SetDockType true --expand false \
  > /dev/null 2>&1 &
trayer_pid=$!
pids+=($trayer_pid)
wait_for 10 "trayer" bash -c "xdotool search --class trayer > /dev/null"

start_app
wait_for 10 "the window (openWindowAtLaunch is on by default)" window_shown
# The icon is a small window of ours inside trayer's.
icon=
find_icon() {
  local w
  for w in $(xdotool search --onlyvisible --classname velto-camera 2> /dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ]; then
      icon=$w
      return 0
    fi
  done
  return 1
}
wait_for 10 "the tray icon" find_icon

close_window
wait_for 10 "the window to close" window_gone
app_alive || fail "closing the window ended the application"

before=$(streams)
xdotool mousemove --window "$icon" 6 6 click 1
wait_for 10 "the panel's preview to start the camera's stream" more_than streams "$before"
stopped=$(stops)
xdotool key Escape
wait_for 10 "the stream to stop with the panel closed" more_than stops "$stopped"

timeout 20 "$app" >> "$tmp/app.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "a second velto-camera ended with $status"
wait_for 10 "the second start to raise the window" window_shown
app_alive || fail "the first instance ended"

"$ctl" set brightness=10 > /dev/null || fail "velto-ctl set through the application failed"
"$simcam" ctl --id smoke state | grep -q '"brightness":10' || fail "the camera did not get brightness 10"

# Quit from the icon's menu: its last entry.
ours() { xdotool search --onlyvisible --classname velto-camera 2> /dev/null | wc -l; }
shown=$(ours)
xdotool mousemove --window "$icon" 6 6 click 3
wait_for 10 "the icon's menu" more_than ours "$shown"
xdotool key Up Return
expect_exit 0
grep -q 'brightness[^0-9]*10' "$settings" || fail "brightness 10 is not in the settings file"
kill "$trayer_pid"
wait "$trayer_pid" 2> /dev/null

# --- Started by the desktop over the session bus -------------------------------------------------
echo "D-Bus activation"
# As the installed app.velto.Camera.service, for this build's program.
printf '[D-BUS Service]\nName=app.velto.Camera\nExec=%s --hidden\n' "$app" > "$tmp/share/dbus-1/services/app.velto.Camera.service"
application=(--session --dest app.velto.Camera --object-path /app/velto/Camera)
# The call waits for the program the bus starts, and its answer comes from that program.
gdbus call "${application[@]}" --method org.freedesktop.Application.Activate "{'desktop-startup-id': <'smoke_TIME0'>}" \
  > /dev/null || fail "the session bus could not start velto-camera by its desktop file ID"
wait_for 10 "the window of the application the bus started" window_shown
gdbus call "${application[@]}" --method org.freedesktop.Application.ActivateAction quit '[]' '{}' > /dev/null ||
  fail "the quit action failed"
named() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.NameHasOwner app.velto.Camera | grep -q true; }
unnamed() { ! named; }
wait_for 10 "the application the bus started to quit" unnamed

# --- StatusNotifierItem ------------------------------------------------------------------------
echo "StatusNotifierItem"
status-notifier-watcher > /dev/null 2>&1 &
pids+=($!)
watcher=(--dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher)
watcher_up() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher | grep -q true
}
wait_for 10 "the watcher" watcher_up
dbus-send --session --print-reply "${watcher[@]}" org.kde.StatusNotifierWatcher.RegisterStatusNotifierHost \
  string:org.kde.StatusNotifierHost-smoke > /dev/null || fail "cannot register a host"

start_app --hidden
item=
find_item() {
  item=$(dbus-send --session --print-reply "${watcher[@]}" org.freedesktop.DBus.Properties.Get \
    string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems | grep -o 'string "[^"]*"' |
    head -n 1 | cut -d'"' -f2)
  [ -n "$item" ]
}
wait_for 10 "the item on the bus" find_item
window_gone || fail "--hidden opened the window"
service=${item%%/*} path=/${item#*/}
[ "$path" != "/$item" ] || path=/StatusNotifierItem
prop() {
  dbus-send --session --print-reply --dest="$service" "$path" org.freedesktop.DBus.Properties.Get \
    string:org.kde.StatusNotifierItem "string:$1"
}
prop Title | tee -a "$tmp/app.log" | grep -q '"Velto Camera"' || fail "the item's Title is not Velto Camera"
prop ToolTip | grep -q '"Velto Camera"' || fail "the item's ToolTip does not say Velto Camera"

pixels() { prop IconPixmap | tail -n +2 | md5sum | cut -d' ' -f1; }
active=$(pixels)
differs() { [ "$(pixels)" != "$1" ]; }
same() { [ "$(pixels)" = "$1" ]; }
"$simcam" ctl --id smoke unplug > /dev/null
wait_for 10 "the idle icon" differs "$active"
"$simcam" ctl --id smoke plug > /dev/null
wait_for 10 "the active icon again" same "$active"

before=$(streams)
dbus-send --session --print-reply --dest="$service" "$path" org.kde.StatusNotifierItem.Activate \
  int32:400 int32:300 > /dev/null || fail "Activate failed"
wait_for 10 "the panel's preview to start the camera's stream" more_than streams "$before"
kill -TERM "$app_pid"
expect_exit 0

# --- No tray, no session bus -------------------------------------------------------------------
echo "No tray"
kill "${pids[1]}"  # the session bus, and with it the watcher's registrations
sed -i 's/^openWindowAtLaunch=.*//' "$settings"
printf 'openWindowAtLaunch=false\n' >> "$settings"
DBUS_SESSION_BUS_ADDRESS=unix:path=$tmp/no-bus start_app --hidden
wait_for 10 "the window, whatever the preference" window_shown
close_window
expect_exit 0
grep -q '^openWindowAtLaunch=false' "$settings" || fail "the preference was lost"

echo "PASS"
