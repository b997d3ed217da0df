// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Tells its owner that the set of USB devices may have changed, so that it lists the cameras
// again. It says neither which device changed nor how: the owner re-lists everything and
// compares. Sources: the simulated cameras' directory, and on a real system the kernel's
// hot-plug events.
//
// Main thread only: created, used and destroyed there; the callback runs there, once per
// notification that delivered at least one device, never for devices present at construction.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velto {

namespace usb {
class SimWatch;
class UdevNotifier;
struct RegistryOptions;
}

class USBMonitor {
 public:
  // Watches what a registry listing with `options` would list: the simulated cameras' directory
  // when it is set, the kernel's devices when a sysfs root is set.
  USBMonitor(std::function<void()> onChange, const usb::RegistryOptions& options);
  ~USBMonitor();
  USBMonitor(const USBMonitor&) = delete;
  USBMonitor& operator=(const USBMonitor&) = delete;

 private:
  std::function<void()> onChange_;
  std::unique_ptr<usb::SimWatch> simWatch_;
  std::unique_ptr<usb::UdevNotifier> udev_;
};

}  // namespace velto
