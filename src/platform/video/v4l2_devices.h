// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The V4L2 capture devices of USB cameras, found through sysfs: every node under
// <sysfs>/class/video4linux whose parent is an interface of a USB device, grouped by that device,
// and of each group the first node (lowest number) whose device_caps say V4L2_CAP_VIDEO_CAPTURE.
//
// Finding that out opens each node (O_RDWR | O_NONBLOCK) and asks VIDIOC_QUERYCAP. A node that
// cannot be opened or queried (no permission, busy, gone) is judged by its sysfs `index` instead:
// uvcvideo registers the capture node as index 0 and the metadata node after it, so the camera is
// still listed and the session can say later why it cannot stream. Nodes whose USB device cannot
// be read (half gone, malformed attributes) are left out. Blocks for a few system calls per node;
// any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/usb/system_calls.h"
#include "platform/video/capture_device.h"

namespace velto::video {

// A listed device and the enumeration it belongs to (the USB registry ID: a re-plugged camera
// comes back with another), so that a watcher can tell a camera that left and came back.
struct ListedDevice {
  CaptureDevice device;
  std::uint64_t registryID = 0;
};

// Devices of kind v4l2, ordered by node number; `path` is "<devRoot>/videoN".
std::vector<ListedDevice> listV4l2Devices(const std::string& sysfsRoot, const std::string& devRoot,
                                           usb::SystemCalls& calls);

// open(2) flags for looking at a video node: the access check uses the same, so that what the
// list and the access check find agree.
int videoNodeOpenFlags();

// Opens `path` as the list does and asks VIDIOC_QUERYCAP: 0 when the node answered (its device
// caps in `deviceCaps` if given), else the errno of the call that failed (EBUSY, EACCES, ENOENT,
// ENODEV, ...), logged as a failing system call. Why a node cannot be streamed from, in the
// kernel's own words. Blocks for three system calls; any thread.
int probeVideoNode(const std::string& path, usb::SystemCalls& calls, std::uint32_t* deviceCaps = nullptr);

}  // namespace velto::video
