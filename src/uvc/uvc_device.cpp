// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uvc/uvc_device.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "support/log.h"

namespace velto {
namespace {

// Vendor controls' ranges are fixed: the camera is never asked for them.
std::optional<ControlRange> ankerRange(ControlID id) {
  switch (id) {
    case ControlID::horizontalFlip: return ControlRange{0, 1, 1, 0};
    case ControlID::hdr: return ControlRange{0, 1, 1, 1};
    case ControlID::micPickup: return ControlRange{0, 90, 90, 90};
    case ControlID::fieldOfView: return ControlRange{65, 95, 1, 78};
    default: return std::nullopt;
  }
}

bool bitSet(std::uint32_t bits, int bit) { return bit >= 0 && bit < 32 && ((bits >> bit) & 1u) != 0; }

}  // namespace

const std::array<std::uint8_t, 16> UVCDevice::ankerExtensionGUID = {
    0xA2, 0x9E, 0x76, 0x41, 0xDE, 0x04, 0x47, 0xE3, 0x8B, 0x2B, 0xF4, 0x34, 0x1A, 0xFF, 0x00, 0x3B};

std::vector<std::shared_ptr<UVCDevice>> UVCDevice::connected(std::span<const usb::Service> services) {
  std::vector<std::shared_ptr<UVCDevice>> devices;
  for (const usb::Service& service : services) {
    if (auto device = create(service)) devices.push_back(std::move(device));
  }
  return devices;
}

std::vector<std::shared_ptr<UVCDevice>> UVCDevice::connected(const usb::RegistryOptions& options) {
  const std::vector<usb::Service> services = usb::listServices(options);
  return connected(services);
}

std::atomic<std::uint64_t> UVCDevice::opened_{0};

OpenResult UVCDevice::open(const usb::Service& service) {
  cuvc_info info{};
  cuvc_open_failure failure{};
  cuvc_handle* handle = cuvc_open_ex(&service, &info, &failure);
  if (handle == nullptr) return OpenResult{nullptr, failure.status, failure.path};
  ++opened_;
  return OpenResult{std::shared_ptr<UVCDevice>(new UVCDevice(handle, info, service)), usb::status::success, {}};
}

std::string UVCDevice::displayName(const usb::Service& service) {
  if (service.productName) return *service.productName;
  return "UVC Camera " + CameraKey{service.vendorID, service.productID}.hexString();
}

UVCDevice::UVCDevice(cuvc_handle* handle, const cuvc_info& info, const usb::Service& service)
    : key_{info.vendorID, info.productID},
      registryID_(service.registryID),
      carrier_(service.carrier),
      info_(info),
      handle_(handle) {
  name_ = service.productName ? *service.productName : "UVC Camera " + key_.hexString();
  anker_ = info.extensionUnitID != 0 &&
           std::memcmp(info.extensionGUID, ankerExtensionGUID.data(), ankerExtensionGUID.size()) == 0 &&
           key_ == kAnkerC200;
  for (ControlID id : allControls()) {
    const ControlSpec& s = spec(id);
    bool offered = false;
    switch (s.unit) {
      case UnitKind::cameraTerminal:
        offered = info.cameraTerminalID != 0 && bitSet(info.cameraControls, s.supportBit);
        break;
      case UnitKind::processingUnit:
        offered = info.processingUnitID != 0 && bitSet(info.processingControls, s.supportBit);
        break;
      case UnitKind::ankerExtension:
        offered = anker_;
        break;
    }
    if (offered) supported_.push_back(id);
  }
}

UVCDevice::~UVCDevice() { cuvc_close(handle_); }

bool UVCDevice::supports(ControlID id) const {
  return std::find(supported_.begin(), supported_.end(), id) != supported_.end();
}

std::uint8_t UVCDevice::unitID(UnitKind unit) const {
  switch (unit) {
    case UnitKind::cameraTerminal: return info_.cameraTerminalID;
    case UnitKind::processingUnit: return info_.processingUnitID;
    case UnitKind::ankerExtension: return info_.extensionUnitID;
  }
  return 0;
}

std::optional<std::vector<std::uint8_t>> UVCDevice::get(std::uint8_t request, const ControlSpec& s,
                                                       usb::Status* statusOut) {
  std::vector<std::uint8_t> payload(static_cast<std::size_t>(s.length), 0);
  const cuvc_status status = cuvc_get(handle_, request, unitID(s.unit), s.selector, payload.data(),
                                      static_cast<std::uint16_t>(s.length), nullptr);
  if (statusOut != nullptr) *statusOut = status;
  observe(status);
  if (status != CUVC_SUCCESS) return std::nullopt;
  return payload;
}

usb::NoticeSource UVCDevice::noticeSource() {
  std::lock_guard lock(lock_);
  int priority = 0;
  const int fd = cuvc_notice_source(handle_, &priority);
  usb::NoticeSource source;
  if (fd >= 0) {
    source.fd = fd;
    source.priority = priority != 0;
  }
  return source;  // what the notices cover: untoldControls()
}

std::vector<ControlID> UVCDevice::untoldControls() {
  std::array<cuvc_notice, 64> covers{};
  int count = 0;
  {
    std::lock_guard lock(lock_);
    count = cuvc_notice_coverage(handle_, covers.data(), covers.size());
  }
  std::vector<ControlID> untold;
  if (count < 0) return untold;
  const auto told = std::span(covers).first(std::min<std::size_t>(static_cast<std::size_t>(count), covers.size()));
  for (ControlID id : supported_) {
    if (spec(id).readable && !isNamedIn(told, id)) untold.push_back(id);
  }
  return untold;
}

usb::StreamSigns UVCDevice::streamSigns() {
  std::array<char, 4096> node{}, alternateSetting{};
  std::lock_guard lock(lock_);
  if (cuvc_stream_signs(handle_, node.data(), alternateSetting.data(), node.size()) != 0) return {};
  return {node.data(), alternateSetting.data()};
}

std::optional<std::vector<ControlID>> UVCDevice::takeChangedControls() {
  std::array<cuvc_notice, 64> notices{};
  int count = 0;
  {
    std::lock_guard lock(lock_);
    count = cuvc_take_notices(handle_, notices.data(), notices.size());
  }
  if (count < 0) return std::nullopt;
  std::vector<ControlID> changed;
  for (ControlID id : supported_) {
    if (isNamedIn(std::span(notices).first(static_cast<std::size_t>(count)), id)) changed.push_back(id);
  }
  return changed;
}

bool UVCDevice::isNamedIn(std::span<const cuvc_notice> list, ControlID id) const {
  const ControlSpec& s = spec(id);
  return std::any_of(list.begin(), list.end(),
                     [&](const cuvc_notice& n) { return n.unit == unitID(s.unit) && n.selector == s.selector; });
}

usb::Status UVCDevice::observe(usb::Status status) {
  const bool hung = status == usb::status::timeout;
  // Logged on the change only: a hung camera is asked again every poll.
  if (unresponsive_.exchange(hung) != hung) {
    if (hung) {
      log::warning(log::Layer::uvc, name_ + " stopped answering (a request timed out)");
    } else {
      log::info(log::Layer::uvc, name_ + " answers again");
    }
  }
  return status;
}

ControlRanges UVCDevice::readRanges(std::span<const ControlID> controls, usb::Status* cutShort) {
  std::lock_guard guard(lock_);
  ControlRanges ranges;
  bool hung = false;
  for (ControlID id : controls) {
    if (!supports(id)) continue;
    if (auto fixed = ankerRange(id)) {
      ranges[id] = *fixed;
      continue;
    }
    const ControlSpec& s = spec(id);
    bool silent = false;
    auto decoded = [&](std::uint8_t request) -> std::optional<std::int64_t> {
      usb::Status status = usb::status::success;
      auto payload = get(request, s, &status);
      silent = silent || status == usb::status::timeout;
      if (!payload || silent) return std::nullopt;
      return s.decode(*payload);
    };
    const auto def = decoded(CUVC_GET_DEF);
    const auto min = silent ? std::nullopt : decoded(CUVC_GET_MIN);
    const auto max = min ? decoded(CUVC_GET_MAX) : std::nullopt;
    const auto res = (min && max) ? decoded(CUVC_GET_RES) : std::nullopt;
    // The auto-exposure mode answers no minimum or maximum, but its GET_RES says which modes the
    // camera offers: without it a mode the camera refuses could only be found by writing it.
    const auto modes = (!min && def && id == ControlID::autoExposure && !silent) ? decoded(CUVC_GET_RES) : std::nullopt;
    // A camera that let a request time out is hung: every further request would wait out its
    // time-out too, so the operation ends here with what it has.
    if (silent) {
      hung = true;
      break;
    }
    if (min && max) {
      ranges[id] = ControlRange{*min, *max, (res && *res > 1) ? *res : 1, def.value_or(*min)};
    } else if (def) {
      // Controls without a minimum or maximum (the auto-exposure mode) become a 0...1 switch.
      ranges[id] = ControlRange{0, 1, 1, *def, modes ? static_cast<std::uint32_t>(*modes & 0xFF) : 0u};
    }
  }
  if (cutShort != nullptr) *cutShort = hung ? usb::status::timeout : usb::status::success;
  return ranges;
}

ControlValues UVCDevice::readAll(std::span<const ControlID> controls, usb::Status* cutShort) {
  std::lock_guard guard(lock_);
  ControlValues values;
  // Controls that share a request (pan and tilt, the vendor unit's) are read with one.
  std::map<std::pair<UnitKind, std::uint8_t>, std::optional<std::vector<std::uint8_t>>> answers;
  for (ControlID id : controls) {
    const ControlSpec& s = spec(id);
    if (!s.readable || !supports(id)) continue;
    usb::Status status = usb::status::success;
    auto [answer, fresh] = answers.try_emplace({s.unit, s.selector});
    if (fresh) answer->second = get(CUVC_GET_CUR, s, &status);
    if (answer->second) values[id] = s.decode(*answer->second);
    if (status == usb::status::timeout) {
      if (cutShort != nullptr) *cutShort = status;
      return values;  // hung: see readRanges
    }
  }
  if (cutShort != nullptr) *cutShort = usb::status::success;
  return values;
}

std::vector<ControlID> UVCDevice::write(const ControlValues& values, std::vector<usb::Status>* statuses) {
  std::lock_guard guard(lock_);
  std::vector<ControlID> failed;
  std::set<std::string> written;
  bool silent = false;  // the camera let a request time out: nothing more is sent
  for (ControlID id : allControls()) {
    if (!values.contains(id) || !supports(id)) continue;
    const ControlSpec& s = spec(id);
    const std::string requestKey = std::string(unitName(s.unit)) + "/" + std::to_string(s.selector);
    if (!written.insert(requestKey).second) continue;

    std::vector<ControlID> group;
    for (ControlID member : allControls()) {
      const ControlSpec& m = spec(member);
      if (m.unit == s.unit && m.selector == s.selector && values.contains(member)) group.push_back(member);
    }

    // A value that fills only part of its payload must not clobber the rest: start from what the
    // camera holds now. When it cannot say, nothing is sent: zeros in the other fields would move
    // tilt with pan, or hand the firmware vendor bytes it never had.
    std::vector<std::uint8_t> payload(static_cast<std::size_t>(s.length), 0);
    usb::Status status = usb::status::success;
    bool readFailed = false;
    if (!silent && s.width && *s.width < s.length) {
      if (auto current = get(CUVC_GET_CUR, s, &status)) {
        payload = std::move(*current);
      } else {
        readFailed = true;
      }
      silent = status == usb::status::timeout;
    }
    for (ControlID member : group) spec(member).encode(values.at(member), payload);

    if (silent) {
      status = usb::status::timeout;
    } else if (!readFailed) {
      status = observe(cuvc_set(handle_, unitID(s.unit), s.selector, payload.data(),
                                static_cast<std::uint16_t>(payload.size())));
      silent = status == usb::status::timeout;
    }
    if (status != CUVC_SUCCESS) {
      failed.insert(failed.end(), group.begin(), group.end());
      if (statuses != nullptr) statuses->insert(statuses->end(), group.size(), status);
    }
  }
  return failed;
}

std::optional<std::int64_t> UVCDevice::read(ControlID id, usb::Status* status) {
  // A control the camera does not offer has no unit to ask (its unit ID may be 0).
  if (!supports(id)) {
    if (status != nullptr) *status = usb::status::unsupported;
    return std::nullopt;
  }
  std::lock_guard guard(lock_);
  const ControlSpec& s = spec(id);
  auto payload = get(CUVC_GET_CUR, s, status);
  if (!payload) return std::nullopt;
  return s.decode(*payload);
}

usb::Status UVCDevice::reenumerate() {
  std::lock_guard guard(lock_);
  return observe(cuvc_reenumerate(handle_));
}

}  // namespace velto
