// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A machine for the Linux carriers made with umockdev: emulated sysfs, udev events, a usbfs node
// and V4L2 nodes whose ioctls are answered by the simulated camera's own logic. Everything the
// carriers do is real (libusb, libudev, open and ioctl); only the kernel is emulated.
//
// Must run under umockdev-wrapper (the preload): without it the carriers would reach the real
// machine, so the bench fails the test instead (see preloaded()).
//
// Threads: umockdev answers ioctls on a worker thread of its own while the test thread is blocked
// in the call; the camera, the fake driver and the URB queues are guarded by one mutex, which
// tests take through withCamera().
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_uvc_driver.h"
#include "platform/usb/registry.h"
#include "sim/sim_camera.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace velto::testing {

// The listing of the emulated machine: its /sys is umockdev's, and no simulated cameras.
inline const usb::RegistryOptions kEmulatedSystem{"", "/sys"};

class UmockdevBench {
 public:
  UmockdevBench();
  ~UmockdevBench();
  UmockdevBench(const UmockdevBench&) = delete;
  UmockdevBench& operator=(const UmockdevBench&) = delete;

  // True when umockdev's preload library is in this process.
  static bool preloaded();

  struct Plug {
    sim::Profile profile = sim::c200Profile();
    std::string name = "1-2";  // kernel name: bus 1, port 2
    unsigned devnum = 4;
    bool uvcvideo = true;      // bind the VideoControl interface and create the video nodes
  };
  // Plugs the camera in: device and interfaces, then, when bound, a metadata node and a capture
  // node, each announced with an "add" uevent. One camera at a time.
  void plug(const Plug& plug);
  // Announces "remove" for the nodes and the device, then takes them away; from then on their
  // open descriptors answer ENODEV.
  void unplug();
  // The driver is rebound (as after a reset): the capture node answers ENODEV and leaves, a new
  // one named `newNode` comes.
  void rebindCaptureNode(const std::string& newNode);

  template <typename F>
  auto withCamera(F f) {
    std::lock_guard lock(mutex_);
    return f(*camera_);
  }
  // Another program sets `id` through its own file handle: the camera changes and the driver
  // sends the event to the handles that subscribed to it.
  void changeElsewhere(ControlID id, std::int32_t value);
  int resets();
  std::string captureNode() const { return captureNode_; }
  std::string sysDir() const;

 private:
  struct Node;
  static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* data);
  int usbfsIoctl(UMockdevIoctlClient* client);
  int videoIoctl(Node& node, UMockdevIoctlClient* client);
  Node& attach(const std::string& devnode, bool usbfs);
  void addVideoNode(const std::string& name, bool metadata);

  UMockdevTestbed* testbed_;
  std::mutex mutex_;  // guards everything below that the worker thread touches
  std::int64_t now_ = 0;
  std::unique_ptr<sim::SimCamera> camera_;
  std::vector<std::unique_ptr<Node>> nodes_;
  std::deque<UMockdevIoctlData*> reapable_;  // completed URBs, with their status set
  std::vector<UMockdevIoctlData*> inFlight_;  // URBs the camera has not answered (hung)
  int resets_ = 0;
  std::string devicePath_, interfacePath_, captureNode_;
  Plug plug_;
};

}  // namespace velto::testing
