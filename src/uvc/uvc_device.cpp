#include "uvc/uvc_device.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

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

constexpr std::uint16_t kAnkerVendor = 0x291A;
constexpr std::uint16_t kC200Product = 0x3369;

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

std::shared_ptr<UVCDevice> UVCDevice::create(const usb::Service& service) {
  cuvc_info info{};
  cuvc_handle* handle = cuvc_open(&service, &info);
  if (handle == nullptr) return nullptr;
  return std::shared_ptr<UVCDevice>(new UVCDevice(handle, info, service));
}

UVCDevice::UVCDevice(cuvc_handle* handle, const cuvc_info& info, const usb::Service& service)
    : key_{info.vendorID, info.productID}, registryID_(service.registryID), info_(info), handle_(handle) {
  name_ = service.productName ? *service.productName : "UVC Camera " + key_.hexString();
  anker_ = info.extensionUnitID != 0 &&
           std::memcmp(info.extensionGUID, ankerExtensionGUID.data(), ankerExtensionGUID.size()) == 0 &&
           key_.vendorID == kAnkerVendor && key_.productID == kC200Product;
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
  if (status != CUVC_SUCCESS) return std::nullopt;
  return payload;
}

ControlRanges UVCDevice::readRanges() {
  std::lock_guard guard(lock_);
  ControlRanges ranges;
  for (ControlID id : supported_) {
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
    // A camera that let a request time out is hung: every further request would wait out its
    // time-out too, so the operation ends here with what it has.
    if (silent) break;
    if (min && max) {
      ranges[id] = ControlRange{*min, *max, (res && *res > 1) ? *res : 1, def.value_or(*min)};
    } else if (def) {
      // Controls without a minimum or maximum (the auto-exposure mode) become a 0...1 switch.
      ranges[id] = ControlRange{0, 1, 1, *def};
    }
  }
  return ranges;
}

ControlValues UVCDevice::readAll() {
  std::lock_guard guard(lock_);
  ControlValues values;
  for (ControlID id : supported_) {
    const ControlSpec& s = spec(id);
    if (!s.readable) continue;
    usb::Status status = usb::status::success;
    if (auto payload = get(CUVC_GET_CUR, s, &status)) values[id] = s.decode(*payload);
    if (status == usb::status::timeout) break;  // hung: see readRanges
  }
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
    // camera holds now (zeros if it cannot say).
    std::vector<std::uint8_t> payload(static_cast<std::size_t>(s.length), 0);
    usb::Status status = usb::status::success;
    if (!silent && s.width && *s.width < s.length) {
      if (auto current = get(CUVC_GET_CUR, s, &status)) payload = std::move(*current);
      silent = status == usb::status::timeout;
    }
    for (ControlID member : group) spec(member).encode(values.at(member), payload);

    if (silent) {
      status = usb::status::timeout;
    } else {
      status = cuvc_set(handle_, unitID(s.unit), s.selector, payload.data(), static_cast<std::uint16_t>(payload.size()));
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
  return cuvc_reenumerate(handle_);
}

}  // namespace velto
