// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One capture pipeline for one device, as the backend's session runs it:
//   SOURCE ! appsink drop=true max-buffers=1 sync=false
// SOURCE is `pipewiresrc` with a caps filter for a camera the session's PipeWire publishes (its
// node named by the device), or `v4l2src` with a caps filter holding the chosen mode or else the high preset (chosen
// from what the node offers in READY), an `appsrc` fed from a thread of the session with the simulated camera's stream, or
// the test source for test devices. The appsink takes MJPEG, YUY2 and BGRA as the source sends
// them, and the session decodes each sample for the screen (frame_decoder.h) at the size the
// views need; a source that offers none of these gets `decodebin ! videoconvert` to BGRA first.
//
// Frames come through appsink callbacks on GStreamer's streaming thread, decoded there. Bus messages are read
// on the thread that owns the session: the bus hands each one, as it is posted, to
// Options::post, which queues it there (the session queue runs no GLib or Qt event loop to
// watch the bus with). There an error becomes the session's failure, judged by the GError's
// domain and code and, where those leave the cause open, by the node's own answer to open(2)
// and VIDIOC_QUERYCAP (a V4L2 device's, or the node a test device names as the one it stands in
// for); the end of the stream is a failure too; warnings and state changes are logged in
// velto.capture.
//
// Threads: the session is made, started and stopped on one thread, its owner's (the
// "camera.session" queue; asserted), where bus messages are handled too; frames are decoded on
// the streaming thread; a simulated camera is read by its appsrc's streaming thread, where what
// it answers is reported. GStreamer objects are held
// through gst_handle.h's references.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/usb/system_calls.h"
#include "platform/video/capture_backend.h"
#include "platform/video/frame_decoder.h"

typedef struct _GstElement GstElement;

namespace velto::video {

class GstSession {
 public:
  struct Options {
    std::string testSource;           // for devices of kind test
    usb::SystemCalls* calls = nullptr;  // opens V4L2 nodes before GStreamer does; never null
    // Runs a task on the thread that owns the session, after what runs there now; any thread.
    // It may drop a task unrun once the owner is gone. Never empty.
    std::function<void(std::function<void()>)> post;
    // The size of picture the views need now; null: none shows one.
    std::shared_ptr<const PictureSizeCell> pictureSize;
    // The mode to stream in; none: a V4L2 node's high preset, a simulated camera's own size.
    std::optional<CaptureMode> mode;
  };
  struct Callbacks {
    // Each frame the appsink hands over; a streaming thread. Never called once stop() has begun.
    std::function<void(Frame)> frame;
    // The session's failure, at most once per session, never once stop() has begun: on the
    // owner's thread for what GStreamer reports and for a busy camera (whose holder is looked
    // for there), on the appsrc's streaming thread for what else the simulated camera answers.
    // The pipeline stops delivering frames; the owner calls stop().
    std::function<void(const SessionError&)> error;
  };

  GstSession(CaptureDevice device, Options options, Callbacks callbacks);
  ~GstSession();  // stop()
  GstSession(const GstSession&) = delete;
  GstSession& operator=(const GstSession&) = delete;

  // Builds the pipeline and sets it playing. False when that failed; the error has been reported.
  bool start();
  // Takes the pipeline down. Returns within a second even when an element is stuck (a frozen
  // source, a driver that does not answer): such a pipeline is left to finish on a thread of its
  // own, which releases it once the element lets go, and a warning says so.
  void stop();

  const CaptureDevice& device() const { return device_; }
  const std::optional<CaptureMode>& mode() const { return options_.mode; }

  // What the GStreamer callbacks share with the session (gst_session.cpp).
  struct Shared;

 private:

  bool build();              // the source part, in NULL
  void choosePreset();        // READY: the chosen mode's caps, else the V4L2 node's high preset
  void choosePipeWireMode();  // the chosen mode, else the high preset, among what the PipeWire node offers
  bool addTail();             // READY: the appsink, with GStreamer's conversion when needed
  GstElement* parse(const std::string& description);  // a bin with ghost pads; reports failures
  void assertOwner() const;   // start() and stop() run on the thread that made the session

  CaptureDevice device_;
  Options options_;
  std::shared_ptr<Shared> shared_;
  struct Pipeline;
  std::unique_ptr<Pipeline> pipeline_;
};

}  // namespace velto::video
