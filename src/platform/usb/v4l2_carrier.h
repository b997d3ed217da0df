// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The v4l2 carrier: the usual Linux case, a camera whose VideoControl interface belongs to
// uvcvideo. usbfs refuses interface requests then (EBUSY), and detaching the driver would kill the
// picture, so every class request is served by the driver instead:
// - extension-unit requests go out unchanged through UVCIOC_CTRL_QUERY (the driver insists on
//   the control's exact length: 60 bytes for the C200's vendor controls);
// - camera-terminal and processing-unit requests become V4L2 control calls (v4l2_controls.h),
//   and their answers are laid out as the camera would have sent them;
// - anything else (other interfaces, standard requests, GET_LEN/GET_INFO of translated controls)
//   answers status::unsupported, because the driver cannot express it.
// The raw descriptors come from sysfs, read once when the carrier is made. Re-enumeration is a
// usbfs reset (usbfs_reset.h). Every failing system call is logged here, once, with its path.
//
// Blocking: requests are synchronous ioctls. uvcvideo bounds each exchange with the camera itself
// (its own control time-out, several seconds), so a hung camera can hold a call longer than the
// request's completion time-out; there is no way to abandon an ioctl in flight.
//
// Not thread-safe (see carrier.h): the owner serialises every call.
#pragma once

#include <memory>
#include <string>

#include "platform/usb/carrier.h"
#include "platform/usb/descriptor_walk.h"
#include "platform/usb/service.h"
#include "platform/usb/sysfs_device.h"
#include "platform/usb/system_calls.h"
#include "platform/usb/usbfs_reset.h"

namespace velto::usb {

struct V4l2Mapping;

class V4l2Carrier final : public Carrier {
 public:
  // Reads the device's descriptors and opens its capture node: a V4l2Carrier, or why not. The
  // descriptors unreadable: their errno's status and the file's path; no VideoControl interface:
  // status::unsupported; a node that refuses to open: its errno's status (notPrivileged,
  // exclusiveAccess, ...) and its path ("/dev/video2"); no node at all: status::noDevice.
  static Connection create(const SysfsDevice& device, SystemCalls& calls = SystemCalls::real());
  ~V4l2Carrier() override;

  Status configurationDescriptor(std::vector<std::uint8_t>& out) override;
  std::uint16_t vendorID() const override { return device_.vendorID; }
  std::uint16_t productID() const override { return device_.productID; }
  std::uint32_t locationID() const override { return device_.locationID; }
  Status deviceRequest(DeviceRequest& request) override;
  Status open() override;
  Status reenumerate() override;
  void close() override;
  // uvcvideo's control events: one subscription per translated control the driver has, on the
  // node's file. The driver sends them for changes other programs make and for the camera's own
  // (auto-update) changes, never for ours; the vendor unit's controls have none. The source is a
  // second descriptor of that file, so it outlives the node being looked for again.
  NoticeSource noticeSource() override;
  Notices takeNotices() override;
  // The capture node, and the streaming interface's bAlternateSetting in sysfs.
  StreamSigns streamSigns() override;

  // The capture node in use ("/dev/video0"); empty while none is open.
  const std::string& nodePath() const { return nodePath_; }

 private:
  V4l2Carrier(const SysfsDevice& device, SystemCalls& calls, std::vector<std::uint8_t> configuration,
              VideoControlLayout layout);

  // Opens the lowest-numbered node under the VideoControl interface that captures video. On
  // failure `refused`, when given, receives the path of the first node that would not open.
  Status findNode(std::string* refused = nullptr);
  void closeNode();
  Status serve(DeviceRequest& request);
  Status queryExtensionUnit(DeviceRequest& request);
  Status getCurrent(const V4l2Mapping& mapping, std::span<std::uint8_t> payload);
  Status setCurrent(const V4l2Mapping& mapping, std::span<const std::uint8_t> payload);
  Status getRange(const V4l2Mapping& mapping, std::uint8_t request, std::span<std::uint8_t> payload);
  Status exposureModes(std::span<std::uint8_t> payload);
  // The status of a failed control call: EINVAL for a control the driver does not have is
  // "unsupported", not "bad argument".
  Status controlError(int err, const V4l2Mapping& mapping);
  // 0 or errno; notes an ENODEV, after which the node is looked for again. Logs the failure,
  // unless it is `answer`: the errno by which a query says "no such control".
  int control(unsigned long request, void* arg, int answer = 0);
  // The control of a mapping as a request (and a notice) names it: this camera's unit ID and the selector.
  ControlNotice noticeOf(const V4l2Mapping& mapping) const;

  SysfsDevice device_;
  SystemCalls& calls_;
  std::vector<std::uint8_t> configuration_;
  VideoControlLayout units_;
  UsbfsReset usbfs_;
  int fd_ = -1;
  std::string nodePath_;
  bool nodeGone_ = false;
  int noticeFd_ = -1;      // the duplicate handed out by noticeSource(); closed at destruction
  bool subscribed_ = false;  // noticeSource() has subscribed (on the node open then)
  bool noticesLost_ = false;  // that node file has been closed since
  std::vector<ControlNotice> covered_;  // the controls subscribed to
};

}  // namespace velto::usb
