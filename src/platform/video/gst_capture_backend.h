// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The capture backend of a Linux desktop: V4L2 capture nodes of USB cameras (v4l2_devices.h),
// the simulated cameras of the simulator directory, and test devices; one GStreamer session
// (gst_session.h) on the serial queue "camera.session".
//
// In use by another application: the device answered busy (EBUSY, GStreamer's
// RESOURCE_ERROR_BUSY, or the simulated camera's busy answer) the last time the session tried to
// stream from it, and no frame has arrived from it since.
//
// Threads: construct, destroy and setHandlers on one thread (the main thread; it runs a Qt event
// loop when devices are watched). Everything that lists devices or opens a video node runs on
// "camera.session" in the order asked for: look-ups, the hot-plug listings (the first at
// construction) and the session. devices() and access() block and may be called from any thread;
// the application calls them only through lookUp. The other calls from any thread. Destruction
// stops the session and waits for the queue.
#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "platform/usb/system_calls.h"
#include "platform/video/capture_backend.h"
#include "platform/video/v4l2_devices.h"
#include "support/serial_queue.h"
#include "support/weak_context.h"

namespace velto::usb {
class NodeEvents;
class SimWatch;
class UdevNotifier;
}  // namespace velto::usb

namespace velto::video {

struct GstCaptureOptions {
  std::string sysfsRoot = "/sys";  // empty: no V4L2 devices
  std::string devRoot = "/dev";    // where the video nodes named in sysfs are
  std::string simDirectory;        // empty: no simulated cameras
  // Every open(2) and ioctl(2) on a video node goes through here (listing, access, the session's
  // check before GStreamer opens the node); tests refuse opens with it. Must outlive the backend.
  usb::SystemCalls* calls = &usb::SystemCalls::real();
  // A gst-launch description that devices of kind test stream from, e.g.
  // "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=1920,height=1080,framerate=30/1".
  std::string testSource = "videotestsrc is-live=true";
  std::vector<CaptureDevice> testDevices;  // listed last, always granted
  // Watch udev and the simulator directory for devices appearing (needs a Qt event loop).
  bool watchDevices = true;
  // Stream through the session's PipeWire when it publishes the camera (asked at each look-up).
  bool pipeWire = false;
};

// A normal run: /sys (or $VELTO_SYSFS_ROOT), /dev, and the simulated cameras the registry lists
// (usb::defaultRegistryOptions: only when asked for, from a trusted directory).
GstCaptureOptions defaultGstCaptureOptions();

class GstCaptureBackend final : public CaptureBackend {
 public:
  explicit GstCaptureBackend(GstCaptureOptions options = defaultGstCaptureOptions());
  ~GstCaptureBackend() override;
  GstCaptureBackend(const GstCaptureBackend&) = delete;
  GstCaptureBackend& operator=(const GstCaptureBackend&) = delete;

  // Without a frame queue, frames are handed over on GStreamer's streaming thread.
  void setHandlers(Handlers handlers) override;
  // Posts the look-up to "camera.session"; `done` is called there. With `pipeWire`, a device the
  // session's PipeWire publishes comes with its node, and the modes are what that node offers.
  void lookUp(LookUp request, std::function<void(LookUpResult)> done) override;
  // Simulated cameras first (a short handshake each), then V4L2 nodes (an open and a
  // VIDIOC_QUERYCAP each), then test devices.
  std::vector<CaptureDevice> devices() override;
  // Opens the V4L2 node with O_RDWR | O_NONBLOCK and closes it; EACCES or EPERM is denied, any
  // other outcome granted (a missing node is the session's to report). Simulated and test
  // devices are always granted.
  Access access(const CaptureDevice& device) override;
  // A V4L2 node's enumeration; a simulated camera's streaming descriptors; none for test devices.
  std::vector<CaptureMode> modes(const CaptureDevice& device) override;
  bool isInUseByAnotherApplication(const CaptureDevice& device) override;

  // `restart` false keeps a session already streaming from `device`; any other is replaced.
  // A session that fails reports its error and takes itself down.
  void configure(const CaptureDevice& device, bool restart) override;
  void stopSession() override;
  // Taken on "camera.session", in order with configure.
  void setCaptureMode(std::optional<CaptureMode> mode) override;
  void setPictureSize(int width, int height) override;
  // The node's opens and closes through inotify, on the creating thread.
  void watchNode(const std::optional<CaptureDevice>& device) override;
  // Looked for on "camera.session" ahead of queued work, so a session is let go at once.
  void lookForHolders(HolderLook look, std::function<void(std::vector<CameraHolder>)> done) override;
  bool isSessionRunning() const override;
  void waitUntilIdle() override;

  // Frames a newer one replaced before the receiver took them, and frames handed over. Any thread.
  std::uint64_t framesDropped() const;
  std::uint64_t framesDelivered() const;

 private:
  struct Core;

  std::vector<ListedDevice> list();
  void devicesMayHaveChanged();  // the creating thread: asks for a listing on the queue
  void rescan();                 // "camera.session"

  GstCaptureOptions options_;
  std::shared_ptr<Core> core_;
  SerialQueue sessionQueue_{"camera.session"};
  // "camera.session": each device listed at the last look, by uniqueID and enumeration.
  std::set<std::pair<std::string, std::uint64_t>> known_;
  // A listing is queued and has not begun: a burst of hot-plug notices (udev sends several per
  // camera) shares it.
  std::atomic<bool> rescanQueued_{false};
  // Lives on the creating thread: deviceConnected is called there, and dropped once the backend
  // goes.
  std::unique_ptr<QObject> home_;
  WeakContext toHome_;
  std::unique_ptr<usb::UdevNotifier> udev_;
  std::unique_ptr<usb::SimWatch> simWatch_;
  std::unique_ptr<usb::NodeEvents> nodeEvents_;  // the creating thread's
};

}  // namespace velto::video
