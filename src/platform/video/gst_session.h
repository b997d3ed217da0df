// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One capture pipeline for one device, as the backend's session runs it:
//   SOURCE ! decodebin ! videoconvert ! video/x-raw,format=BGRA ! appsink drop=true max-buffers=1 sync=false
// SOURCE is `v4l2src` with a caps filter holding the high preset (chosen from what the node offers
// in READY), an `appsrc` fed from a thread of the session with the simulated camera's stream, or
// the test source for test devices.
//
// There is no GLib main loop: frames come through appsink callbacks and errors through a bus sync
// handler, both on GStreamer's streaming threads; every other bus message is dropped at once so
// the bus never fills.
//
// Threads: start() and stop() on one thread (the "camera.session" queue); the callbacks on
// streaming threads, the sim feeder, or the caller of start().
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/usb/system_calls.h"
#include "platform/video/capture_backend.h"

namespace velto::video {

class GstSession {
 public:
  struct Options {
    std::string testSource;           // for devices of kind test
    usb::SystemCalls* calls = nullptr;  // opens V4L2 nodes before GStreamer does; never null
  };
  struct Callbacks {
    // Each frame the appsink hands over; a streaming thread. Never called once stop() has begun.
    std::function<void(Frame)> frame;
    // The session's failure, at most once per session, never once stop() has begun; any thread.
    // The pipeline stops delivering frames; the owner calls stop().
    std::function<void(const SessionError&)> error;
  };

  GstSession(CaptureDevice device, Options options, Callbacks callbacks);
  ~GstSession();  // stop()
  GstSession(const GstSession&) = delete;
  GstSession& operator=(const GstSession&) = delete;

  // Builds the pipeline and sets it playing. False when that failed; the error has been reported.
  bool start();
  // Takes the pipeline down. Returns within a few seconds even when an element is stuck (a
  // frozen source, a driver that does not answer): such a pipeline is left to finish on a thread
  // of its own, and a warning says so.
  void stop();

  const CaptureDevice& device() const { return device_; }

  // What the GStreamer callbacks share with the session (gst_session.cpp).
  struct Shared;

 private:

  bool build();

  CaptureDevice device_;
  Options options_;
  std::shared_ptr<Shared> shared_;
  struct Pipeline;
  std::unique_ptr<Pipeline> pipeline_;
};

}  // namespace velto::video
