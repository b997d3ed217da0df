# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# Shared by the desktop tests (sourced, not run): a private temporary folder with everything the
# test starts ended on exit, a failure that shows the application's last output, bounded waits, and
# a private X server and session bus.
#
#   require_tools TOOL...      exit 77 (skipped) when one is missing
#   start_x_and_bus WxH        Xvfb on a free display and a session bus; exports DISPLAY and
#                              DBUS_SESSION_BUS_ADDRESS

require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" > /dev/null; then
      echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
      exit 77
    fi
  done
}

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2> /dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "--- velto-camera's output"
  tail -n 30 "$tmp/app.log" 2> /dev/null
  exit 1
}

# wait_for SECONDS DESCRIPTION COMMAND...: until COMMAND succeeds, polling.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || fail "timed out waiting for $what"
    sleep 0.05
  done
}

# The simulated cameras of this runtime directory are the tests' cameras: ask for them.
export XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/config VELTO_BUNDLE_INFO=$tmp/no-bundle.conf VELTO_SIMCAM=1
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER

start_x_and_bus() {
  Xvfb -displayfd 3 -nolisten tcp -screen 0 "$1x24" 3> "$tmp/display" 2> /dev/null &
  pids+=($!)
  wait_for 10 "Xvfb" test -s "$tmp/display"
  DISPLAY=:$(head -n 1 "$tmp/display")
  export DISPLAY
  dbus-daemon --session --nofork --print-address=3 3> "$tmp/bus" 2> /dev/null &
  pids+=($!)
  wait_for 10 "the session bus" test -s "$tmp/bus"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus")
  export DBUS_SESSION_BUS_ADDRESS
}
