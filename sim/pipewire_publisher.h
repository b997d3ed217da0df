// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Publishes a simulated camera on the session's PipeWire the way PipeWire's V4L2 monitor
// publishes a real one: a Video/Device and under it a driver Video/Source node (media.role
// Camera, api.v4l2.path naming the camera's video node) that offers the modes the camera's
// descriptors advertise. docs/simcam.md lists the properties.
//
// The publisher is one more client of the camera, as PipeWire is of a real camera's node: it
// watches the simulator directory and publishes while `<id>.sock` exists (so unplugging and
// re-enumerating take the objects away and bring them back), and while a consumer streams from
// the node it holds `<id>.video` open and streams from the device socket in the negotiated mode,
// handing each frame on to PipeWire. The simulator therefore counts it as a streaming client in
// every way (the alternate setting, auto modes metering, `busy`), and nothing in it is shared
// with the socket server's thread.
//
// Threads: connect() and start() on the thread that owns the publisher; everything else runs on
// a PipeWire thread loop of its own, which the destructor stops.
#pragma once

#include <memory>
#include <string>

#include "sim/profile.h"

namespace velto::sim {

class PipeWirePublisher {
 public:
  // The camera `profile` served as `id` from `directory` (as SimServer serves it).
  PipeWirePublisher(Profile profile, std::string id, std::string directory);
  ~PipeWirePublisher();  // takes the objects away and disconnects
  PipeWirePublisher(const PipeWirePublisher&) = delete;
  PipeWirePublisher& operator=(const PipeWirePublisher&) = delete;

  // Connects to the session's PipeWire (PIPEWIRE_REMOTE, PIPEWIRE_RUNTIME_DIR or XDG_RUNTIME_DIR
  // as libpipewire finds them). False with the reason when there is none to reach.
  bool connect(std::string* error);
  // Starts watching the directory (which must exist) and publishing. False with the reason when
  // the directory cannot be watched. After a successful connect() only.
  bool start(std::string* error);

  // The stable names of what is published for `id`: node.name and the Device's serial number as
  // udev would spell ID_SERIAL ("<product>_<serial>").
  static std::string nodeName(const std::string& id);
  static std::string serialNumber(const std::string& id);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velto::sim
