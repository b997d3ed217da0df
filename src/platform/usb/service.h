// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A USB device as the registry lists it: its identity and where it sits, and a way to reach it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/usb/carrier.h"

namespace velto::usb {

enum class CarrierKind : std::uint8_t { sim, v4l2, libusb };

// "sim", "v4l2" or "libusb".
std::string_view carrierName(CarrierKind kind);

// The outcome of reaching a device: a carrier, or the reason there is none. `path` names the node
// that refused (a video or usbfs node, a socket) when one did, so that the user can be told which
// file's permissions to fix.
struct Connection {
  std::unique_ptr<Carrier> carrier;
  Status status = status::noDevice;  // success exactly when there is a carrier
  std::string path;

  Connection() = default;
  Connection(std::unique_ptr<Carrier> c)  // NOLINT(google-explicit-constructor): a carrier is a success
      : carrier(std::move(c)), status(carrier ? status::success : status::noDevice) {}
  static Connection failed(Status why, std::string node = {}) {
    Connection c;
    c.status = why;
    c.path = std::move(node);
    return c;
  }
};

struct Service {
  // Unique for one enumeration of the device: a re-enumerated device comes back with a new one.
  std::uint64_t registryID = 0;
  std::uint16_t vendorID = 0;
  std::uint16_t productID = 0;
  // Bus number in the top byte, then one nibble per port of the port chain from bit 20 down.
  std::uint32_t locationID = 0;
  // The device's product string; absent when the device has none.
  std::optional<std::string> productName;
  CarrierKind carrier = CarrierKind::sim;
  // Where the carrier finds the device: a socket path, a sysfs directory.
  std::string path;

  // Creates a carrier for this device, or says why it cannot (gone, no permission, busy). May
  // block for about one request time-out. Safe to call from any thread.
  std::function<Connection()> connect;
};

}  // namespace velto::usb
