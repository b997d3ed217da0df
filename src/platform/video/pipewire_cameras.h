// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The cameras the session's PipeWire publishes, for streaming through PipeWire when it holds the
// camera, so that PipeWire's other clients and the preview see it together (a V4L2 node has one
// streamer). A camera is a Video/Source node with media.role Camera or an api.v4l2.path; its USB
// identity comes from the Device its device.id names, never from the node's own
// device.vendor.id / device.product.id, which PipeWire 0.3.41 to 1.0 cut to five characters.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/video/capture_device.h"
#include "platform/video/capture_mode.h"

namespace velto::video {

struct PipeWireCamera {
  std::string nodeName;            // node.name: what pipewiresrc's target-object takes
  std::uint32_t nodeID = 0;        // the node's global id
  std::uint64_t objectSerial = 0;  // object.serial; 0 when absent
  std::string v4l2Path;            // api.v4l2.path; empty when absent
  // From the Device: device.vendor.id / device.product.id ("0x%04x"; 0 when absent or
  // malformed) and device.serial (udev's ID_SERIAL, "<vendor>_<model>_<serial>").
  std::uint16_t vendorID = 0;
  std::uint16_t productID = 0;
  std::string serial;
  // What the node offers (its EnumFormat params, in the formats the session knows), ordered as
  // orderedModes() orders them.
  std::vector<CaptureMode> modes;
  // The mode a client streams in now (the node's Format while it runs): the first consumer fixes
  // a node's format and a second must take the same. None while nobody streams.
  std::optional<CaptureMode> streaming;
  // The process of the client that made the node (pipewire.sec.pid of its client.id), which may
  // hold the camera's node while the node streams: the session manager, whose node runs in the
  // PipeWire daemon, for a V4L2 camera; a program that publishes a camera of its own, itself.
  // 0 when unknown.
  std::int64_t process = 0;

  friend bool operator==(const PipeWireCamera&, const PipeWireCamera&) = default;
};

// Asks the session's PipeWire (PIPEWIRE_REMOTE, PIPEWIRE_RUNTIME_DIR or XDG_RUNTIME_DIR, as
// libpipewire finds it) for its cameras, ordered by node id. Blocks for a few round trips, at most
// `timeout`; when that passes, what was complete by then is returned and a warning logged. Empty,
// logging only at debug level, when PipeWire is not running. Connects anew and lets everything go
// on each call. Any thread but the GUI thread (it blocks).
std::vector<PipeWireCamera> listPipeWireCameras(std::chrono::milliseconds timeout);

// The camera of `cameras` that publishes `device`: the one whose api.v4l2.path is
// nodePath(device), or else the first whose vendor and product IDs are the device's and whose
// serial agrees when both know one (equal, or udev's ID_SERIAL ending in "_" and the device's
// serial). None when no camera fits.
std::optional<PipeWireCamera> pipeWireCameraFor(const std::vector<PipeWireCamera>& cameras,
                                               const CaptureDevice& device);

// The rules the list applies, pure. A node's camera from its properties and its Device's (null
// when its device.id names none): none when the node is no camera. Malformed values count as
// absent. `modes` are taken as they are and ordered.
using PropertyMap = std::map<std::string, std::string>;
std::optional<PipeWireCamera> cameraFromProperties(std::uint32_t nodeID, const PropertyMap& node,
                                                   const PropertyMap* device, std::vector<CaptureMode> modes);
// The modes one EnumFormat param offers, given as the bytes of its spa_pod: every size and rate
// of an enumeration, the default of a range; none for a format the session does not know or a
// pod it cannot read.
std::vector<CaptureMode> modesOfFormatParam(std::span<const std::uint8_t> pod);

}  // namespace velto::video
