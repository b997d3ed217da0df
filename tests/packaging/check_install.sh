#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# check_install.sh BUILD_DIR LOGIN_ITEM_ENTRY: installs the build into a temporary DESTDIR with
# prefix /usr and checks that every file lands where the desktop looks for it, that the files
# refer to each other by the right names, that the desktop's own validators accept them, and
# that `cpack -G DEB` makes a package with its dependencies and the same files.
set -euo pipefail

build=$1
login_item_entry=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
usr=$root/usr
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
skip() { echo "skipped: $* (not installed; scripts/install-deps adds it)"; }
need() { for f in "$@"; do [ -f "$usr/$f" ] || fail "not installed: /usr/$f"; done; }
key() { sed -n "s/^$2=//p" "$1" | head -n 1; }  # a desktop or key file's value

DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" || { cat "$work/install.log"; exit 1; }

app=share/applications/app.velto.Camera.desktop
metainfo=share/metainfo/app.velto.Camera.metainfo.xml
autostart=share/velto-camera/velto-camera-autostart.desktop
unit=lib/systemd/user/velto-ctl-watch.service
need bin/velto-camera bin/velto-ctl bin/velto-simcam "$app" "$metainfo" "$autostart" "$unit" \
     share/velto-camera/bundle.conf lib/udev/rules.d/70-velto-camera.rules \
     share/man/man1/velto-camera.1.gz share/man/man1/velto-ctl.1.gz share/man/man1/velto-simcam.1.gz

# The icon the entries name, at every size, each PNG as large as its folder says.
icon=$(key "$usr/$app" Icon)
[ "$icon" = "$(key "$usr/$autostart" Icon)" ] || fail "the autostart entry's icon differs from the desktop entry's"
need "share/icons/hicolor/scalable/apps/$icon.svg"
for size in 16 22 24 32 48 64 128 256; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  if [ ! -f "$png" ]; then fail "no ${size} px icon"; continue; fi
  # IHDR: width and height as big-endian 32-bit numbers at bytes 16 and 20.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w x $h" = "$size x $size" ] || fail "$png is $w x $h pixels"
done

# Names that point at other installed files.
[ -x "$usr/bin/$(key "$usr/$app" Exec | cut -d' ' -f1)" ] || fail "the desktop entry's Exec is not an installed program"
grep -q '<launchable type="desktop-id">app.velto.Camera.desktop</launchable>' "$usr/$metainfo" ||
  fail "the metainfo does not launch app.velto.Camera.desktop"
grep -q '<release version="[0-9]' "$usr/$metainfo" || fail "the metainfo's release has no version filled in"
[ "$(key "$usr/$unit" ExecStart | cut -d' ' -f1)" = velto-ctl ] || fail "the user unit does not start velto-ctl"
doc=$(key "$usr/$unit" Documentation)
[[ $doc =~ ^man:([a-z-]+)\(1\)$ ]] && need "share/man/man1/${BASH_REMATCH[1]}.1.gz" || fail "the unit's Documentation= is '$doc'"
# The keys src/app/software_update.cpp reads.
bundle=$usr/share/velto-camera/bundle.conf
[ "$(key "$bundle" VeltoUpdatesEnabled)" = NO ] || fail "bundle.conf does not leave updates disabled"
[[ $(key "$bundle" VeltoFeedURL) == https://?* ]] || fail "bundle.conf names no https feed in VeltoFeedURL"

# The installed autostart entry is what the application writes for the installed binary.
entry=$("$login_item_entry" "$work/autostart" /usr/bin/velto-camera --hidden)
diff -u "$entry" <(grep -v '^#' "$usr/$autostart") || fail "the installed autostart entry differs from the login item's"

if command -v desktop-file-validate >/dev/null; then
  for f in "$usr/$app" "$usr/$autostart"; do
    out=$(desktop-file-validate "$f" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate $f: $out"
  done
else skip desktop-file-validate; fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$usr/$metainfo" >"$work/as.log" 2>&1 || { cat "$work/as.log"; fail "appstreamcli validate"; }
else skip appstreamcli; fi

# Manual pages: groff without a warning, and every command the programs' usage names documented.
if command -v groff >/dev/null; then
  for page in velto-camera velto-ctl velto-simcam; do
    out=$(gzip -dc "$usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$out" ] || fail "groff on $page(1): $out"
  done
  for page in velto-ctl velto-simcam; do
    gzip -dc "$usr/share/man/man1/$page.1.gz" | groff -man -Tascii -P-cbou >"$work/$page.txt" 2>/dev/null
  done
  # A command is described where its item starts ("       unplug, plug", "       refuse name, accept name").
  for command in $("$usr/bin/velto-ctl" --help | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p'); do
    grep -Eq "^       $command( |$)" "$work/velto-ctl.txt" || fail "velto-ctl(1) does not describe '$command'"
  done
  for command in $("$usr/bin/velto-simcam" --help | awk '/^commands:/ {on = 1; sub(/^commands:/, "")} on' | tr '|' '\n' | awk 'NF {print $1}'); do
    grep -Eq "^       ([a-z]+( [a-z]+)?, )?$command( |,|$)" "$work/velto-simcam.txt" ||
      fail "velto-simcam(1) does not describe '$command'"
  done
else skip groff; fi

# The Debian package: dependencies, and the same files with the package's prefix filled in.
if command -v dpkg-deb >/dev/null; then
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
  deb=$(find "$work/package" -maxdepth 1 -name 'velto-camera_*.deb' | head -n 1)
  if [ -z "$deb" ]; then fail "cpack made no .deb"; else
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for p in gstreamer1.0-plugins-base gstreamer1.0-plugins-good; do
      [[ ", $depends," == *", $p,"* ]] || fail "Depends lacks $p"
    done
    if command -v dpkg-shlibdeps >/dev/null; then
      [[ $depends == *libqt6widgets6* && $depends == *libc6* ]] || fail "Depends lacks the shared libraries"
    fi
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] && [ "$(dpkg-deb -f "$deb" Section)" = video ] || fail "Maintainer or Section missing"
    (cd "$root" && find . -type f | sort) >"$work/installed.txt"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$work/packaged.txt"
    diff -u "$work/installed.txt" "$work/packaged.txt" || fail "the package holds other files than cmake --install"
    dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/$autostart" | grep -qx 'Exec=/usr/bin/velto-camera --hidden' ||
      fail "the packaged autostart entry does not start /usr/bin/velto-camera"
  fi
else skip dpkg-deb; fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "packaging: all checks passed"
