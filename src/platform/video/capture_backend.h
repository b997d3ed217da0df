// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What the preview controller needs of the platform's capture framework: the device list, access,
// hot-plug of video devices, and one capture session that delivers BGRA frames.
//
// GstCaptureBackend is the real one (GStreamer, V4L2 nodes, simulated cameras); tests of the
// controller's own logic may stand in with a scripted one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/video/capture_device.h"
#include "platform/video/frame.h"
#include "support/user_text.h"

namespace velto {
class SerialQueue;
}

namespace velto::video {

// Why a session stopped delivering frames. Reported once per failure.
struct SessionError {
  enum class Kind {
    busy,            // another application streams from the device (EBUSY)
    denied,          // permission denied while opening the device
    vanished,        // the device went away mid-stream
    missingElement,  // a GStreamer element is not installed
    failed,          // anything else the pipeline reported
  };
  Kind kind = Kind::failed;
  std::string text;  // for people: what failed, in words a Linux user understands (English)
  // The same for the views to translate: only the problems a view shows in these words (busy,
  // missingElement) have a marked template, the others are given verbatim.
  UserText message;
};

class CaptureBackend {
 public:
  struct Handlers {
    // Called on `frameQueue` with each frame. At most one frame waits in that queue: a frame
    // arriving while the previous one has not been taken replaces it (late frames are dropped).
    SerialQueue* frameQueue = nullptr;
    std::function<void(Frame)> frame;
    // The session's runtime error. Any thread; the receiver moves it to its own.
    std::function<void(const SessionError&)> runtimeError;
    // A video device appeared (udev video4linux add, a simulated camera plugging in). Called on
    // the thread that created the backend, which runs a Qt event loop.
    std::function<void()> deviceConnected;
  };

  virtual ~CaptureBackend() = default;

  // Set once, before anything else is called.
  virtual void setHandlers(Handlers handlers) = 0;

  // The devices present now. Main thread; reads sysfs and the simulator directory, and briefly
  // opens each video node (to ask what it captures) and greets each simulated camera.
  virtual std::vector<CaptureDevice> devices() = 0;
  // Whether the picture of `device` may be opened (the node opened and closed again).
  virtual Access access(const CaptureDevice& device) = 0;
  // Whether `device` is still present.
  virtual bool isConnected(const CaptureDevice& device) = 0;
  // Whether another application is using `device`: the device answered busy the last time this
  // session tried to stream from it, and no frame has arrived from it since.
  virtual bool isInUseByAnotherApplication(const CaptureDevice& device) = 0;

  // The session. Each call returns at once; the work runs in order on the serial queue
  // "camera.session", never on the caller's thread.
  // Rebuilds the pipeline for `device` and starts it; with `restart` false a session already
  // running for that same device is kept. A session that fails reports its error and stops.
  virtual void configure(const CaptureDevice& device, bool restart) = 0;
  virtual void stopSession() = 0;
  // The largest picture a view shows now, in device pixels (none: 0 × 0). Frames are made no
  // larger than needed to cover it; without a view, large enough for the statistics. Any thread;
  // the next frame has the new size.
  virtual void setPictureSize(int width, int height) {
    (void)width;
    (void)height;
  }
  // Whether a pipeline is built and started. Any thread.
  virtual bool isSessionRunning() const = 0;
  // Blocks until the session queue has done everything asked so far. Tests and shutdown.
  virtual void waitUntilIdle() = 0;
};

}  // namespace velto::video
