// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One opened USB camera: which controls it offers, their ranges and values, and the only way the
// application writes to it. Every operation is synchronous and may block for the request
// time-outs of each request it sends (one second at most per request); the store runs them on its
// I/O queue, never on the main thread. Holds no main-thread state.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cuvc/cuvc.h"
#include "platform/usb/registry.h"
#include "platform/usb/service.h"
#include "platform/usb/status.h"
#include "uvc/camera_key.h"
#include "uvc/controls.h"

namespace velto {

class UVCDevice;

// Opening a device: the device, or why there is none.
struct OpenResult {
  std::shared_ptr<UVCDevice> device;
  usb::Status status = usb::status::success;  // not success exactly when there is no device
  std::string path;                           // the node that refused, when one did
};

class UVCDevice {
 public:
  // The vendor extension unit's GUID in descriptor byte order.
  static const std::array<std::uint8_t, 16> ankerExtensionGUID;

  // Opens every listed device that has a VideoControl interface, whatever its vendor; devices
  // that cannot be opened are left out. Takes no lock; any thread.
  static std::vector<std::shared_ptr<UVCDevice>> connected(std::span<const usb::Service> services);
  // The same over every device the registry lists. Blocks while it talks to them: I/O queue only.
  static std::vector<std::shared_ptr<UVCDevice>> connected(const usb::RegistryOptions& options);

  // Opens one device, or says why it cannot (gone, permission denied, busy, not a camera). Blocks
  // for about one request time-out at most. Any thread.
  static OpenResult open(const usb::Service& service);
  // open() without the reason.
  static std::shared_ptr<UVCDevice> create(const usb::Service& service) { return open(service).device; }

  // The name a listed device is shown under: its product string, else "UVC Camera 291a:3369".
  static std::string displayName(const usb::Service& service);

  // How many devices this process has opened; for measuring that a rescan opens nothing new.
  static std::uint64_t openCount() { return opened_.load(); }

  ~UVCDevice();  // closes the transport handle
  UVCDevice(const UVCDevice&) = delete;
  UVCDevice& operator=(const UVCDevice&) = delete;

  const std::string& name() const { return name_; }
  CameraKey key() const { return key_; }
  std::uint32_t locationID() const { return info_.locationID; }
  std::uint64_t registryID() const { return registryID_; }
  usb::CarrierKind carrier() const { return carrier_; }
  const cuvc_info& info() const { return info_; }
  // The controls this camera offers, in catalogue order.
  const std::vector<ControlID>& supported() const { return supported_; }
  bool supports(ControlID id) const;
  // True for the C200 recognised by its IDs and its extension unit's GUID.
  bool isAnkerC200() const { return anker_; }

  // A request that times out means the camera is hung: each operation then stops asking and
  // returns what it has (a write reports the rest as failed with the time-out status), so a hung
  // camera costs one time-out per operation, not one per control. `cutShort`, where offered,
  // receives the time-out status when that happened and success otherwise.

  // Ranges of the supported controls: fixed for the vendor controls, asked of the camera for the
  // others; a control whose range cannot be learned is left out. The auto-exposure mode, which
  // has no minimum or maximum, also gets the camera's mode bitmap (GET_RES) as its `modes`.
  ControlRanges readRanges(usb::Status* cutShort = nullptr) { return readRanges(supported_, cutShort); }

  // Current values of the supported readable controls (never hdr); failed reads are left out, so
  // an unplugged camera gives an empty map.
  ControlValues readAll(usb::Status* cutShort = nullptr) { return readAll(supported_, cutShort); }

  // The same for `controls` only (those the camera does not offer are skipped): a command that
  // names a few controls asks a slow camera for those, not for all of them.
  ControlRanges readRanges(std::span<const ControlID> controls, usb::Status* cutShort = nullptr);
  ControlValues readAll(std::span<const ControlID> controls, usb::Status* cutShort = nullptr);

  // Writes `values` in catalogue order, one SET_CUR per shared request; controls the camera does
  // not offer are skipped silently. A value that fills only part of a shared payload (pan beside
  // tilt, the vendor unit's 60 bytes) is written over the payload read back first; when that read
  // fails the request is not sent and its controls fail with the read's status, because the rest
  // of the payload would be invented. Returns the controls whose request failed (a failed shared
  // request reports every control of the batch that was in it). No retries, no rollback.
  // `statuses`, when given, receives the status of every failed control (in the returned order).
  std::vector<ControlID> write(const ControlValues& values, std::vector<usb::Status>* statuses = nullptr);

  // The current value of one control; none on failure and for a control the camera does not offer.
  // `status`, when given, receives the request's status (unsupported for such a control).
  std::optional<std::int64_t> read(ControlID id, usb::Status* status = nullptr);

  // Change notices: the descriptor to wait on for them (subscribing the first time), none when
  // the camera's carrier sends none. takeChangedControls() then names the controls changed since
  // it was last called (every control of a shared request: pan and tilt, the vendor unit's), or
  // gives none once no notice will come any more. Neither waits for the camera.
  usb::NoticeSource noticeSource();
  std::optional<std::vector<ControlID>> takeChangedControls();
  // The readable controls whose changes the notices do not tell of: every one without notices.
  // Call after noticeSource().
  std::vector<ControlID> untoldControls();
  // Where a stream started by any program shows (platform/usb/stream_watch.h); empty when the
  // camera's carrier cannot tell.
  usb::StreamSigns streamSigns();

  // Makes the camera leave the bus and return. This object is stale afterwards.
  usb::Status reenumerate();

  // True when the last request sent to the camera timed out: it is hung until it answers again.
  // Any thread; lets a program that is quitting skip writes that would only wait out a time-out.
  bool unresponsive() const { return unresponsive_.load(); }

 private:
  UVCDevice(cuvc_handle* handle, const cuvc_info& info, const usb::Service& service);
  std::uint8_t unitID(UnitKind unit) const;
  // Whether `list` (notices, or the controls they cover) names the request that carries `id`.
  bool isNamedIn(std::span<const cuvc_notice> list, ControlID id) const;
  // Sends one read request for `spec`'s control; the payload on success. Caller holds lock_.
  std::optional<std::vector<std::uint8_t>> get(std::uint8_t request, const ControlSpec& spec,
                                              usb::Status* status = nullptr);
  // Notes whether a request's status says the camera is hung; returns the status.
  usb::Status observe(usb::Status status);

  static std::atomic<std::uint64_t> opened_;

  std::string name_;
  CameraKey key_;
  std::uint64_t registryID_ = 0;
  usb::CarrierKind carrier_ = usb::CarrierKind::sim;
  bool anker_ = false;
  std::atomic<bool> unresponsive_ = false;
  std::vector<ControlID> supported_;
  cuvc_info info_{};
  cuvc_handle* handle_ = nullptr;  // owned
  std::mutex lock_;                // held for the whole of every operation that talks to the camera
};

}  // namespace velto
