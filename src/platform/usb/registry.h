// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The USB device registry: every device the system can reach, as Services: the simulated cameras
// of a socket directory and the cameras the kernel knows (sysfs_registry.h: v4l2 and libusb
// carriers).
//
// Listing talks to every simulated camera (a handshake each), so it blocks for up to about one
// request time-out per camera that does not answer; call it on an I/O queue, not the main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/usb/service.h"

namespace velto::usb {

struct RegistryOptions {
  // Where simulated cameras publish their sockets; empty: none are listed.
  std::string simDirectory;
  // Where sysfs is mounted, for the cameras the kernel knows; empty: none are listed.
  std::string sysfsRoot = {};
  // Further devices, listed last: for tests that need a device no kernel of theirs would give them
  // (one whose node refuses to open, say). Any thread.
  std::function<std::vector<Service>()> extra = {};
};

// The options of a normal run: the simulated cameras' directory when they were asked for and it is
// trusted (simulatedCameraDirectory(), sim_directory.h), and /sys (or $VELTO_SYSFS_ROOT, which
// tests of whole programs point at an empty directory).
RegistryOptions defaultRegistryOptions();

// Every device of every source, simulated cameras first, each source in a stable order.
std::vector<Service> listServices(const RegistryOptions& options = defaultRegistryOptions());

// The simulated cameras plugged in under `directory`, ordered by socket name. A socket whose
// simulator is gone (stale file, no listener) or that does not complete the handshake is not
// listed. Each Service's connect() reaches the same enumeration only: once the camera has
// re-enumerated (a new registry ID behind the same path) it returns null.
std::vector<Service> listSimServices(const std::string& directory);

}  // namespace velto::usb
