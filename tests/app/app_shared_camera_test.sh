#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# velto-camera's window shares a simulated C200 with other programs, on Xvfb with a private
# session bus. Directly: a video-call application (velto-simcam ctl call-app) opens the camera
# twenty times and always gets it, the preview taking it back after each; a long call pauses the
# preview without session restarts or USB resets. Through a private PipeWire: gst-launch-1.0 and
# the preview receive the camera's frames at the same time. Prints the figures it measures.
#
#   app_shared_camera_test.sh VELTO_CAMERA VELTO_CTL VELTO_SIMCAM SCREENSHOTS
#
# Exits 77 (skipped) when Xvfb or a desktop tool is missing; the PipeWire part says it is skipped
# when PipeWire is not installed. Every wait is for an event and is bounded.
set -uo pipefail

app=$1 ctl=$2 simcam=$3 shots=$4

# shellcheck source=desktop_test_lib.sh
. "$(dirname "$0")/desktop_test_lib.sh"
require_tools Xvfb xdotool dbus-daemon
export QT_LOGGING_RULES="velto.capture=true"
start_x_and_bus 1280x800

now_ms() { echo $(($(date +%s%N) / 1000000)); }
count() { grep -c -- "$1" "$2" 2> /dev/null; }
more_than() { [ "$(count "$1" "$2")" -gt "$3" ]; }
alive() { kill -0 "$1" 2> /dev/null; }
ended() { ! alive "$1"; }
window() { xdotool search --onlyvisible --name '^Velto Camera$' 2> /dev/null | head -n 1; }
window_shown() { [ -n "$(window)" ]; }
# cpu_ticks PID: user and system time so far, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# figures: "median M, worst W" of numbers on standard input.
figures() { sort -n | awk '{ v[NR] = $1 } END { printf "median %s, worst %s", v[int((NR + 1) / 2)], v[NR] }'; }

# start_camera ID [OPTION...], start_app: each into $tmp, its process in camera_pid / app_pid.
start_camera() {
  local id=$1
  shift
  "$simcam" --id "$id" --log "$tmp/$id.jsonl" "$@" 2>> "$tmp/$id.err" &
  camera_pid=$!
  pids+=("$camera_pid")
  wait_for 10 "the simulated camera $id" "$simcam" ctl --id "$id" info > /dev/null 2>&1
}
start_app() {
  "$app" >> "$tmp/app.log" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  wait_for 10 "the window (openWindowAtLaunch is on by default)" window_shown
}
stop() {
  kill "$1"
  wait_for 10 "process $1 to end" ended "$1"
}

# --- Directly, twenty calls in a row ----------------------------------------------------------
echo "The camera itself"
start_camera direct
sim=$tmp/direct.jsonl
start_app
wait_for 10 "the preview's stream" more_than stream-start "$sim" 0
busy=0 release=() takeback=()
for _ in $(seq 20); do
  answer=$("$simcam" ctl --id direct call-app --hold-ms 300 --timing 2> "$tmp/timing")
  done_at=$(now_ms) after=$(count stream-start "$sim")
  if [ "$answer" != streaming ]; then
    busy=$((busy + 1))
    continue
  fi
  release+=("$(grep -o 'free after [0-9.]*' "$tmp/timing" | cut -d' ' -f3)")
  wait_for 10 "the preview to take the camera back" more_than stream-start "$sim" "$after"
  takeback+=($(($(now_ms) - done_at)))
done
echo "calls that got the camera: $((20 - busy)) of 20"
echo "camera free after the call opened it (ms): $(printf '%s\n' "${release[@]}" | figures)"
echo "preview streaming again after the call ended (ms): $(printf '%s\n' "${takeback[@]}" | figures)"
((busy == 0)) || fail "$busy of 20 calls found the camera busy: the preview did not let it go"

# --- A long call: paused, no restarts, no resets --------------------------------------------------
paused='opened the camera: the preview lets it go meanwhile'
lines=$(wc -l < "$tmp/app.log") was_paused=$(count "$paused" "$tmp/app.log")
"$simcam" ctl --id direct call-app --hold-ms 6000 > "$tmp/call" 2>&1 &
call=$!
pids+=("$call")
wait_for 5 "the preview to pause" more_than "$paused" "$tmp/app.log" "$was_paused"
grep -q "velto-simcam (PID $call) $paused" "$tmp/app.log" || fail "the pause does not name velto-simcam (PID $call)"
ticks=$(cpu_ticks "$app_pid") from=$(now_ms)
if command -v import > /dev/null; then
  mkdir -p "$shots"
  import -window root "$shots/paused.png" || fail "import could not take a picture of the screen"
else
  echo "no picture of the paused window: ImageMagick's import is not installed"
fi
window_shown || fail "the window closed while paused"
wait_for 10 "the long call to end" ended "$call"
cpu=$(awk -v t=$(($(cpu_ticks "$app_pid") - ticks)) -v hz="$(getconf CLK_TCK)" -v ms=$(($(now_ms) - from)) \
  'BEGIN { printf "%.1f", 100 * t / hz / (ms / 1000) }')
echo "velto-camera's CPU while paused: $cpu % of a core"
grep -qx streaming "$tmp/call" || fail "the long call did not stream: $(cat "$tmp/call")"
sed -n "$((lines + 1)),\$p" "$tmp/app.log" | grep -E 'restarting the session|USB reset' &&
  fail "the preview restarted or reset the camera while another program had it"
after=$(count stream-start "$sim")
wait_for 10 "the preview to take the camera back" more_than stream-start "$sim" "$after"
stop "$app_pid"
stop "$camera_pid"
mv "$tmp/app.log" "$tmp/direct-app.log"

# --- Through PipeWire: two consumers at once -----------------------------------------------------
echo "PipeWire"
for tool in pipewire wireplumber pw-dump pw-metadata gst-launch-1.0; do
  if ! command -v "$tool" > /dev/null; then
    echo "skipped: $tool is not installed (scripts/install-deps installs it)"
    echo "PASS"
    exit 0
  fi
done
# PipeWire's socket in the runtime directory the simulator and the application use, its
# configuration and state in this test's folder; WirePlumber on the test's session bus.
export PIPEWIRE_RUNTIME_DIR=$XDG_RUNTIME_DIR XDG_STATE_HOME=$tmp/state XDG_DATA_HOME=$tmp/data
unset PIPEWIRE_REMOTE
pipewire > "$tmp/pipewire.log" 2>&1 &
pids+=($!)
pipewire_up() { [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && pw-dump > /dev/null 2>&1; }
wait_for 10 "pipewire" pipewire_up
wireplumber > "$tmp/wireplumber.log" 2>&1 &
pids+=($!)
metadata_made() { pw-metadata -n default 2> /dev/null | grep -q 'Found "default"'; }
wait_for 10 "wireplumber" metadata_made
start_camera shared --pipewire
sim=$tmp/shared.jsonl node=v4l2_input.velto-simcam-shared
node_published() { pw-dump 2> /dev/null | grep -q "\"node.name\": \"$node\""; }
wait_for 10 "the camera's node" node_published
start_app
wait_for 15 "the preview to stream through PipeWire" grep -q "$node (PipeWire): streaming" "$tmp/app.log"
wait_for 10 "the node's stream" more_than stream-start "$sim" 0
stops=$(count stream-stop "$sim")
# The preview's frames are counted by velto-ctl stats through the running application.
gst-launch-1.0 -v pipewiresrc target-object="$node" num-buffers=60 ! image/jpeg ! fakesink silent=false \
  > "$tmp/gst.log" 2>&1 &
gst=$!
pids+=("$gst")
from=$(now_ms)
"$ctl" stats --frames 60 --json > "$tmp/stats.json" 2>&1 || fail "velto-ctl stats failed: $(cat "$tmp/stats.json")"
app_ms=$(($(now_ms) - from))
wait_for 20 "gst-launch-1.0 to receive 60 buffers" ended "$gst"
wait "$gst" || fail "gst-launch-1.0 failed: $(tail -n 5 "$tmp/gst.log")"
[ "$(grep -c 'fakesink0.*chain' "$tmp/gst.log")" -eq 60 ] || fail "gst-launch-1.0 did not receive 60 buffers"
[ "$(count stream-stop "$sim")" -eq "$stops" ] || fail "the camera's stream stopped while both consumed"
alive "$app_pid" || fail "velto-camera ended"
frames=$(grep -o '"frames": [0-9]*' "$tmp/stats.json" | cut -d' ' -f2)
[ "${frames:-0}" -ge 60 ] || fail "the preview did not count 60 frames: $(head -c 300 "$tmp/stats.json")"
grep "$paused" "$tmp/app.log" && fail "the preview paused for the camera's own PipeWire node"
# Both rates include the start: gst-launch-1.0's from PLAYING to the end of its 60th buffer.
gst_fps=$(grep -o 'Execution ended after [0-9:.]*' "$tmp/gst.log" | awk -F'[ :]' '{ printf "%.1f", 60 / ($4 * 3600 + $5 * 60 + $6) }')
app_fps=$(awk -v n="$frames" -v ms="$app_ms" 'BEGIN { printf "%.1f", 1000 * n / ms }')
echo "frames a second: gst-launch-1.0 $gst_fps, the preview $app_fps (velto-ctl stats' round trip included)"
echo "PASS"
