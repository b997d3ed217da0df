// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The modes a V4L2 capture node offers, as the driver enumerates them.
#pragma once

#include <string>
#include <vector>

#include "platform/usb/system_calls.h"
#include "platform/video/capture_mode.h"

namespace velto::video {

// Opens `path` as the device list does and asks VIDIOC_ENUM_FMT, VIDIOC_ENUM_FRAMESIZES and
// VIDIOC_ENUM_FRAMEINTERVALS: every discrete size at each of its rates; of a stepwise or
// continuous range only its largest size, at its fastest and slowest rate. Formats the session
// cannot name (capture_mode.h) are left out. Ordered; empty when the node cannot be opened (the
// failing call is logged). Blocks for a few dozen system calls; any thread.
std::vector<CaptureMode> listV4l2Modes(const std::string& path, usb::SystemCalls& calls);

}  // namespace velto::video
