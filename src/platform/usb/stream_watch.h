// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Noticing that some program starts streaming from a camera, without streaming from it: a program
// that streams opens the camera's video node first, and inotify tells of every open of the node
// (ours as well). After an open, the streaming interface's alternate setting in sysfs is read
// every kEagerLook for kEagerSpan (a stream usually starts within moments of the open), and then
// every kHeldLook for as long as more opens than closes have been seen (a video-call application
// may hold the node for an hour before its call starts). The setting going from 0 to another is
// a stream starting: an isochronous camera takes an alternate setting with bandwidth only while it
// streams. A camera that streams over bulk endpoints keeps setting 0 and is never seen to stream.
//
// The main thread's object: create it, and destroy it, on the thread whose event loop delivers
// the node's events and runs the clock's timers.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "platform/usb/carrier.h"
#include "platform/usb/node_events.h"
#include "support/clock.h"

class QObject;

namespace velto::usb {

class StreamWatch {
 public:
  static constexpr std::chrono::milliseconds kEagerLook{250};
  static constexpr std::chrono::seconds kEagerSpan{5};
  static constexpr std::chrono::seconds kHeldLook{2};

  // Watches `signs` and calls `started` each time a stream starts. None when the node cannot be
  // watched (it is gone; inotify refuses); why is logged.
  static std::unique_ptr<StreamWatch> create(Clock& clock, StreamSigns signs, std::function<void()> started);
  ~StreamWatch();
  StreamWatch(const StreamWatch&) = delete;
  StreamWatch& operator=(const StreamWatch&) = delete;

  // Whether the camera streamed at the last look.
  bool streaming() const { return streaming_; }

 private:
  StreamWatch(Clock& clock, StreamSigns signs, std::function<void()> started);
  void onNodeEvents(const NodeEvents::Tally& tally);
  void look();

  Clock& clock_;
  StreamSigns signs_;
  std::function<void()> started_;
  std::unique_ptr<QObject> context_;  // the timers' context
  std::unique_ptr<NodeEvents> events_;
  TimerHandle nextLook_;
  Clock::MonotonicTime eagerUntil_{};
  long opens_ = 0;  // opens and closes of the node seen since the watch began
  long closes_ = 0;
  bool streaming_ = false;
};

}  // namespace velto::usb
