#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# How quickly velto-camera shows its window, and how much memory it keeps while it idles in the
# tray with a camera and no preview. Runs on a private Xvfb with trayer, a private session bus and
# a simulated C200, as tests/app/app_smoke_test.sh does. Run by hand:
#
#   bench/app_startup.sh [BUILD_DIR]        (default build/; builds nothing)
#
# Start-up is timed from the launch to the window being mapped (polled every few milliseconds, so
# the figure is a little high), over RUNS starts (default 5); the settings file is there from the
# first, uncounted start, as on any start but a user's very first. Memory is VmRSS and the
# proportional share (Pss) after the store has settled on the camera.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
app=$build/src/app/velto-camera ctl=$build/src/cli/velto-ctl simcam=$build/sim/velto-simcam
runs=${RUNS:-5}

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2> /dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
wait_for() { # SECONDS COMMAND...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    if ((SECONDS >= deadline)); then echo "timed out: $*" >&2; exit 1; fi
    sleep 0.005
  done
}

export XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/config VELTO_BUNDLE_INFO=$tmp/none QT_QPA_PLATFORM=xcb VELTO_SIMCAM=1
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1920x1080x24 3> "$tmp/display" 2> /dev/null &
pids+=($!)
wait_for 10 test -s "$tmp/display"
export DISPLAY=:$(head -n 1 "$tmp/display")
dbus-daemon --session --nofork --print-address=3 3> "$tmp/bus" 2> /dev/null &
pids+=($!)
wait_for 10 test -s "$tmp/bus"
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus")
trayer --edge top --align right --widthtype request --height 24 --SetDockType true > /dev/null 2>&1 &
pids+=($!)
wait_for 10 bash -c "xdotool search --class trayer > /dev/null"
"$simcam" --id bench 2> /dev/null &
pids+=($!)
wait_for 10 bash -c "'$simcam' ctl --id bench info > /dev/null 2>&1"

shown() { [ -n "$(xdotool search --onlyvisible --name '^Velto Camera$' 2> /dev/null)" ]; }
now_ms() { date +%s%3N; }

echo "start-up to a mapped window (ms):"
times=()
for i in $(seq 0 "$runs"); do
  t0=$(now_ms)
  "$app" > /dev/null 2>&1 &
  pid=$!
  wait_for 20 shown
  t1=$(now_ms)
  kill -TERM "$pid"
  wait "$pid" || true
  wait_for 10 bash -c '! xdotool search --onlyvisible --name "^Velto Camera$" > /dev/null 2>&1'
  if [ "$i" -gt 0 ]; then times+=($((t1 - t0))); fi
done
printf '  %s\n' "${times[*]}"
printf '  median %s\n' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((${#times[@]} + 1) / 2))p")"

echo "idle in the tray, camera connected, no preview:"
"$app" --hidden > /dev/null 2>&1 &
pid=$!
pids+=($pid)
wait_for 20 bash -c "'$ctl' list 2> /dev/null | grep -q C200"
# The first poll rounds and the tray's embedding are over well within this; nothing runs after.
sleep 3
grep -E '^VmRSS' "/proc/$pid/status" | sed 's/^/  /'
awk '/^Pss:/ { kb += $2 } END { printf "  Pss:     %d kB\n", kb }' "/proc/$pid/smaps_rollup"
