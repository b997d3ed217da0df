// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The machine's video capture devices, as the preview looks them up: V4L2 capture nodes of USB
// cameras (the first node with V4L2_CAP_VIDEO_CAPTURE under each camera, found through sysfs)
// and the simulated cameras, which stream their own frames.
//
// A device's `uniqueID` begins with "0x" and the lower-case hex of its USB location ID, followed
// by its vendor and product IDs as four hex digits each ("0x1100000291a3369"), and its `modelID`
// contains "VendorID_<decimal> ProductID_<decimal>", so a camera the store controls is found by
// its location first and by its model as a fallback.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/video/capture_mode.h"

namespace velto::video {

struct CaptureDevice {
  enum class Kind {
    v4l2,  // `path` is the video node, "/dev/videoN"
    sim,   // `path` is the simulated camera's device socket, "<directory>/<id>.sock"
    test,  // no device behind it: the session's test source stands in (tests, benchmarks)
  };

  Kind kind = Kind::v4l2;
  std::string uniqueID;
  std::string modelID;
  std::string name;  // the product name, for logs and messages
  std::string path;
  std::uint32_t locationID = 0;
  std::uint16_t vendorID = 0;
  std::uint16_t productID = 0;
  // The USB serial number (sysfs `serial`) of a V4L2 device that reports one; empty otherwise,
  // simulated cameras included. Tells two cameras of one model apart on PipeWire.
  std::string serial;
  // The node of the session's PipeWire that publishes this camera (its node.name), when one
  // does: the preview then streams through PipeWire, beside PipeWire's other clients, instead of
  // opening the camera itself. Empty: the camera is opened directly.
  std::string pipeWireNode;
  // What that node offers, ordered as orderedModes() orders them, and the mode another client
  // streams it in when the node was listed (a second client must take that one).
  std::vector<CaptureMode> pipeWireModes;
  std::optional<CaptureMode> pipeWireStreaming;
  // The process behind that node (PipeWireCamera::process): holding the camera's node is then its
  // way of streaming to the preview, not another program's use. 0 when unknown.
  std::int64_t pipeWireProcess = 0;

  friend bool operator==(const CaptureDevice&, const CaptureDevice&) = default;
};

// "0x<location hex><vendor 4 hex><product 4 hex>" and "<name> VendorID_<dec> ProductID_<dec>".
std::string makeUniqueID(std::uint32_t locationID, std::uint16_t vendorID, std::uint16_t productID);
std::string makeModelID(const std::string& name, std::uint16_t vendorID, std::uint16_t productID);

// The file a program that streams from `device` holds open: the video node of a V4L2 device (or
// the node a test device names), and for a simulated camera the file beside its socket that
// stands for its node, "<directory>/<id>.video" (docs/simcam-protocol.md). Empty when there is none.
std::string nodePath(const CaptureDevice& device);

// Whether the preview may open a device's picture.
enum class Access {
  granted,
  denied,  // the node cannot be opened for permission reasons (EACCES, EPERM)
};

}  // namespace velto::video
