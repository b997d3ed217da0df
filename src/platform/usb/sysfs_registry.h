// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The USB devices the kernel knows, as the registry lists them: every device in sysfs whose active
// configuration has a VideoControl interface, whatever its vendor. Each is served by the v4l2
// carrier when a driver (normally uvcvideo) owns that interface, by the libusb carrier when none
// does.
//
// Listing reads sysfs only and opens no device, so it is cheap and never needs permissions; it may
// run on any thread. Devices that vanish or have unreadable attributes while being listed are left
// out.
#pragma once

#include <string>
#include <vector>

#include "platform/usb/service.h"
#include "platform/usb/sysfs_device.h"
#include "platform/usb/system_calls.h"

namespace velto::usb {

class SysfsRegistry {
 public:
  // `sysfsRoot` is where sysfs is mounted (RegistryOptions::sysfsRoot: /sys, or a test's tree);
  // there is no default, so that nothing lists the machine's devices behind the options' back.
  // `calls` is handed to the v4l2 carriers created by the listed services and must outlive them.
  explicit SysfsRegistry(std::string sysfsRoot, SystemCalls& calls = SystemCalls::real());

  // Every camera, ordered by bus and device number.
  std::vector<SysfsDevice> devices() const;

  // The same cameras as services whose connect() creates their carrier.
  std::vector<Service> services() const;

  // The carrier that serves `device`.
  static CarrierKind carrierFor(const SysfsDevice& device);

 private:
  std::string root_;
  SystemCalls* calls_;
};

}  // namespace velto::usb
