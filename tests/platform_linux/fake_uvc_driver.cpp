// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "fake_uvc_driver.h"

#include <cerrno>
#include <cstring>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <map>
#include <optional>
#include <vector>

namespace velto::testing {
namespace {

constexpr std::uint8_t kSetCur = 0x01, kGetCur = 0x81, kGetMin = 0x82, kGetMax = 0x83;
constexpr std::uint8_t kGetRes = 0x84, kGetLen = 0x85, kGetInfo = 0x86, kGetDef = 0x87;
constexpr std::uint8_t kInfoDisabledByAuto = 0x04;

struct CidRow {
  std::uint32_t cid;
  ControlID id;
};

// uvcvideo's standard mappings for the controls the application uses.
constexpr CidRow kRows[] = {
    {V4L2_CID_EXPOSURE_AUTO, ControlID::autoExposure},
    {V4L2_CID_EXPOSURE_ABSOLUTE, ControlID::exposure},
    {V4L2_CID_FOCUS_AUTO, ControlID::autoFocus},
    {V4L2_CID_FOCUS_ABSOLUTE, ControlID::focus},
    {V4L2_CID_AUTO_WHITE_BALANCE, ControlID::autoWhiteBalance},
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, ControlID::whiteBalance},
    {V4L2_CID_POWER_LINE_FREQUENCY, ControlID::powerLineFrequency},
    {V4L2_CID_BRIGHTNESS, ControlID::brightness},
    {V4L2_CID_CONTRAST, ControlID::contrast},
    {V4L2_CID_SATURATION, ControlID::saturation},
    {V4L2_CID_SHARPNESS, ControlID::sharpness},
    {V4L2_CID_GAMMA, ControlID::gamma},
    {V4L2_CID_HUE, ControlID::hue},
    {V4L2_CID_GAIN, ControlID::gain},
    {V4L2_CID_BACKLIGHT_COMPENSATION, ControlID::backlightCompensation},
    {V4L2_CID_ZOOM_ABSOLUTE, ControlID::zoom},
    {V4L2_CID_PAN_ABSOLUTE, ControlID::pan},
    {V4L2_CID_TILT_ABSOLUTE, ControlID::tilt},
};

// uvcvideo's auto-exposure menu: index -> UVC mode bit.
constexpr std::uint8_t kModes[] = {2, 1, 4, 8};

std::optional<ControlID> controlFor(std::uint32_t cid) {
  for (const CidRow& row : kRows) {
    if (row.cid == cid) return row.id;
  }
  return std::nullopt;
}

std::optional<std::int32_t> menuIndex(std::int64_t mode) {
  for (std::int32_t i = 0; i < 4; ++i) {
    if (kModes[i] == mode) return i;
  }
  return std::nullopt;
}

// The camera's answer to a class request, or the errno uvcvideo turns its failure into.
struct Exchange {
  int err = 0;
  std::vector<std::uint8_t> data;
};

Exchange ask(sim::SimCamera& camera, std::uint8_t request, std::uint8_t unit, std::uint8_t selector,
             std::uint16_t length, std::span<const std::uint8_t> out = {}) {
  sim::Setup setup;
  setup.bmRequestType = request == kSetCur ? 0x21 : 0xA1;
  setup.bRequest = request;
  setup.wValue = static_cast<std::uint16_t>(selector << 8);
  setup.wIndex = static_cast<std::uint16_t>(unit << 8 | camera.profile().interfaceNumber);
  setup.wLength = length;
  auto reply = camera.handle(setup, out);
  if (!reply) return {ETIMEDOUT, {}};
  if (reply->status == usb::status::pipeStalled) return {EPIPE, {}};
  if (reply->status != usb::status::success) return {EIO, {}};
  return {0, std::move(reply->data)};
}

}  // namespace

int FakeUvcDriver::ioctl(unsigned long request, void* arg) {
  switch (request) {
    case VIDIOC_QUERYCAP: return queryCap(arg);
    case VIDIOC_QUERYCTRL: return queryControl(arg);
    case VIDIOC_QUERYMENU: return queryMenu(arg);
    case VIDIOC_G_EXT_CTRLS: return getControls(arg);
    case VIDIOC_S_EXT_CTRLS: return setControls(arg);
    case UVCIOC_CTRL_QUERY: return extensionQuery(arg);
    case VIDIOC_SUBSCRIBE_EVENT: return subscribe(arg);
    case VIDIOC_DQEVENT: return dequeueEvent(arg);
    default: return ENOTTY;
  }
}

int FakeUvcDriver::subscribe(void* arg) {
  const auto* sub = static_cast<const v4l2_event_subscription*>(arg);
  auto id = controlFor(sub->id);
  if (sub->type != V4L2_EVENT_CTRL || !id || camera_.profile().find(*id) == nullptr) return EINVAL;
  subscribed_.insert(sub->id);
  return 0;
}

int FakeUvcDriver::dequeueEvent(void* arg) {
  if (events_.empty()) return ENOENT;
  auto* event = static_cast<v4l2_event*>(arg);
  std::memset(event, 0, sizeof *event);
  event->type = V4L2_EVENT_CTRL;
  event->id = events_.front().first;
  event->u.ctrl.changes = V4L2_EVENT_CTRL_CH_VALUE;
  event->u.ctrl.value = events_.front().second;
  events_.pop_front();
  event->pending = static_cast<std::uint32_t>(events_.size());
  return 0;
}

void FakeUvcDriver::changedElsewhere(ControlID id, std::int32_t value) {
  for (const CidRow& row : kRows) {
    if (row.id == id && subscribed_.contains(row.cid)) events_.emplace_back(row.cid, value);
  }
}

int FakeUvcDriver::queryCap(void* arg) {
  auto* cap = static_cast<v4l2_capability*>(arg);
  std::memset(cap, 0, sizeof *cap);
  std::strcpy(reinterpret_cast<char*>(cap->driver), "uvcvideo");
  cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                      V4L2_CAP_DEVICE_CAPS;
  cap->device_caps = metadata_ ? V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
                               : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  return 0;
}

int FakeUvcDriver::queryControl(void* arg) {
  auto* q = static_cast<v4l2_queryctrl*>(arg);
  auto id = controlFor(q->id);
  const sim::WireControl* wire = id ? camera_.profile().find(*id) : nullptr;
  if (wire == nullptr) return EINVAL;
  const ControlSpec& s = spec(*id);
  auto field = [&](std::uint8_t request, std::int32_t& into) {
    Exchange e = ask(camera_, request, wire->unitID, wire->selector, wire->length);
    if (e.err == 0) into = static_cast<std::int32_t>(s.decode(e.data));
    return e.err;
  };
  const std::uint32_t cid = q->id;
  std::memset(q, 0, sizeof *q);
  q->id = cid;
  if (*id == ControlID::autoExposure) {
    std::int32_t mode = 0;
    if (int err = field(kGetDef, mode)) return err;
    q->type = V4L2_CTRL_TYPE_MENU;
    q->minimum = 0;
    q->maximum = 3;
    q->step = 1;
    q->default_value = menuIndex(mode).value_or(0);
    return 0;
  }
  q->type = s.length == 1 && (*id == ControlID::autoFocus || *id == ControlID::autoWhiteBalance)
                ? V4L2_CTRL_TYPE_BOOLEAN
                : V4L2_CTRL_TYPE_INTEGER;
  if (int err = field(kGetMin, q->minimum)) return err;
  if (int err = field(kGetMax, q->maximum)) return err;
  if (int err = field(kGetRes, q->step)) return err;
  if (int err = field(kGetDef, q->default_value)) return err;
  return 0;
}

int FakeUvcDriver::queryMenu(void* arg) {
  auto* m = static_cast<v4l2_querymenu*>(arg);
  if (m->id != V4L2_CID_EXPOSURE_AUTO || m->index > 3) return EINVAL;
  const sim::WireControl* wire = camera_.profile().find(ControlID::autoExposure);
  if (wire == nullptr) return EINVAL;
  Exchange e = ask(camera_, kGetRes, wire->unitID, wire->selector, wire->length);
  if (e.err != 0) return e.err;
  // Modes the camera does not offer are masked out of the menu.
  if ((e.data.at(0) & kModes[m->index]) == 0) return EINVAL;
  static const char* const kNames[] = {"Auto Mode", "Manual Mode", "Shutter Priority Mode",
                                       "Aperture Priority Mode"};
  std::strncpy(reinterpret_cast<char*>(m->name), kNames[m->index], sizeof m->name - 1);
  return 0;
}

int FakeUvcDriver::getControls(void* arg) {
  auto* q = static_cast<v4l2_ext_controls*>(arg);
  for (std::uint32_t i = 0; i < q->count; ++i) {
    v4l2_ext_control& c = q->controls[i];
    auto id = controlFor(c.id);
    const sim::WireControl* wire = id ? camera_.profile().find(*id) : nullptr;
    if (wire == nullptr) {
      q->error_idx = i;
      return EINVAL;
    }
    Exchange e = ask(camera_, kGetCur, wire->unitID, wire->selector, wire->length);
    if (e.err != 0) {
      q->error_idx = i;
      return e.err;
    }
    const std::int64_t v = spec(*id).decode(e.data);
    c.value = *id == ControlID::autoExposure ? menuIndex(v).value_or(0) : static_cast<std::int32_t>(v);
  }
  return 0;
}

int FakeUvcDriver::setControls(void* arg) {
  auto* q = static_cast<v4l2_ext_controls*>(arg);
  // Like uvcvideo, controls sharing one UVC control are merged into one SET_CUR, starting from
  // its current value.
  std::map<const sim::WireControl*, std::vector<std::uint8_t>> payloads;
  for (std::uint32_t i = 0; i < q->count; ++i) {
    const v4l2_ext_control& c = q->controls[i];
    auto id = controlFor(c.id);
    const sim::WireControl* wire = id ? camera_.profile().find(*id) : nullptr;
    q->error_idx = i;
    if (wire == nullptr) return EINVAL;
    Exchange info = ask(camera_, kGetInfo, wire->unitID, wire->selector, 1);
    if (info.err != 0) return info.err;
    // The camera refuses a control its auto mode owns ("wrong state"); uvcvideo says EACCES.
    if ((info.data.at(0) & kInfoDisabledByAuto) != 0) return EACCES;
    std::int64_t value = c.value;
    if (*id == ControlID::autoExposure) {
      if (c.value < 0 || c.value > 3) return ERANGE;
      value = kModes[c.value];
    }
    auto [it, fresh] = payloads.try_emplace(wire);
    if (fresh) {
      Exchange cur = ask(camera_, kGetCur, wire->unitID, wire->selector, wire->length);
      if (cur.err != 0) return cur.err;
      it->second = std::move(cur.data);
    }
    spec(*id).encode(value, it->second);
  }
  for (auto& [wire, payload] : payloads) {
    Exchange e = ask(camera_, kSetCur, wire->unitID, wire->selector, wire->length, payload);
    // A stalled SET_CUR whose error code says "out of range".
    if (e.err == EPIPE) return ERANGE;
    if (e.err != 0) return e.err;
  }
  return 0;
}

int FakeUvcDriver::extensionQuery(void* arg) {
  auto* q = static_cast<uvc_xu_control_query*>(arg);
  const sim::WireControl* wire = nullptr;
  for (const sim::WireControl& w : camera_.profile().controls) {
    const bool vendor = w.fields.empty() || spec(w.fields.front().id).unit == UnitKind::ankerExtension;
    if (vendor && w.unitID == q->unit && w.selector == q->selector) wire = &w;
  }
  if (wire == nullptr) return ENOENT;  // no such extension unit or control
  std::uint16_t expected = wire->length;
  if (q->query == kGetLen) expected = 2;
  if (q->query == kGetInfo) expected = 1;
  if (q->size != expected) return ENOBUFS;
  std::span<const std::uint8_t> out;
  if (q->query == kSetCur) out = std::span<const std::uint8_t>(q->data, q->size);
  Exchange e = ask(camera_, q->query, q->unit, q->selector, q->size, out);
  if (e.err != 0) return e.err;
  if (q->query != kSetCur) std::memcpy(q->data, e.data.data(), std::min<std::size_t>(e.data.size(), q->size));
  return 0;
}

}  // namespace velto::testing
