// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The device carrier: the one seam between the USB transport (cuvc) and whatever actually moves
// bytes to a camera. A carrier is to us what the platform's USB device interface is elsewhere: it
// hands out the raw configuration descriptor and the device's IDs, performs default-pipe control
// requests with time-outs, and re-enumerates the device.
//
// Implementations: "sim" (a simulated camera over a Unix socket), "v4l2" (the camera is owned by
// uvcvideo; requests are served through its ioctls), "libusb" (endpoint-0 control transfers).
//
// Contract, for every implementation:
// - Results. Every operation that can fail returns a Status (status.h); 0 is success. Errors are
//   translated into that space inside the carrier and nowhere else. A carrier never throws.
// - Blocking. Every call is synchronous. deviceRequest() returns within the request's time-outs:
//   when no data has moved after noDataTimeout ms, or the whole exchange has not finished after
//   completionTimeout ms, it gives up with status::timeout, even when the device never answers.
//   A time-out of 0 means the transport's normal bound (500 ms without data, 1000 ms in all),
//   never "no limit". Other calls return within about the same bound.
// - Threads. A carrier holds no lock of its own and is not re-entrant: its owner serialises every
//   call on one carrier (cuvc's caller holds one lock around each device operation). Different
//   carriers are independent and may be used from different threads at once.
// - Lifetime. Once the device has gone (unplugged, re-enumerated) every request fails, typically
//   with status::noDevice, until the owner destroys the carrier. Destruction releases everything,
//   closing the device first if it is open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb/status.h"

namespace velto::usb {

// One default-pipe control request, laid out like a USB setup packet plus what the host needs.
struct DeviceRequest {
  std::uint8_t bmRequestType = 0;  // bit 7: direction (1 = device to host)
  std::uint8_t bRequest = 0;
  std::uint16_t wValue = 0;
  std::uint16_t wIndex = 0;
  std::uint16_t wLength = 0;
  void* pData = nullptr;           // wLength bytes; read from for OUT, written to for IN
  std::uint32_t wLenDone = 0;      // bytes actually moved, set by the carrier
  std::uint32_t noDataTimeout = 0;      // ms without any data before giving up; 0: 500
  std::uint32_t completionTimeout = 0;  // ms for the whole exchange; 0: 1000

  bool isDeviceToHost() const { return (bmRequestType & 0x80) != 0; }
};

// A control as a request names it: the unit or terminal ID (wIndex's high byte) and the control
// selector (wValue's high byte).
struct ControlNotice {
  std::uint8_t unit = 0;
  std::uint8_t selector = 0;
  friend bool operator==(const ControlNotice&, const ControlNotice&) = default;
};

// Where a carrier's change notices can be waited for: a descriptor that polls readable (POLLIN),
// or with `priority` has priority data (POLLPRI), while notices wait. fd -1: none. The notices
// tell of changes to every control (`coversAll`) or to those in `covers` only.
struct NoticeSource {
  int fd = -1;
  bool priority = false;
  bool coversAll = false;
  std::vector<ControlNotice> covers;
};

// Controls the device says have changed. `ended`: no notice will come any more (the device has
// gone, or the channel broke); stop waiting for them.
struct Notices {
  std::vector<ControlNotice> changed;
  bool ended = false;
};

// Where another program's stream from the device shows without streaming from it: the file such
// a program opens first (the video node), and the attribute that holds the streaming interface's
// current alternate setting, which is not 0 while the device streams. Empty: not known.
struct StreamSigns {
  std::string node;
  std::string alternateSetting;
  bool empty() const { return node.empty() || alternateSetting.empty(); }
};

class Carrier {
 public:
  virtual ~Carrier() = default;

  // Copies configuration descriptor 0 (wTotalLength bytes as the device reports them) into `out`.
  virtual Status configurationDescriptor(std::vector<std::uint8_t>& out) = 0;

  // The device's idVendor, idProduct and location ID, as known when the carrier was created.
  virtual std::uint16_t vendorID() const = 0;
  virtual std::uint16_t productID() const = 0;
  virtual std::uint32_t locationID() const = 0;

  // Performs one control request on the default pipe. For an IN request up to wLength bytes are
  // written to pData; a short transfer is not an error (wLenDone tells how many arrived). A
  // request the device refuses answers status::pipeStalled.
  virtual Status deviceRequest(DeviceRequest& request) = 0;

  // Opens the device for exclusive use; fails with status::exclusiveAccess when another client
  // holds it. Control requests do not need it; re-enumeration does.
  virtual Status open() = 0;

  // Makes the device leave the bus and come back as a new enumeration. Requires open().
  virtual Status reenumerate() = 0;

  // Ends the exclusive use started by open(); harmless when not open.
  virtual void close() = 0;

  // Change notices: whether the device tells of changes to its controls made by other programs
  // or by the camera itself (the auto modes), so that they need not be polled for. The first call
  // subscribes; the source stays valid, and its descriptor open, until the carrier is destroyed.
  // Notices of the caller's own writes may or may not come. Carriers without them keep the
  // default: no source.
  virtual NoticeSource noticeSource() { return {}; }
  // The notices that have arrived, without waiting; none before noticeSource() was called.
  virtual Notices takeNotices() { return {}; }

  // Where a stream started by any program shows (stream_watch.h); carriers that cannot tell keep
  // the default: none.
  virtual StreamSigns streamSigns() { return {}; }
};

}  // namespace velto::usb
