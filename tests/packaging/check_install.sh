#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# check_install.sh BUILD_DIR LOGIN_ITEM_ENTRY: installs the build into a temporary DESTDIR with
# prefix /usr and checks that every file lands where the desktop looks for it, that the files
# refer to each other by the right names, that the desktop's own validators accept them, and
# that `cpack -G DEB` makes a package with its dependencies and the same files, that lintian
# finds no error or warning in it, and that the source tree is REUSE-compliant.
set -euo pipefail

build=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
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
     share/man/man1/velto-camera.1.gz share/man/man1/velto-ctl.1.gz share/man/man1/velto-simcam.1.gz \
     share/doc/velto-camera/copyright share/doc/velto-camera/changelog.gz

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
# What the validator does not ask for: the developer, a screenshot, and every installed program.
grep -q '<developer_name>[^<]' "$usr/$metainfo" || fail "the metainfo names no developer"
grep -q '<screenshot type="default">' "$usr/$metainfo" || fail "the metainfo has no default screenshot"
for program in "$usr"/bin/*; do
  grep -q "<binary>${program##*/}</binary>" "$usr/$metainfo" || fail "the metainfo does not provide ${program##*/}"
done
# Started over the session bus by its desktop file ID: the entry says so, and the bus's service file
# for that ID starts the installed program.
bus_service=share/dbus-1/services/app.velto.Camera.service
need "$bus_service" share/dbus-1/interfaces/app.velto.Camera1.xml share/dbus-1/interfaces/app.velto.Capture1.xml
[ "$(key "$usr/$app" DBusActivatable)" = true ] || fail "the desktop entry is not DBusActivatable"
[ "$(key "$usr/$bus_service" Name)" = "$(basename "$app" .desktop)" ] || fail "the bus service's Name is not the desktop file ID"
[ "$(key "$usr/$bus_service" Exec | cut -d' ' -f1)" = /usr/bin/velto-camera ] || fail "the bus service does not start /usr/bin/velto-camera"
[ "$(key "$usr/$unit" ExecStart | cut -d' ' -f1)" = velto-ctl ] || fail "the user unit does not start velto-ctl"
doc=$(key "$usr/$unit" Documentation)
[[ $doc =~ ^man:([a-z-]+)\(1\)$ ]] && need "share/man/man1/${BASH_REMATCH[1]}.1.gz" || fail "the unit's Documentation= is '$doc'"
# The keys src/app/software_update.cpp reads.
bundle=$usr/share/velto-camera/bundle.conf
[ "$(key "$bundle" VeltoUpdatesEnabled)" = NO ] || fail "bundle.conf does not leave updates disabled"
[[ $(key "$bundle" VeltoFeedURL) == https://?* ]] || fail "bundle.conf names no https feed in VeltoFeedURL"

# The installed autostart entry is what the application writes for the installed binary.
entry=$("$login_item_entry" "$work/autostart" /usr/bin/velto-camera --hidden)
diff -u "$entry" <(sed -n '/^\[Desktop Entry\]/,$p' "$usr/$autostart" | grep -v '^#') || fail "the installed autostart entry differs from the login item's"

if command -v desktop-file-validate >/dev/null; then
  for f in "$usr/$app" "$usr/$autostart"; do
    out=$(desktop-file-validate "$f" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate $f: $out"
  done
else skip desktop-file-validate; fi
if command -v appstreamcli >/dev/null; then
  # Pedantic notes never change the exit status, so each one fails the test unless it is listed
  # here with its reason. cid-contains-uppercase-letter: app.velto.Camera is the reverse-DNS name
  # the desktop entry, the D-Bus service and the user's settings are already known by.
  if appstreamcli validate --no-net --pedantic "$usr/$metainfo" >"$work/as.log" 2>&1; then
    notes=$(grep -E '^[EWIP]: ' "$work/as.log" | grep -v ' cid-contains-uppercase-letter ' || true)
    [ -z "$notes" ] || fail "appstreamcli validate --pedantic: $notes"
  else cat "$work/as.log"; fail "appstreamcli validate --pedantic"; fi
else skip appstreamcli; fi

# The copyright file (copyright-format 1.0): every Files paragraph's licence has its text, which
# points at the copy in /usr/share/common-licenses, and it gives the licences the metainfo states.
if /usr/bin/python3 -c 'import debian.copyright' 2>/dev/null; then
  metadata_license=$(sed -n 's:.*<metadata_license>\(.*\)</metadata_license>.*:\1:p' "$usr/$metainfo")
  project_license=$(sed -n 's:.*<project_license>\(.*\)</project_license>.*:\1:p' "$usr/$metainfo")
  /usr/bin/python3 - "$usr/share/doc/velto-camera/copyright" "$metadata_license" "$project_license" <<'PY' ||
import sys
from debian.copyright import Copyright
path, metadata_license, project_license = sys.argv[1:]
with open(path, encoding="utf-8") as f:
    copyright = Copyright(f, strict=True)
texts = {p.license.synopsis: p.license.text for p in copyright.all_license_paragraphs()}
common = {"GPL-3+": "/usr/share/common-licenses/GPL-3", "CC0-1.0": "/usr/share/common-licenses/CC0-1.0"}
spdx = {"GPL-3+": "GPL-3.0-or-later", "CC0-1.0": "CC0-1.0"}
problems = []
for p in copyright.all_files_paragraphs():
    name = p.license.synopsis
    if not p.copyright:
        problems.append(f"Files: {' '.join(p.files)} names no copyright holder")
    if name not in common:
        problems.append(f"Files: {' '.join(p.files)} has the unexpected licence {name}")
    elif common[name] not in texts.get(name, ""):
        problems.append(f"the {name} paragraph does not refer to {common[name]}")
def licence_of(path):
    return spdx.get(copyright.find_files_paragraph(path).license.synopsis)
if licence_of("packaging/app.velto.Camera.metainfo.xml") != metadata_license:
    problems.append(f"the metainfo's metadata_license {metadata_license} is not its licence in the copyright file")
if licence_of("src/app/main.cpp") != project_license:
    problems.append(f"the metainfo's project_license {project_license} is not the code's licence in the copyright file")
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PY
    fail "the copyright file"
else skip "python3-debian (to read the copyright file)"; fi

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
    # One version everywhere: the package, its changelog's latest entry, the metainfo's release.
    version=$(dpkg-deb -f "$deb" Version)
    if command -v dpkg-parsechangelog >/dev/null; then
      gzip -dc "$usr/share/doc/velto-camera/changelog.gz" >"$work/changelog"
      changelog_version=$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1) &&
        [ "$changelog_version" = "$version" ] || fail "the changelog's latest version is '$changelog_version', the package's $version"
    fi
    grep -q "<release version=\"$version\"" "$usr/$metainfo" || fail "the metainfo has no release $version"
    if command -v lintian >/dev/null; then
      lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian $(basename "$deb")"; }
    else skip lintian; fi
  fi
else skip dpkg-deb; fi

if command -v reuse >/dev/null; then
  reuse --root "$source_dir" lint >"$work/reuse.log" 2>&1 || { cat "$work/reuse.log"; fail "reuse lint"; }
else skip reuse; fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "packaging: all checks passed"
