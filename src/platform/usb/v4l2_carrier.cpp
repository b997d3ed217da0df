// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/v4l2_carrier.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <filesystem>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <utility>
#include <vector>

#include "platform/usb/v4l2_controls.h"
#include "support/log.h"

namespace velto::usb {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kSetCur = 0x01, kGetCur = 0x81, kGetMin = 0x82, kGetMax = 0x83;
constexpr std::uint8_t kGetRes = 0x84, kGetDef = 0x87;
constexpr std::uint8_t kClassInterface = 0x21;  // bmRequestType without its direction bit

// The video4linux children of the VideoControl interface, lowest number first. uvcvideo creates
// a capture node and, on newer kernels, a metadata node beside it.
std::vector<std::pair<int, std::string>> videoNodes(const std::string& interfacePath) {
  std::vector<std::pair<int, std::string>> nodes;
  std::error_code ec;
  fs::directory_iterator it(interfacePath + "/video4linux", ec);
  if (ec) return nodes;
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("video")) continue;
    int number = 0;
    const char* first = name.data() + 5;
    const char* last = name.data() + name.size();
    auto [ptr, err] = std::from_chars(first, last, number);
    if (err != std::errc{} || ptr != last || first == last) continue;
    nodes.emplace_back(number, name);
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

const char* ioctlName(unsigned long request) {
  switch (request) {
    case VIDIOC_QUERYCAP: return "VIDIOC_QUERYCAP";
    case VIDIOC_QUERYCTRL: return "VIDIOC_QUERYCTRL";
    case VIDIOC_QUERYMENU: return "VIDIOC_QUERYMENU";
    case VIDIOC_G_EXT_CTRLS: return "VIDIOC_G_EXT_CTRLS";
    case VIDIOC_S_EXT_CTRLS: return "VIDIOC_S_EXT_CTRLS";
    case UVCIOC_CTRL_QUERY: return "UVCIOC_CTRL_QUERY";
    case VIDIOC_SUBSCRIBE_EVENT: return "VIDIOC_SUBSCRIBE_EVENT";
    case VIDIOC_DQEVENT: return "VIDIOC_DQEVENT";
    default: return "ioctl";
  }
}

}  // namespace

Connection V4l2Carrier::create(const SysfsDevice& device, SystemCalls& calls) {
  const std::string descriptors = device.path + "/descriptors";
  std::vector<std::uint8_t> blob, configuration;
  if (Status s = readBinaryAttribute(device.path, "descriptors", blob, calls); s != status::success) {
    return Connection::failed(s, descriptors);
  }
  if (Status s = configurationFromSysfs(blob, device.configurationValue, configuration); s != status::success) {
    log::warning(log::Layer::usb, descriptors + ": no whole configuration descriptor in it");
    return Connection::failed(s, descriptors);
  }
  auto layout = walkVideoControl(configuration);
  if (!layout) return Connection::failed(status::unsupported);
  std::unique_ptr<V4l2Carrier> carrier(new V4l2Carrier(device, calls, std::move(configuration), *layout));
  std::string refused;
  if (Status s = carrier->findNode(&refused); s != status::success) return Connection::failed(s, refused);
  return Connection(std::move(carrier));
}

V4l2Carrier::V4l2Carrier(const SysfsDevice& device, SystemCalls& calls, std::vector<std::uint8_t> configuration,
                         VideoControlLayout layout)
    : device_(device),
      calls_(calls),
      configuration_(std::move(configuration)),
      units_(layout),
      usbfs_(calls, usbfsNodePath(device.busnum, device.devnum)) {}

V4l2Carrier::~V4l2Carrier() {
  if (noticeFd_ >= 0) calls_.close(noticeFd_);
  closeNode();
  usbfs_.close();
}

Status V4l2Carrier::findNode(std::string* refused) {
  closeNode();
  // Without any node the driver is not (or no longer) bound: the camera is out of our reach.
  Status result = status::noDevice;
  for (const auto& [number, name] : videoNodes(device_.videoControlPath)) {
    const std::string path = "/dev/" + name;
    const int fd = calls_.open(path, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
      const int err = errno;
      log::systemCallFailed(log::Layer::usb, "open", path, err);
      // uvcvideo registers the capture node before the metadata node, so the first refusal is
      // most likely the capture node's: that is the one to report.
      if (result == status::noDevice) {
        result = fromErrno(err);
        if (refused != nullptr) *refused = path;
      }
      continue;
    }
    v4l2_capability cap{};
    if (calls_.ioctl(fd, VIDIOC_QUERYCAP, &cap) != 0) {
      log::systemCallFailed(log::Layer::usb, "VIDIOC_QUERYCAP", path, errno);
    } else {
      const std::uint32_t caps =
          (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
      if ((caps & V4L2_CAP_VIDEO_CAPTURE) != 0) {
        fd_ = fd;
        nodePath_ = path;
        nodeGone_ = false;
        return status::success;
      }
    }
    calls_.close(fd);
  }
  return result;
}

void V4l2Carrier::closeNode() {
  // The subscriptions go with the file.
  if (fd_ >= 0 && noticeFd_ >= 0) noticesLost_ = true;
  if (fd_ >= 0) calls_.close(fd_);
  fd_ = -1;
  nodePath_.clear();
}

Status V4l2Carrier::configurationDescriptor(std::vector<std::uint8_t>& out) {
  // The one the units were found in: a camera reconfigured since would have lost its driver, and
  // with it this carrier's node.
  out = configuration_;
  return status::success;
}

Status V4l2Carrier::deviceRequest(DeviceRequest& request) {
  request.wLenDone = 0;
  Status s = serve(request);
  // A reset or a rebind makes uvcvideo drop the node and register a new one, often under another
  // number: look once more before calling the device gone.
  if (s == status::noDevice && nodeGone_) {
    if (findNode() == status::success) s = serve(request);
  }
  return s;
}

Status V4l2Carrier::serve(DeviceRequest& request) {
  const bool in = request.isDeviceToHost();
  if ((request.bmRequestType & 0x7f) != kClassInterface || (request.wValue & 0xff) != 0 ||
      (request.wIndex & 0xff) != units_.interfaceNumber || in == (request.bRequest == kSetCur)) {
    return status::unsupported;
  }
  if (request.wLength > 0 && request.pData == nullptr) return status::badArgument;
  if (fd_ < 0) {
    nodeGone_ = true;
    return status::noDevice;
  }
  const auto unit = static_cast<std::uint8_t>(request.wIndex >> 8);
  const auto selector = static_cast<std::uint8_t>(request.wValue >> 8);
  if (units_.isExtensionUnit(unit)) return queryExtensionUnit(request);

  const V4l2Mapping* mapping = nullptr;
  if (unit != 0 && unit == units_.cameraTerminal.id) {
    mapping = findV4l2Mapping(VcUnit::cameraTerminal, selector);
  } else if (unit != 0 && unit == units_.processingUnit.id) {
    mapping = findV4l2Mapping(VcUnit::processingUnit, selector);
  }
  const std::uint8_t code = request.bRequest;
  if (mapping == nullptr || !(code == kSetCur || code == kGetCur || code == kGetMin ||
                              code == kGetMax || code == kGetRes || code == kGetDef)) {
    return status::unsupported;
  }
  // The camera answers only with the control's own length; so do we.
  if (request.wLength != mapping->length) return status::pipeStalled;

  auto* bytes = static_cast<std::uint8_t*>(request.pData);
  std::span<std::uint8_t> payload(bytes, request.wLength);
  Status s = code == kSetCur   ? setCurrent(*mapping, payload)
             : code == kGetCur ? getCurrent(*mapping, payload)
                               : getRange(*mapping, code, payload);
  if (s == status::success) request.wLenDone = request.wLength;
  return s;
}

Status V4l2Carrier::queryExtensionUnit(DeviceRequest& request) {
  uvc_xu_control_query query{};
  query.unit = static_cast<std::uint8_t>(request.wIndex >> 8);
  query.selector = static_cast<std::uint8_t>(request.wValue >> 8);
  query.query = request.bRequest;
  query.size = request.wLength;
  query.data = static_cast<std::uint8_t*>(request.pData);
  const int err = control(UVCIOC_CTRL_QUERY, &query, ENOENT);
  switch (err) {
    case 0:
      request.wLenDone = request.wLength;
      return status::success;
    case ENOENT:  // the driver knows no such control on the unit; the device is still there
      return status::unsupported;
    case ENOBUFS:  // the size is not the control's length
      return status::badArgument;
    default:
      return fromErrno(err);
  }
}

Status V4l2Carrier::getCurrent(const V4l2Mapping& mapping, std::span<std::uint8_t> payload) {
  v4l2_ext_control controls[2]{};
  controls[0].id = mapping.id;
  controls[1].id = mapping.secondID;
  v4l2_ext_controls query{};
  query.which = V4L2_CTRL_WHICH_CUR_VAL;
  query.count = mapping.secondID != 0 ? 2 : 1;
  query.controls = controls;
  if (int err = control(VIDIOC_G_EXT_CTRLS, &query); err != 0) return controlError(err, mapping);
  if (!payloadFromValues(mapping, {controls[0].value, controls[1].value}, payload)) {
    return status::error;  // a menu index uvcvideo never hands out
  }
  return status::success;
}

Status V4l2Carrier::setCurrent(const V4l2Mapping& mapping, std::span<const std::uint8_t> payload) {
  const auto values = valuesFromPayload(mapping, payload);
  if (!values) return status::badArgument;  // not a single auto-exposure mode bit
  v4l2_ext_control controls[2]{};
  controls[0].id = mapping.id;
  controls[0].value = values->first;
  controls[1].id = mapping.secondID;
  controls[1].value = values->second;
  v4l2_ext_controls query{};
  query.which = V4L2_CTRL_WHICH_CUR_VAL;
  query.count = mapping.secondID != 0 ? 2 : 1;
  query.controls = controls;
  if (int err = control(VIDIOC_S_EXT_CTRLS, &query); err != 0) return controlError(err, mapping);
  return status::success;
}

Status V4l2Carrier::getRange(const V4l2Mapping& mapping, std::uint8_t request,
                             std::span<std::uint8_t> payload) {
  if (mapping.layout == PayloadLayout::exposureMode) {
    // The mode control has no minimum or maximum: the camera stalls both, and so do we.
    if (request == kGetMin || request == kGetMax) return status::pipeStalled;
    if (request == kGetRes) return exposureModes(payload);
  }
  std::int32_t values[2]{};
  const std::uint32_t ids[2]{mapping.id, mapping.secondID};
  for (int i = 0; i < 2 && ids[i] != 0; ++i) {
    v4l2_queryctrl query{};
    query.id = ids[i];
    if (int err = control(VIDIOC_QUERYCTRL, &query, EINVAL); err != 0) {
      return err == EINVAL ? status::unsupported : fromErrno(err);
    }
    if ((query.flags & V4L2_CTRL_FLAG_DISABLED) != 0) return status::unsupported;
    switch (request) {
      case kGetMin: values[i] = query.minimum; break;
      case kGetMax: values[i] = query.maximum; break;
      case kGetRes: values[i] = query.step; break;
      default: values[i] = query.default_value; break;
    }
  }
  if (!payloadFromValues(mapping, {values[0], values[1]}, payload)) return status::error;
  return status::success;
}

Status V4l2Carrier::exposureModes(std::span<std::uint8_t> payload) {
  v4l2_queryctrl query{};
  query.id = V4L2_CID_EXPOSURE_AUTO;
  if (int err = control(VIDIOC_QUERYCTRL, &query, EINVAL); err != 0) {
    return err == EINVAL ? status::unsupported : fromErrno(err);
  }
  // uvcvideo leaves the modes the camera lacks out of the menu: QUERYMENU refuses their index.
  std::uint8_t modes = 0;
  for (std::int32_t index = std::max(query.minimum, 0); index <= std::min(query.maximum, 3); ++index) {
    v4l2_querymenu item{};
    item.id = V4L2_CID_EXPOSURE_AUTO;
    item.index = static_cast<std::uint32_t>(index);
    const int err = control(VIDIOC_QUERYMENU, &item, EINVAL);
    if (err == 0) {
      modes |= exposureModeFromMenu(index).value_or(0);
    } else if (err != EINVAL) {
      return fromErrno(err);
    }
  }
  payload[0] = modes;
  return status::success;
}

Status V4l2Carrier::controlError(int err, const V4l2Mapping& mapping) {
  if (err == EINVAL) {
    for (std::uint32_t id : {mapping.id, mapping.secondID}) {
      if (id == 0) continue;
      v4l2_queryctrl query{};
      query.id = id;
      if (control(VIDIOC_QUERYCTRL, &query, EINVAL) == EINVAL || (query.flags & V4L2_CTRL_FLAG_DISABLED) != 0) {
        return status::unsupported;
      }
    }
  }
  return fromErrno(err);
}

int V4l2Carrier::control(unsigned long request, void* arg, int answer) {
  if (calls_.ioctl(fd_, request, arg) == 0) return 0;
  const int err = errno;
  if (err == ENODEV) nodeGone_ = true;
  if (err != answer) log::systemCallFailed(log::Layer::usb, ioctlName(request), nodePath_, err);
  return err;
}

Status V4l2Carrier::open() { return usbfs_.open(); }

Status V4l2Carrier::reenumerate() {
  if (!usbfs_.isOpen()) return status::badArgument;
  const Status s = usbfs_.reset();
  // The driver lets go of the node during the reset; the next request looks for its successor.
  if (s == status::success) {
    closeNode();
    nodeGone_ = true;
  }
  return s;
}

void V4l2Carrier::close() { usbfs_.close(); }

ControlNotice V4l2Carrier::noticeOf(const V4l2Mapping& mapping) const {
  const VideoControlEntity& entity =
      mapping.unit == VcUnit::cameraTerminal ? units_.cameraTerminal : units_.processingUnit;
  return {entity.id, mapping.selector};
}

StreamSigns V4l2Carrier::streamSigns() {
  if (device_.videoStreamingPath.empty()) return {};
  return {nodePath_, device_.videoStreamingPath + "/bAlternateSetting"};
}

NoticeSource V4l2Carrier::noticeSource() {
  if (subscribed_) return noticeFd_ < 0 ? NoticeSource{} : NoticeSource{noticeFd_, true, false, covered_};
  subscribed_ = true;
  if ((fd_ < 0 || nodeGone_) && findNode() != status::success) return {};
  std::vector<ControlNotice> covered;
  for (const V4l2Mapping& mapping : v4l2Mappings()) {
    for (std::uint32_t id : {mapping.id, mapping.secondID}) {
      if (id == 0) continue;
      v4l2_event_subscription sub{};
      sub.type = V4L2_EVENT_CTRL;
      sub.id = id;
      // EINVAL: the driver has no such control on this camera.
      if (control(VIDIOC_SUBSCRIBE_EVENT, &sub, EINVAL) != 0) continue;
      const ControlNotice told = noticeOf(mapping);
      if (std::find(covered.begin(), covered.end(), told) == covered.end()) covered.push_back(told);
    }
  }
  if (covered.empty()) return {};
  noticeFd_ = calls_.duplicate(fd_);
  if (noticeFd_ < 0) {
    if (errno != ENOSYS) log::systemCallFailed(log::Layer::usb, "dup", nodePath_, errno);
    return {};
  }
  covered_ = std::move(covered);
  return {noticeFd_, true, false, covered_};
}

Notices V4l2Carrier::takeNotices() {
  Notices notices;
  if (noticeFd_ < 0) return notices;
  // The subscriptions belong to the file they were made on; a node looked for again has none.
  if (noticesLost_ || fd_ < 0 || nodeGone_) {
    notices.ended = true;
    return notices;
  }
  // Bounded, so a driver that kept sending could not hold the I/O thread here.
  for (int i = 0; i < 256; ++i) {
    v4l2_event event{};
    const int err = control(VIDIOC_DQEVENT, &event, ENOENT);
    if (err == ENOENT) break;  // none left
    if (err != 0) {
      notices.ended = true;
      break;
    }
    if (event.type != V4L2_EVENT_CTRL || (event.u.ctrl.changes & V4L2_EVENT_CTRL_CH_VALUE) == 0) continue;
    for (const V4l2Mapping& mapping : v4l2Mappings()) {
      if (event.id != mapping.id && event.id != mapping.secondID) continue;
      const ControlNotice notice = noticeOf(mapping);
      if (std::find(notices.changed.begin(), notices.changed.end(), notice) == notices.changed.end()) {
        notices.changed.push_back(notice);
      }
    }
  }
  return notices;
}

}  // namespace velto::usb
