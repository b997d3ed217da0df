// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The libusb carrier: wire-level access for a camera whose VideoControl interface has no kernel
// driver. Control requests are endpoint-0 transfers through usbfs, the configuration descriptor
// is read from the device with a standard GET_DESCRIPTOR, and re-enumeration is
// libusb_reset_device.
//
// Each carrier has a libusb context of its own, so creating one enumerates the bus afresh and
// always sees the device as it is now. libusb's errors are translated once, here, and each failing
// libusb call is logged here with the error's name.
//
// Blocking: libusb has a single time-out per transfer; requests use their completion time-out
// (the 1000 ms bound of the whole exchange), so a silent device is given up after that. Not
// thread-safe (see carrier.h): the owner serialises every call.
#pragma once

#include <memory>
#include <string>

#include "platform/usb/carrier.h"
#include "platform/usb/service.h"

struct libusb_context;
struct libusb_device_handle;

namespace velto::usb {

// A libusb error code as a Status; 0 and positive counts are success.
Status fromLibusb(int error);

// The one time-out libusb is given for `request`: its completion bound, or the transport's normal
// 1000 ms where the request leaves it 0, because libusb reads 0 as "wait forever".
unsigned transferTimeout(const DeviceRequest& request);

class LibusbCarrier final : public Carrier {
 public:
  struct Identity {
    unsigned busnum = 0;
    unsigned devnum = 0;
    std::uint16_t vendorID = 0;
    std::uint16_t productID = 0;
    std::uint32_t locationID = 0;
    int videoControlInterface = 0;  // claimed by open(), so that nobody else drives the camera
  };

  // Finds the device at `busnum`/`devnum` and opens it: a LibusbCarrier, or why not. Not on the
  // bus: status::noDevice; its usbfs node refuses: the status (usually notPrivileged) and the
  // node's path, "/dev/bus/usb/001/004".
  static Connection create(const Identity& identity);
  ~LibusbCarrier() override;

  Status configurationDescriptor(std::vector<std::uint8_t>& out) override;
  std::uint16_t vendorID() const override { return identity_.vendorID; }
  std::uint16_t productID() const override { return identity_.productID; }
  std::uint32_t locationID() const override { return identity_.locationID; }
  Status deviceRequest(DeviceRequest& request) override;
  Status open() override;
  Status reenumerate() override;
  void close() override;

 private:
  LibusbCarrier(const Identity& identity, libusb_context* context, libusb_device_handle* handle);

  Identity identity_;
  libusb_context* context_;
  libusb_device_handle* handle_;
  std::string node_;  // the usbfs node, for the log
  bool claimed_ = false;
  // The last failure of a control request: a camera that keeps failing the same way (gone, hung)
  // is logged once, not on every poll.
  int lastRequestError_ = 0;
};

}  // namespace velto::usb
