// The libusb carrier: wire-level access for a camera whose VideoControl interface has no kernel
// driver. Control requests are endpoint-0 transfers through usbfs, the configuration descriptor
// is read from the device with a standard GET_DESCRIPTOR, and re-enumeration is
// libusb_reset_device.
//
// Each carrier has a libusb context of its own, so creating one enumerates the bus afresh and
// always sees the device as it is now. libusb's errors are translated once, here.
//
// Blocking: libusb has a single time-out per transfer; requests use their completion time-out
// (the 1000 ms bound of the whole exchange), so a silent device is given up after that. Not
// thread-safe (see carrier.h): the owner serialises every call.
#pragma once

#include <memory>

#include "platform/usb/carrier.h"

struct libusb_context;
struct libusb_device_handle;

namespace velto::usb {

// A libusb error code as a Status; 0 and positive counts are success.
Status fromLibusb(int error);

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

  // Finds the device at `busnum`/`devnum` and opens it. Null when it is not there
  // (status::noDevice in `why`) or cannot be opened (usually status::notPrivileged).
  static std::unique_ptr<LibusbCarrier> create(const Identity& identity, Status* why = nullptr);
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
  bool claimed_ = false;
};

}  // namespace velto::usb
