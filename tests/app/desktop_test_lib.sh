# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# Shared by the desktop tests (sourced, not run): a private temporary folder with everything the
# test starts ended on exit, a failure that shows the application's last output, bounded waits, and
# a private X server or Wayland compositor, and a session bus.
#
#   require_tools TOOL...      exit 77 (skipped) when one is missing
#   start_x_and_bus WxH        Xvfb on a free display and a session bus; exports DISPLAY and
#                              DBUS_SESSION_BUS_ADDRESS
#   start_wayland_and_bus WxH  sway without a screen (one headless output of WxH) and a session
#                              bus; exports WAYLAND_DISPLAY (the socket's path), SWAYSOCK,
#                              DBUS_SESSION_BUS_ADDRESS and QT_QPA_PLATFORM=wayland, unsets DISPLAY;
#                              exit 77 (skipped) when sway cannot start here

require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" > /dev/null; then
      echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
      exit 77
    fi
  done
}

# require_accessibility: the accessibility bus launcher ($bus_launcher) and Python's AT-SPI client
# ($python with pyatspi), or a skip; then Qt's widgets always on the accessibility bus.
require_accessibility() {
  if [ ! -x "$bus_launcher" ]; then
    echo "SKIP: $bus_launcher is missing (at-spi2-core; scripts/install-deps installs it)"
    exit 77
  fi
  if ! "$python" -c 'import pyatspi' 2> /dev/null; then
    echo "SKIP: $python cannot import pyatspi (python3-pyatspi; scripts/install-deps installs it)"
    exit 77
  fi
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  unset AT_SPI_BUS_ADDRESS
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
  # -noreset: with its last client gone the server would reset, and a client connecting meanwhile
  # (the next phase's application) would find no display.
  Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "$1x24" 3> "$tmp/display" 2> /dev/null &
  pids+=($!)
  wait_for 10 "Xvfb" test -s "$tmp/display"
  DISPLAY=:$(head -n 1 "$tmp/display")
  export DISPLAY
  start_bus
}

start_wayland_and_bus() {
  local runtime=$tmp/wayland as=()
  mkdir -m 700 "$runtime"
  if [ "$(id -u)" -eq 0 ]; then
    # sway refuses to run as root: it runs as nobody, in a folder of nobody's own.
    chmod 711 "$tmp"
    chown 65534:65534 "$runtime"
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  # No Xwayland: a client that falls back to X11 finds no server. A window asking to be raised
  # with a token is focused, as on the common desktops.
  printf 'output HEADLESS-1 mode %s\nxwayland disable\nfocus_on_window_activation focus\n' "$1" > "$tmp/sway.conf"
  chmod 644 "$tmp/sway.conf"
  "${as[@]}" env -i PATH="$PATH" HOME="$runtime" XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway --config "$tmp/sway.conf" > "$tmp/sway.log" 2>&1 &
  pids+=($!)
  sway_ready() {
    SWAYSOCK=$(compgen -G "$runtime/sway-ipc.*.sock" | head -n 1)
    WAYLAND_DISPLAY=$(compgen -G "$runtime/wayland-[0-9]*" | grep -v '\.lock$' | head -n 1)
    [ -S "$WAYLAND_DISPLAY" ] && [ -S "$SWAYSOCK" ] && SWAYSOCK=$SWAYSOCK swaymsg -t get_outputs 2> /dev/null |
      grep -q '"active": true'
  }
  local deadline=$((SECONDS + 10))
  until sway_ready; do
    if ((SECONDS >= deadline)) || ! kill -0 "${pids[-1]}" 2> /dev/null; then
      echo "SKIP: the Wayland compositor (sway, headless) could not start here:"
      tail -n 5 "$tmp/sway.log"
      exit 77
    fi
    sleep 0.05
  done
  export SWAYSOCK WAYLAND_DISPLAY QT_QPA_PLATFORM=wayland
  unset DISPLAY
  start_bus
}

start_bus() {
  dbus-daemon --session --nofork --print-address=3 3> "$tmp/bus" 2> /dev/null &
  pids+=($!)
  wait_for 10 "the session bus" test -s "$tmp/bus"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus")
  export DBUS_SESSION_BUS_ADDRESS
}
