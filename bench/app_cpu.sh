#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# What the whole of velto-camera costs while it runs: processor time, wake-ups and memory, with
# the window or the tray panel showing the live picture of a simulated C200 that streams
# 1920x1080 at 30 frames a second (MJPEG, decoded by the application as the camera's would be).
# Runs on a private Xvfb (1920x1080) with trayer, a private session bus and a simulated camera,
# as bench/app_startup.sh does. Prints figures only; nothing is judged. Run by hand, from a build
# made with optimisation (RelWithDebInfo or Release: a Debug build's figures mean little):
#
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   ninja -C build velto-camera velto-ctl velto-simcam
#   bench/app_cpu.sh [BUILD_DIR]            (default build/; builds nothing)
#
# CPU is user + system time of the process (all its threads) from /proc/PID/stat, as a share of
# one core over a 10 s window that starts once the state has settled. Wake-ups are the voluntary
# and involuntary context switches of all the process's threads over that window, per second;
# the threads that wake most are listed by name (threads of one name summed). A thread that ends
# within the window is not counted. Memory is VmRSS and the proportional share (Pss, from
# smaps_rollup), with the thread count and open descriptors. The application runs twice, from a
# fresh settings folder each time: once for the tray panel, once for the window.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
app=$build/src/app/velto-camera ctl=$build/src/cli/velto-ctl simcam=$build/sim/velto-simcam
window_s=10 settle_s=3 cycles=${CYCLES:-100}

for program in "$app" "$ctl" "$simcam"; do
  if [ ! -x "$program" ]; then
    echo "$program is missing: build it first (ninja -C $build velto-camera velto-ctl velto-simcam)" >&2
    exit 1
  fi
done
for tool in Xvfb dbus-daemon trayer xdotool gdbus getconf; do
  if ! command -v "$tool" > /dev/null; then
    echo "$tool is not installed (scripts/install-deps installs it)" >&2
    exit 1
  fi
done

tmp=$(mktemp -d)
pids=()
# Everything started here ends with the script, however it ends: asked first, forced after 5 s.
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do
      kill -0 "$p" 2> /dev/null || break
      sleep 0.1
    done
    kill -KILL "$p" 2> /dev/null || true
    wait "$p" 2> /dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
wait_for() { # SECONDS DESCRIPTION COMMAND...
  local deadline=$((SECONDS + $1)) what=$2
  shift 2
  until "$@"; do
    if ((SECONDS >= deadline)); then
      echo "timed out waiting for $what" >&2
      tail -n 20 "$tmp/app.log" >&2 2> /dev/null || true
      exit 1
    fi
    sleep 0.02
  done
}
say() { echo "$*" >&2; }

export XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/config VELTO_BUNDLE_INFO=$tmp/none QT_QPA_PLATFORM=xcb VELTO_SIMCAM=1
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY SESSION_MANAGER
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1920x1080x24 3> "$tmp/display" 2> /dev/null &
pids+=("$!")
wait_for 10 "Xvfb" test -s "$tmp/display"
DISPLAY=:$(head -n 1 "$tmp/display")
export DISPLAY
dbus-daemon --session --nofork --print-address=3 3> "$tmp/bus" 2> /dev/null &
pids+=("$!")
wait_for 10 "the session bus" test -s "$tmp/bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus")
export DBUS_SESSION_BUS_ADDRESS
trayer --edge top --align right --widthtype request --height 24 --SetDockType true --expand false > /dev/null 2>&1 &
pids+=("$!")
wait_for 10 "trayer" bash -c "xdotool search --class trayer > /dev/null"
"$simcam" --id bench --size 1920x1080 --fps 30 --log "$tmp/sim.jsonl" 2> /dev/null &
sim_pid=$!
pids+=("$sim_pid")
wait_for 10 "the simulated camera" bash -c "'$simcam' ctl --id bench info > /dev/null 2>&1"

# --- Reading the processes --------------------------------------------------------------------
hz=$(getconf CLK_TCK)
ticks() { # PID: user + system clock ticks so far (the command may hold spaces and parentheses)
  local stat
  stat=$(< "/proc/$1/stat")
  read -r -a fields <<< "${stat##*") "}"
  echo $((fields[11] + fields[12]))
}
field() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; } # PID KEY
switches() { # PID: "TID SWITCHES TICKS NAME" for each thread
  local task stat
  for task in "/proc/$1"/task/*; do
    stat=$(cat "$task/stat" 2> /dev/null) || continue
    read -r -a fields <<< "${stat##*") "}"
    awk -v tid="${task##*/}" -v ticks=$((fields[11] + fields[12])) -v name="$(cat "$task/comm" 2> /dev/null)" \
      '/^(non)?voluntary_ctxt_switches:/ { n += $2; seen = 1 } END { if (seen) print tid, n, ticks, name }' \
      "$task/status" 2> /dev/null || true
  done
}
percent() { awk -v d="$1" -v ns="$2" -v hz="$hz" 'BEGIN { printf "%.1f", 100 * d / hz / (ns / 1e9) }'; }

cpu_rows=() thread_rows=() memory_rows=()
# measure LABEL [TOP]: the application's and the simulator's CPU and the application's wake-ups
# over the window; with TOP, the threads that woke most.
measure() {
  local a0 a1 s0 s1 t0 t1 ns wakeups
  switches "$app_pid" > "$tmp/before"
  a0=$(ticks "$app_pid") s0=$(ticks "$sim_pid") t0=$(date +%s%N)
  if [ -n "${PROFILE:-}" ]; then
    # perf's own start-up falls inside the window: its figures are for reading, not comparing.
    mkdir -p "$PROFILE"
    perf record -q -g -o "$PROFILE/${1//[^a-z]/_}.data" -p "$app_pid" -- sleep "$window_s" 2> /dev/null
  else
    sleep "$window_s"
  fi
  a1=$(ticks "$app_pid") s1=$(ticks "$sim_pid") t1=$(date +%s%N)
  switches "$app_pid" > "$tmp/after"
  ns=$((t1 - t0))
  # Per name: the switches of its threads over the window, how many threads bear it.
  awk -v s="$ns" -v hz="$hz" 'NR == FNR { before[$1] = $2; cpu[$1] = $3; next }
    { tid = $1; n = $2; t = $3; $1 = $2 = $3 = ""; sub(/^ +/, ""); d = n - (tid in before ? before[tid] : 0)
      by[$0] += d; count[$0]++; used[$0] += t - (tid in cpu ? cpu[tid] : 0) }
    END { for (name in by) printf "%.1f\t%d\t%s\t%.1f\n", by[name] / (s / 1e9), count[name], name,
                                  100 * used[name] / hz / (s / 1e9) }' \
    "$tmp/before" "$tmp/after" | sort -t $'\t' -k1,1 -g -r > "$tmp/by-name"
  wakeups=$(awk -F '\t' '{ w += $1 } END { printf "%.0f", w }' "$tmp/by-name")
  cpu_rows+=("$(printf '%-42s %8s %8s %8s %11s' "$1" "$(percent $((a1 - a0)) "$ns")" \
    "$(percent $((s1 - s0)) "$ns")" "$(field "$app_pid" Threads)" "$wakeups")")
  if [ -n "${2:-}" ]; then
    thread_rows+=("$1:")
    while IFS=$'\t' read -r rate count name used; do
      thread_rows+=("$(printf '    %-28s %3s thread(s) %8s/s %6s %%' "$name" "$count" "$rate" "$used")")
    done < <(awk -F '\t' '$1 > 0' "$tmp/by-name" | head -n "$2")
  fi
}
memory() { # LABEL
  memory_rows+=("$(printf '%-42s %9s %9s %8s %5s' "$1" "$(field "$app_pid" VmRSS)" \
    "$(awk '$1 == "Pss:" { print $2 }' "/proc/$app_pid/smaps_rollup")" "$(field "$app_pid" Threads)" \
    "$(find "/proc/$app_pid/fd" -mindepth 1 -maxdepth 1 | wc -l)")")
}

# --- Driving the application ------------------------------------------------------------------
app_pid=
start_app() { # a fresh settings folder, in the tray, settled on the camera
  rm -rf "$XDG_CONFIG_HOME"
  "$app" --hidden >> "$tmp/app.log" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  wait_for 20 "the application to take the camera" bash -c "'$ctl' list 2> /dev/null | grep -q C200"
  wait_for 10 "the tray icon" find_icon
  sleep "$settle_s"
}
stop_app() {
  kill -TERM "$app_pid"
  wait_for 15 "the application to end" bash -c "! kill -0 $app_pid 2> /dev/null"
  wait "$app_pid" || true
  local p kept=()
  for p in "${pids[@]}"; do [ "$p" = "$app_pid" ] || kept+=("$p"); done
  pids=("${kept[@]}")
}
icon=
find_icon() { # the icon: a small window of ours inside trayer's
  local w
  for w in $(xdotool search --onlyvisible --classname velto-camera 2> /dev/null); do
    WIDTH=0 HEIGHT=0
    eval "$(xdotool getwindowgeometry --shell "$w" 2> /dev/null)"
    if [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ]; then
      icon=$w
      return 0
    fi
  done
  return 1
}
# The panel: a window of ours bigger than the icon and than a tooltip, while the window is closed.
panel_shown() {
  local w
  for w in $(xdotool search --onlyvisible --classname velto-camera 2> /dev/null); do
    WIDTH=0 HEIGHT=0
    eval "$(xdotool getwindowgeometry --shell "$w" 2> /dev/null)"
    if [ "$WIDTH" -gt 100 ] && [ "$HEIGHT" -gt 100 ]; then return 0; fi
  done
  return 1
}
panel_gone() { ! panel_shown; }
window() { xdotool search --onlyvisible --name '^Velto Camera$' 2> /dev/null | head -n 1; }
window_shown() { [ -n "$(window)" ]; }
window_gone() { [ -z "$(window)" ]; }
starts() { grep -c '"stream-start"' "$tmp/sim.jsonl" || true; }
stops() { grep -c '"stream-stop"' "$tmp/sim.jsonl" || true; }
more_starts() { [ "$(starts)" -gt "$1" ]; }
all_stopped() { [ "$(stops)" -ge "$(starts)" ]; }
open_panel() { # by a click on the icon, until the camera streams to it
  local before
  before=$(starts)
  xdotool mousemove --window "$icon" 6 6 click 1
  wait_for 10 "the panel" panel_shown
  wait_for 10 "the panel's stream" more_starts "$before"
}
close_panel() { # Escape, until the panel is unmapped and the camera no longer streams
  xdotool key Escape
  wait_for 10 "the panel to close on Escape" panel_gone
  wait_for 10 "the stream to stop with the panel closed" all_stopped
}
open_window() {
  local before
  before=$(starts)
  gdbus call --session --dest app.velto.Camera --object-path /app/velto/Camera \
    --method org.freedesktop.Application.ActivateAction open '[]' '{}' > /dev/null
  wait_for 10 "the window" window_shown
  wait_for 10 "the window's stream" more_starts "$before"
}
close_window() { # as the keyboard does (Ctrl+W): there is no window manager to ask
  xdotool windowfocus --sync "$(window)" key ctrl+w
  wait_for 10 "the window to close" window_gone
  wait_for 10 "the stream to stop with the window closed" all_stopped
}

# --- The tray panel ---------------------------------------------------------------------------
say "tray panel: starting"
start_app
memory "tray, panel never opened"
open_panel
sleep 5
close_panel
sleep 3
memory "panel opened 5 s, closed 3 s"
say "tray panel: $cycles openings"
for _ in $(seq "$cycles"); do
  open_panel
  sleep 0.5
  close_panel
done
sleep 3
memory "after $cycles more panel openings, closed 3 s"
say "tray panel: streaming"
open_panel
sleep "$settle_s"
measure "panel open, streaming" 12
close_panel
sleep "$settle_s"
say "tray: idle"
measure "tray idle (no window, no panel)" 6
stop_app

# --- The window -------------------------------------------------------------------------------
say "window: starting"
start_app
memory "tray, window never opened"
open_window
sleep 5
memory "window open 5 s"
say "window: streaming"
measure "window open, streaming" 12
say "window: camera frozen"
"$simcam" ctl --id bench freeze > /dev/null
sleep 6
measure "window open, camera frozen (recovering)" 6
"$simcam" ctl --id bench thaw > /dev/null
sleep "$settle_s"
close_window
sleep 3
memory "window closed 3 s"
stop_app

# --- Report -----------------------------------------------------------------------------------
echo "velto-camera ($build), simulated C200 streaming 1920x1080 at 30 fps; ${window_s} s windows"
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo
printf '%-42s %8s %8s %8s %11s\n' "CPU (% of one core)" "app" "simcam" "threads" "wake-ups/s"
printf '  %s\n' "${cpu_rows[@]}"
echo
echo "threads by name (wake-ups/s, % of one core):"
printf '  %s\n' "${thread_rows[@]}"
echo
printf '%-42s %9s %9s %8s %5s\n' "memory" "VmRSS kB" "Pss kB" "threads" "fds"
printf '  %s\n' "${memory_rows[@]}"
