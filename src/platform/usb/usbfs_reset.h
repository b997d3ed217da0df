// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// USB re-enumeration of a device whose interfaces belong to kernel drivers: a port reset through
// the device's usbfs node (/dev/bus/usb/BBB/DDD). The kernel unbinds the drivers that cannot
// survive a reset (uvcvideo among them), resets the port and binds them again, so the camera's
// video node leaves and comes back, usually under a new number.
//
// Needs write access to the node: the udev rule in packaging/ grants it to the logged-in user;
// without it open() answers status::notPrivileged. Failing calls are logged here, with the node's
// path. Not thread-safe; the owning carrier serialises.
#pragma once

#include <string>

#include "platform/usb/status.h"
#include "platform/usb/system_calls.h"

namespace velto::usb {

class UsbfsReset {
 public:
  UsbfsReset(SystemCalls& calls, std::string nodePath);
  ~UsbfsReset();
  UsbfsReset(const UsbfsReset&) = delete;
  UsbfsReset& operator=(const UsbfsReset&) = delete;

  // Opens the node read-write. Opening an open node succeeds and does nothing. ENOENT (the device
  // left) answers status::noDevice, EACCES status::notPrivileged.
  Status open();

  // USBDEVFS_RESET; blocks while the kernel resets the port (tens of milliseconds). The ioctl's
  // errno becomes the status. status::badArgument when not open.
  Status reset();

  // Harmless when not open.
  void close();

  bool isOpen() const { return fd_ >= 0; }

 private:
  SystemCalls& calls_;
  std::string nodePath_;
  int fd_ = -1;
};

}  // namespace velto::usb
