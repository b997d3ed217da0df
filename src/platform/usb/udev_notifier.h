// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Tells its owner that USB devices or video nodes came or went: a libudev monitor for
// usb/usb_device and video4linux add and remove events, read from a QSocketNotifier in the thread
// that creates it (the main thread).
//
// One callback per batch of events that held at least one add or remove, however many devices it
// carried; devices present at construction produce none. It does not say which device changed:
// the owner lists again and compares. A re-enumerated camera shows up as removes and adds.
//
// Where udev cannot be reached (a container without udev, no netlink socket) the notifier stays
// inert: no callback, active() false, and one warning in the log naming the call that failed.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace velto::usb {

class UdevNotifier {
 public:
  // Needs a running Qt event loop in this thread for callbacks to arrive.
  explicit UdevNotifier(std::function<void()> onChange);
  ~UdevNotifier();
  UdevNotifier(const UdevNotifier&) = delete;
  UdevNotifier& operator=(const UdevNotifier&) = delete;

  // True when the monitor is listening.
  bool active() const { return monitor_ != nullptr; }

 private:
  // Drains every queued event; calls onChange_ once if any was an add or a remove.
  void drain();

  std::function<void()> onChange_;  // main thread
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velto::usb
