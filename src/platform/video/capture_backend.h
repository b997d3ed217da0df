// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What the preview controller needs of the platform's capture framework: the device list, access,
// hot-plug of video devices, and one capture session that delivers BGRA frames. Listing and
// access open video nodes and may block on a slow driver: the controller asks for them with
// lookUp, which the real backend answers from its worker.
//
// GstCaptureBackend is the real one (GStreamer, V4L2 nodes, simulated cameras); tests of the
// controller's own logic may stand in with a scripted one.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/video/camera_holders.h"
#include "platform/video/capture_device.h"
#include "platform/video/capture_mode.h"
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
  // Busy: the program found holding the device's node, when one of this user's can be seen; the
  // text then names it ("zoom (PID 4242) is using the camera.").
  std::optional<CameraHolder> holder;
};

class CaptureBackend {
 public:
  struct Handlers {
    // Called with each frame: on the session's streaming thread, right after it was decoded (the
    // preview's way), or, for a receiver that names a `frameQueue`, on that queue, where at most
    // one frame waits: a frame arriving while the previous one has not been taken replaces it.
    SerialQueue* frameQueue = nullptr;
    std::function<void(Frame)> frame;
    // The session's runtime error. Any thread; the receiver moves it to its own.
    std::function<void(const SessionError&)> runtimeError;
    // A video device appeared (udev video4linux add, a simulated camera plugging in). Called on
    // the thread that created the backend, which runs a Qt event loop.
    std::function<void()> deviceConnected;
    // The node of the watched device (watchNode) was opened or closed by some program, this one
    // included. Called on the thread that created the backend.
    std::function<void()> nodeActivity;
  };

  virtual ~CaptureBackend() = default;

  // Set once, before anything else is called.
  virtual void setHandlers(Handlers handlers) = 0;

  // Which device a client should stream from, found on the backend's worker.
  struct LookUp {
    // Picks the device among those listed now; none when none fits. Runs on the worker.
    std::function<std::optional<CaptureDevice>(const std::vector<CaptureDevice>&)> choose;
    bool checkAccess = false;              // also ask whether the chosen device may be opened
    std::optional<CaptureDevice> inUse;    // the device streamed from now, if any
    bool listModes = false;                // also ask what the chosen device offers
  };
  struct LookUpResult {
    std::optional<CaptureDevice> device;   // what `choose` picked
    Access access = Access::granted;       // of `device`; granted when not asked for
    bool inUseListed = false;              // `inUse` is listed (same uniqueID and path)
    std::vector<CaptureMode> modes;        // of `device`, when asked for (ordered)
  };
  // Lists the devices once, picks one and checks its access, away from the caller's thread
  // where the backend has a worker (the real one: "camera.session", in order with the session's
  // work, so a configure asked for after the answer runs after the look). `done` is called once,
  // on that worker or (this default) on the caller's thread before lookUp returns; the caller
  // moves it to its own thread. Returns at once unless the backend has no worker.
  virtual void lookUp(LookUp request, std::function<void(LookUpResult)> done) { done(lookUpNow(request)); }

  // The blocking steps of a look-up; any thread, never the GUI's in the application.
  // The devices present now: reads sysfs and the simulator directory, and briefly opens each
  // video node (to ask what it captures) and greets each simulated camera.
  virtual std::vector<CaptureDevice> devices() = 0;
  // Whether the picture of `device` may be opened (the node opened and closed again).
  virtual Access access(const CaptureDevice& device) = 0;
  // The modes `device` offers, ordered (capture_mode.h); empty when it cannot be asked. A V4L2
  // node is opened and enumerated, a simulated camera greeted for its descriptors.
  virtual std::vector<CaptureMode> modes(const CaptureDevice& device) {
    (void)device;
    return {};
  }
  // Whether another application is using `device`: the device answered busy the last time this
  // session tried to stream from it, and no frame has arrived from it since. Any thread; no I/O.
  virtual bool isInUseByAnotherApplication(const CaptureDevice& device) = 0;

  // The session. Each call returns at once; the work runs in order on the serial queue
  // "camera.session", never on the caller's thread.
  // Rebuilds the pipeline for `device` and starts it; with `restart` false a session already
  // running for that same device is kept. A session that fails reports its error and stops.
  virtual void configure(const CaptureDevice& device, bool restart) = 0;
  virtual void stopSession() = 0;
  // The mode the sessions configured from now on stream in; none: the backend picks (a V4L2
  // node's high preset, a simulated camera's own size). A running session is kept until the next
  // configure, which then restarts it even without `restart` when the mode changed. Any thread.
  virtual void setCaptureMode(std::optional<CaptureMode> mode) { (void)mode; }
  // The largest picture a view shows now, in device pixels (none: 0 × 0). Frames are made no
  // larger than needed to cover it; without a view, large enough for the statistics. Any thread;
  // the next frame has the new size.
  virtual void setPictureSize(int width, int height) {
    (void)width;
    (void)height;
  }
  // Watches the node of `device` (nodePath) for opens and closes, which nodeActivity tells of;
  // none stops watching. The thread that created the backend.
  virtual void watchNode(const std::optional<CaptureDevice>& device) { (void)device; }
  // Which other programs hold the node of `device` open (camera_holders.h), looked for on the
  // backend's worker; with `passOverPipeWire`, PipeWire's own processes and the process behind
  // the device's PipeWire node are not counted (the preview shares the camera through them). With `stopIfHeld`, a session is stopped right there
  // when any program is found, before `done` runs: the camera is let go without a round trip.
  // `done` is called once, on the worker or (this default, which finds nobody) before the call
  // returns.
  struct HolderLook {
    CaptureDevice device;
    bool passOverPipeWire = false;
    bool stopIfHeld = false;
  };
  virtual void lookForHolders(HolderLook look, std::function<void(std::vector<CameraHolder>)> done) {
    (void)look;
    done({});
  }
  // Whether a pipeline is built and started. Any thread.
  virtual bool isSessionRunning() const = 0;
  // Blocks until the session queue has done everything asked so far. Tests and shutdown.
  virtual void waitUntilIdle() = 0;

 protected:
  // What lookUp does, on the calling thread.
  LookUpResult lookUpNow(const LookUp& request);
};

inline CaptureBackend::LookUpResult CaptureBackend::lookUpNow(const LookUp& request) {
  LookUpResult result;
  const std::vector<CaptureDevice> present = devices();
  if (request.choose) result.device = request.choose(present);
  if (result.device && request.checkAccess) result.access = access(*result.device);
  if (result.device && request.listModes) result.modes = modes(*result.device);
  if (request.inUse) {
    for (const CaptureDevice& device : present) {
      if (device.uniqueID == request.inUse->uniqueID && device.path == request.inUse->path) result.inUseListed = true;
    }
  }
  return result;
}

}  // namespace velto::video
