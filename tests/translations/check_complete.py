#!/usr/bin/env python3

# SPDX-FileCopyrightText: 2026 Velto Camera developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

"""Fails when a translation is behind the sources.

check_complete.py LUPDATE SOURCE_DIR TS_FILE...

Each .ts file is brought up to date with the sources in a copy, as `update_translations` would
(lupdate over every .cpp and .h under SOURCE_DIR). The copy must then have a finished, non-empty
translation for every text, and no entry the sources no longer have: a text added to the sources,
one left untranslated, and one that the .ts still carries after the sources dropped it are each
named with their context.
"""

import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path


def problems(ts: Path):
    for context in ET.parse(ts).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            source = message.findtext("source")
            translation = message.find("translation")
            kind = translation.get("type") if translation is not None else "missing"
            if kind in ("vanished", "obsolete"):
                yield f"{name}: “{source}” is no longer in the sources"
            elif kind == "unfinished" or kind == "missing":
                yield f"{name}: “{source}” has no finished translation"
            elif not (translation.text or "").strip() and not list(translation):
                yield f"{name}: “{source}” has an empty translation"


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    lupdate, sources, files = sys.argv[1], sys.argv[2], [Path(f) for f in sys.argv[3:]]
    failed = False
    with tempfile.TemporaryDirectory() as tmp:
        for ts in files:
            copy = Path(tmp) / ts.name
            shutil.copyfile(ts, copy)
            run = subprocess.run([lupdate, "-silent", "-locations", "none", "-extensions", "cpp,h", sources, "-ts", str(copy)],
                                 capture_output=True, text=True)
            if run.returncode != 0:
                print(f"{ts}: lupdate failed:\n{run.stdout}{run.stderr}")
                failed = True
                continue
            found = list(problems(copy))
            for problem in found:
                print(f"{ts.name}: {problem}")
            failed = failed or bool(found)
            print(f"{ts.name}: {sum(1 for _ in ET.parse(copy).getroot().iter('message'))} texts, "
                  f"{len(found)} to do")
    if failed:
        print("Run `cmake --build BUILD --target update_translations`, translate, and commit the .ts files.")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
