// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// GStreamer as the session uses it: started once per process, and the words for what is missing.
// GStreamer's own types stay out of this header.
#pragma once

#include <string>
#include <string_view>

#include "support/user_text.h"

namespace velto::video {

// Initialises GStreamer once per process (gst_init_check, no command line). True when it can be
// used; false with `error` saying why otherwise (the failure is logged once). Any thread; every
// call after the first returns the first outcome at once.
bool ensureGstreamer(std::string* error = nullptr);

// The Debian package that ships GStreamer element `element`; empty for one we do not know.
std::string_view packageForElement(std::string_view element);

// "GStreamer element 'v4l2src' is missing (install gstreamer1.0-plugins-good)"; without the
// advice for an element of no known package.
UserText missingElementText(std::string_view element);

// The caps of the high preset among the caps a source offers (GStreamer caps text): the largest
// size up to 1920×1080 at the best frame rate offered for it; between equal choices raw video
// (nothing to decode) before compressed. Ranges of sizes and rates are clamped to what fits.
// Empty when nothing offered fits (no fixed size, only larger sizes, unreadable text).
std::string highPresetCaps(const std::string& offered);

}  // namespace velto::video
