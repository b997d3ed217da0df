// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The "sim" carrier: a client of a simulated camera's device socket (docs/simcam-protocol.md).
//
// It connects, does the versioned handshake and keeps the device description the camera sent
// (IDs, location, registry ID, product name, configuration descriptor), as the system's registry
// would. Control requests travel as messages; the carrier enforces the request's time-outs itself
// with poll(), so a hung or slow camera costs at most completionTimeout and yields
// status::timeout, and a late answer is recognised by its tag and dropped. Once the camera has
// closed the connection (unplugged, re-enumerated, simulator gone) every request fails with
// status::noDevice. Follows the contract of carrier.h: no locks, one owner serialises all calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/usb/carrier.h"
#include "platform/usb/simcam_protocol.h"

namespace velto::usb {

class SimCarrier final : public Carrier {
 public:
  // Time for connecting and the handshake when the caller gives none.
  static constexpr int kConnectTimeoutMs = 1000;

  // Connects to the camera at `socketPath` and reads its description. Null when the socket is
  // missing or stale, the handshake fails or times out; `status`, when given, tells why
  // (status::noDevice, status::timeout, status::unsupported for a version mismatch, ...).
  // Blocks for at most `timeoutMs`.
  static std::unique_ptr<SimCarrier> connect(const std::string& socketPath, Status* status = nullptr,
                                             int timeoutMs = kConnectTimeoutMs);

  ~SimCarrier() override;

  const simcam::DeviceInfo& description() const { return info_; }

  Status configurationDescriptor(std::vector<std::uint8_t>& out) override;
  std::uint16_t vendorID() const override { return info_.vendorID; }
  std::uint16_t productID() const override { return info_.productID; }
  std::uint32_t locationID() const override { return info_.locationID; }
  Status deviceRequest(DeviceRequest& request) override;
  // A simulated camera has no other clients to exclude: open() succeeds while it is present.
  Status open() override;
  Status reenumerate() override;
  void close() override { open_ = false; }
  // A second connection to the camera, on which it tells of every change to its controls.
  NoticeSource noticeSource() override;
  Notices takeNotices() override;
  // The files beside the socket that stand for the camera's video node and for its streaming
  // interface's alternate setting: "<directory>/<id>.video" and "<directory>/<id>.alt".
  StreamSigns streamSigns() override;

 private:
  explicit SimCarrier(int fd) : fd_(fd) {}
  Status send(const simcam::Message& message, std::int64_t deadline);
  // Waits for the next message; gives up when nothing arrived for `noDataMs` or at `deadline`
  // (monotonic milliseconds).
  Status receive(simcam::Message& out, int noDataMs, std::int64_t deadline);
  void drop();  // the camera is gone

  std::string socketPath_;
  int fd_ = -1;
  simcam::FrameReader reader_;
  std::unique_ptr<SimCarrier> notices_;  // the notice connection, once asked for
  bool noticesAsked_ = false;
  simcam::DeviceInfo info_;
  std::uint32_t lastTag_ = 0;
  bool open_ = false;
};

}  // namespace velto::usb
