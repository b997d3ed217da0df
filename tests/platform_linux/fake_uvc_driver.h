// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A stand-in for uvcvideo in front of a simulated camera: it answers the V4L2 and UVC ioctls of
// a capture node the way the driver does, by sending the camera the UVC requests the driver
// would send. Its control mapping is written out here independently of the carrier's table, so
// a wrong row in either shows up as a failing test.
//
// The argument is memory the caller owns (for umockdev: memory already resolved into this
// process). Not thread-safe: the owner serialises calls together with every other use of the
// camera.
#pragma once

#include <cstdint>
#include <deque>
#include <set>

#include "sim/sim_camera.h"

namespace velto::testing {

class FakeUvcDriver {
 public:
  explicit FakeUvcDriver(sim::SimCamera& camera) : camera_(camera) {}

  // What QUERYCAP reports: a capture node, or uvcvideo's metadata node.
  void setMetadataNode(bool metadata) { metadata_ = metadata; }

  // Answers one ioctl; 0 or the errno the driver would give.
  int ioctl(unsigned long request, void* arg);

  // Another file handle (another program) has changed `id`: a subscribed control gets an event.
  void changedElsewhere(ControlID id, std::int32_t value);

 private:
  int queryCap(void* arg);
  int queryControl(void* arg);
  int queryMenu(void* arg);
  int getControls(void* arg);
  int setControls(void* arg);
  int extensionQuery(void* arg);
  int subscribe(void* arg);
  int dequeueEvent(void* arg);

  sim::SimCamera& camera_;
  bool metadata_ = false;
  std::set<std::uint32_t> subscribed_;                       // V4L2 control IDs
  std::deque<std::pair<std::uint32_t, std::int32_t>> events_;  // (control, value), oldest first
};

}  // namespace velto::testing
