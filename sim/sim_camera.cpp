// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/sim_camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/descriptors.h"

namespace velto::sim {
namespace {

namespace status = usb::status;

constexpr std::uint8_t kSetCur = 0x01, kGetCur = 0x81, kGetMin = 0x82, kGetMax = 0x83;
constexpr std::uint8_t kGetRes = 0x84, kGetLen = 0x85, kGetInfo = 0x86, kGetDef = 0x87;
constexpr std::uint8_t kClassInterfaceIn = 0xA1, kClassInterfaceOut = 0x21;
constexpr std::uint8_t kStandardDeviceIn = 0x80, kGetDescriptor = 0x06;

// GET_INFO bits set while an auto mode owns the control: disabled due to automatic mode, and
// autoupdate (the camera changes the value by itself).
constexpr std::uint8_t kInfoAutoDisabled = 0x04 | 0x08;

Reply stall() { return Reply{status::pipeStalled, {}}; }

// The nearest value on the range's grid (anchored at its minimum), within the range.
std::int64_t onGrid(const Range& r, double v) {
  auto value = std::clamp(static_cast<std::int64_t>(std::lround(v)), r.min, r.max);
  if (r.step >= 2) value = r.min + (value - r.min + r.step / 2) / r.step * r.step;
  return std::clamp(value, r.min, r.max);
}

// A slow swing around `center`, as a changing scene makes an auto mode hunt.
double swing(std::int64_t now, double center, double amplitude, double periodMs) {
  return center + amplitude * std::sin(2 * std::numbers::pi * static_cast<double>(now) / periodMs);
}

// Zoom the firmware chooses for each field of view (degrees).
std::optional<std::int64_t> zoomForFieldOfView(std::int64_t degrees) {
  switch (degrees) {
    case 95: return 100;
    case 78: return 175;
    case 65: return 295;
    default: return std::nullopt;
  }
}

// The manual control an auto mode governs.
std::optional<ControlID> governedBy(ControlID manual) {
  switch (manual) {
    case ControlID::exposure: return ControlID::autoExposure;
    case ControlID::focus: return ControlID::autoFocus;
    case ControlID::whiteBalance: return ControlID::autoWhiteBalance;
    default: return std::nullopt;
  }
}

}  // namespace

SimCamera::SimCamera(Profile profile, Clock clock) : profile_(std::move(profile)), clock_(std::move(clock)) {
  controls_.reserve(profile_.controls.size());
  for (const WireControl& w : profile_.controls) controls_.push_back({&w, {}});
  resetToDefaults();
  lastAutoStep_ = clock_();  // the auto loops run from power-on
}

std::vector<std::uint8_t> SimCamera::payloadOf(const WireControl& wire, std::int64_t Range::*member) const {
  std::vector<std::uint8_t> payload = wire.fixedBytes;
  payload.resize(wire.length, 0);
  for (const Field& f : wire.fields) f.write(f.range.*member, payload);
  return payload;
}

void SimCamera::resetToDefaults() {
  for (Control& c : controls_) c.current = payloadOf(*c.wire, &Range::defaultValue);
  pendingZoom_.reset();
  focusSearchStart_.reset();
  autoExposure_.reset();
  autoWhiteBalance_.reset();
}

SimCamera::Control* SimCamera::find(std::uint8_t unit, std::uint8_t selector) {
  for (Control& c : controls_) {
    if (c.wire->unitID == unit && c.wire->selector == selector) return &c;
  }
  return nullptr;
}

SimCamera::Control* SimCamera::find(ControlID id) {
  const WireControl* wire = profile_.find(id);
  return wire == nullptr ? nullptr : find(wire->unitID, wire->selector);
}

std::optional<Reply> SimCamera::handle(const Setup& setup, std::span<const std::uint8_t> out) {
  if (hung_) return std::nullopt;
  settle();

  if (setup.bmRequestType == kStandardDeviceIn && setup.bRequest == kGetDescriptor) {
    std::vector<std::uint8_t> d;
    switch (setup.wValue >> 8) {
      case 0x01: d = buildDeviceDescriptor(profile_.vendorID, profile_.productID); break;
      case 0x02: d = profile_.configuration; break;
      default: return stall();
    }
    d.resize(std::min<std::size_t>(d.size(), setup.wLength));
    return Reply{status::success, std::move(d)};
  }

  const bool in = setup.bmRequestType == kClassInterfaceIn;
  if ((!in && setup.bmRequestType != kClassInterfaceOut) ||
      (setup.wIndex & 0xff) != profile_.interfaceNumber) {
    return stall();
  }
  Control* control = find(static_cast<std::uint8_t>(setup.wIndex >> 8),
                          static_cast<std::uint8_t>(setup.wValue >> 8));
  if (control == nullptr || (setup.wValue & 0xff) != 0) return stall();
  if (in) {
    if (setup.bRequest == kSetCur) return stall();
    return get(*control, setup.bRequest, setup.wLength);
  }
  if (setup.bRequest != kSetCur || setup.wLength != control->wire->length ||
      out.size() != setup.wLength) {
    return stall();
  }
  return setCur(*control, out);
}

Reply SimCamera::get(Control& control, std::uint8_t request, std::uint16_t length) {
  const WireControl& wire = *control.wire;
  if (request == kGetLen) {
    if (length != 2) return stall();
    return Reply{status::success,
                 {static_cast<std::uint8_t>(wire.length), static_cast<std::uint8_t>(wire.length >> 8)}};
  }
  if (request == kGetInfo) {
    if (length != 1) return stall();
    std::uint8_t info = wire.info;
    for (const Field& f : wire.fields) {
      if (auto a = governedBy(f.id); a && autoOn(*a)) info |= kInfoAutoDisabled;
    }
    return Reply{status::success, {info}};
  }
  if (length != wire.length) return stall();
  switch (request) {
    case kGetCur: {
      std::vector<std::uint8_t> data = control.current;
      if (wire.readsBackOne) data[0] = 1;
      return Reply{status::success, std::move(data)};
    }
    case kGetMin:
      if (wire.stallsMinMax) return stall();
      return Reply{status::success, payloadOf(wire, &Range::min)};
    case kGetMax:
      if (wire.stallsMinMax) return stall();
      return Reply{status::success, payloadOf(wire, &Range::max)};
    case kGetRes: return Reply{status::success, payloadOf(wire, &Range::step)};
    case kGetDef: return Reply{status::success, payloadOf(wire, &Range::defaultValue)};
    default: return stall();
  }
}

Reply SimCamera::setCur(Control& control, std::span<const std::uint8_t> data) {
  const WireControl& wire = *control.wire;
  std::vector<std::int64_t> values;
  for (const Field& f : wire.fields) {
    if (refused_.contains(f.id)) return stall();
    const std::int64_t v = f.read(data);
    if (!acceptable(f, v)) return stall();
    values.push_back(v);
  }
  for (std::size_t i = 0; i < wire.fields.size(); ++i) {
    const ControlID id = wire.fields[i].id;
    const bool dropped = id == ControlID::horizontalFlip && flipNeedsStream_ && !streaming_;
    if (!ignored_.contains(id) && !dropped) store(control, wire.fields[i], values[i]);
  }
  return Reply{status::success, {}};
}

bool SimCamera::acceptable(const Field& field, std::int64_t value) const {
  if (!field.allowed.empty()) {
    return std::find(field.allowed.begin(), field.allowed.end(), value) != field.allowed.end();
  }
  return value >= field.range.min && value <= field.range.max;
}

void SimCamera::store(Control& control, const Field& field, std::int64_t value) {
  const std::int64_t now = clock_();
  const std::int64_t before = field.read(control.current);
  field.write(value, control.current);
  switch (field.id) {
    case ControlID::fieldOfView:
      if (auto zoom = zoomForFieldOfView(value); zoom && profile_.field(ControlID::zoom)) {
        pendingZoom_ = {now + kZoomDelayMs, *zoom};
      }
      break;
    case ControlID::autoFocus:
      if (before == 0 && value != 0) {
        if (auto focus = this->value(ControlID::focus)) {
          focusSearchStart_ = now;
          focusSearchFrom_ = *focus;
        }
      }
      break;
    default:
      break;
  }
}

bool SimCamera::autoOn(ControlID autoControl) {
  Control* c = find(autoControl);
  const Field* f = profile_.field(autoControl);
  if (c == nullptr || f == nullptr) return false;
  const std::int64_t v = f->read(c->current);
  return autoControl == ControlID::autoExposure ? (v & 0x0A) != 0 : v != 0;
}

void SimCamera::settle() {
  const std::int64_t now = clock_();
  auto put = [this](ControlID id, std::int64_t v) {
    Control* c = find(id);
    const Field* f = profile_.field(id);
    if (c != nullptr && f != nullptr) f->write(v, c->current);
  };

  if (pendingZoom_ && now >= pendingZoom_->first) {
    put(ControlID::zoom, pendingZoom_->second);
    pendingZoom_.reset();
  }
  // The auto loops run at the frame rate, on what the frames show: without a stream they rest
  // where the last frame left them. After a long gap only the last steps matter, since each one
  // moves a fixed share of the way.
  constexpr std::int64_t kMaxSteps = 300;
  if (lastAutoStep_ < 0 || now < lastAutoStep_ || !streaming_) lastAutoStep_ = now;
  if ((now - lastAutoStep_) / kAutoStepMs > kMaxSteps) lastAutoStep_ = now - kMaxSteps * kAutoStepMs;
  while (now - lastAutoStep_ >= kAutoStepMs) {
    lastAutoStep_ += kAutoStepMs;
    autoStep(lastAutoStep_);
  }
  const Field* f = profile_.field(ControlID::focus);
  if (f == nullptr || !autoOn(ControlID::autoFocus)) {
    focusSearchStart_.reset();
  } else if (streaming_ || focusSearchStart_) {
    // The scene's sharp focus, with the small hunting of a continuous auto focus.
    const double target = swing(now, static_cast<double>(f->range.defaultValue), 6, 5000);
    double v = target;
    if (focusSearchStart_) {
      // A search: out past the target to the far side, then back onto it.
      const double t = static_cast<double>(now - *focusSearchStart_);
      const double from = static_cast<double>(focusSearchFrom_);
      const double far = std::min(static_cast<double>(f->range.max),
                                  target + static_cast<double>(f->range.max - f->range.min) / 4);
      const double half = kFocusSearchMs / 2.0;
      if (t < half) {
        v = from + (far - from) * t / half;
      } else if (t < kFocusSearchMs) {
        v = far + (target - far) * (t - half) / half;
      } else {
        focusSearchStart_.reset();
      }
    }
    put(ControlID::focus, onGrid(f->range, v));
  }
}

void SimCamera::autoStep(std::int64_t at) {
  auto current = [this](ControlID id) -> std::optional<std::int64_t> {
    Control* c = find(id);
    const Field* f = profile_.field(id);
    if (c == nullptr || f == nullptr) return std::nullopt;
    return f->read(c->current);
  };
  auto put = [this](ControlID id, std::int64_t v) { profile_.field(id)->write(v, find(id)->current); };
  // A steady loop would sit still; a real one keeps hunting a little, as the focus does.
  const Field* e = profile_.field(ControlID::exposure);
  if (e != nullptr && autoOn(ControlID::autoExposure)) {
    const std::int64_t stored = *current(ControlID::exposure);
    if (!autoExposure_ || onGrid(e->range, *autoExposure_) != stored) autoExposure_ = static_cast<double>(stored);
    SceneSettings settings = sim::sceneSettings(profile_, rawState());
    settings.exposure = *autoExposure_;
    const double target = swing(at, kAutoExposureTarget, 0.015, 7000);
    const double luma = std::max(meanLuma(settings, light_), 0.005);
    // A third of the way in log terms per frame, at most 40 % at a time: settles within a
    // second and stays stable where contrast or gamma make luma grow faster than exposure.
    const double factor = std::clamp(std::pow(target / luma, 0.35), 0.7, 1.4);
    autoExposure_ = std::clamp(*autoExposure_ * factor, static_cast<double>(e->range.min),
                               static_cast<double>(e->range.max));
    put(ControlID::exposure, onGrid(e->range, *autoExposure_));
  } else {
    autoExposure_.reset();
  }
  const Field* w = profile_.field(ControlID::whiteBalance);
  if (w != nullptr && autoOn(ControlID::autoWhiteBalance)) {
    const std::int64_t stored = *current(ControlID::whiteBalance);
    if (!autoWhiteBalance_ || onGrid(w->range, *autoWhiteBalance_) != stored) {
      autoWhiteBalance_ = static_cast<double>(stored);
    }
    const double target = swing(at, light_.illuminantK, 60, 11000);
    autoWhiteBalance_ = std::clamp(*autoWhiteBalance_ + 0.15 * (target - *autoWhiteBalance_),
                                   static_cast<double>(w->range.min), static_cast<double>(w->range.max));
    put(ControlID::whiteBalance, onGrid(w->range, *autoWhiteBalance_));
  } else {
    autoWhiteBalance_.reset();
  }
}

std::vector<std::pair<ControlID, std::int64_t>> SimCamera::rawState() {
  std::vector<std::pair<ControlID, std::int64_t>> values;
  for (const Control& c : controls_) {
    for (const Field& f : c.wire->fields) values.emplace_back(f.id, f.read(c.current));
  }
  return values;
}

SceneSettings SimCamera::sceneSettings() {
  settle();
  return sim::sceneSettings(profile_, rawState());
}

std::optional<std::int64_t> SimCamera::value(ControlID id) {
  settle();
  Control* c = find(id);
  const Field* f = profile_.field(id);
  if (c == nullptr || f == nullptr) return std::nullopt;
  return f->read(c->current);
}

std::vector<std::pair<ControlID, std::int64_t>> SimCamera::state() {
  settle();
  std::vector<std::pair<ControlID, std::int64_t>> values;
  for (ControlID id : allControls()) {
    if (auto v = value(id)) values.emplace_back(id, *v);
  }
  return values;
}

bool SimCamera::set(ControlID id, std::int64_t value, std::string* error) {
  settle();
  Control* c = find(id);
  const Field* f = profile_.field(id);
  if (c == nullptr || f == nullptr) {
    if (error) *error = std::string("this camera has no control ") + std::string(rawValue(id));
    return false;
  }
  if (!acceptable(*f, value)) {
    if (error) {
      *error = std::string(rawValue(id)) + ": " + std::to_string(value) + " is not accepted (";
      if (f->allowed.empty()) {
        *error += std::to_string(f->range.min) + ".." + std::to_string(f->range.max);
      } else {
        for (std::size_t i = 0; i < f->allowed.size(); ++i) {
          *error += (i ? ", " : "one of ") + std::to_string(f->allowed[i]);
        }
      }
      *error += ")";
    }
    return false;
  }
  store(*c, *f, value);
  return true;
}

void SimCamera::setRefused(ControlID id, bool refused) {
  if (refused) {
    refused_.insert(id);
  } else {
    refused_.erase(id);
  }
}

void SimCamera::setIgnored(ControlID id, bool ignored) {
  if (ignored) {
    ignored_.insert(id);
  } else {
    ignored_.erase(id);
  }
}

}  // namespace velto::sim
