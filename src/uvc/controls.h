// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The control catalogue: every camera control the application knows, where it lives on the
// camera (unit, selector) and how its value sits in the request payload. Everything above the
// transport names controls only through these types. Free of Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string_view>

namespace velto {

// The UVC unit a control request is addressed to.
enum class UnitKind : std::uint8_t { cameraTerminal, processingUnit, ankerExtension };

// The case name ("cameraTerminal", ...); part of the per-request key "unit/selector".
std::string_view unitName(UnitKind unit);

// In catalogue order, which is the order every batch of writes goes out in: an auto mode always
// precedes the manual control it governs.
enum class ControlID : std::uint8_t {
  autoExposure,
  exposure,
  autoFocus,
  focus,
  autoWhiteBalance,
  whiteBalance,
  powerLineFrequency,
  brightness,
  contrast,
  saturation,
  sharpness,
  gamma,
  hue,
  gain,
  backlightCompensation,
  horizontalFlip,
  hdr,
  micPickup,
  fieldOfView,
  zoom,
  pan,
  tilt,
};

inline constexpr std::size_t kControlCount = 22;

struct ControlSpec {
  UnitKind unit;
  std::uint8_t selector;
  int supportBit;             // bit in the unit's bmControls; not consulted for vendor controls
  int length;                 // payload size, the wLength of every request for the control
  int offset;                 // first payload byte of the value
  std::optional<int> width;   // bytes of the value; none: the whole payload
  bool isSigned;              // two's complement, sign-extended on decoding
  bool readable;              // GET_CUR answers the current value (false for hdr only)

  // `width` when present, else `length`.
  int valueSize() const { return width.value_or(length); }

  // The value at `offset`, little-endian over valueSize() bytes; bytes past the end of `payload`
  // count as zero. Signed values of up to 7 bytes are sign-extended.
  std::int64_t decode(std::span<const std::uint8_t> payload) const;

  // Stores the low valueSize() bytes of `value` (two's complement) little-endian at `offset`,
  // leaving every other byte as it is. Bytes that would fall past the end are dropped.
  void encode(std::int64_t value, std::span<std::uint8_t> payload) const;
};

struct ControlRange {
  std::int64_t min = 0;
  std::int64_t max = 0;
  std::int64_t step = 1;
  std::int64_t defaultValue = 0;
  // The auto-exposure mode only: the modes the camera offers (its GET_RES bitmap: 1 manual,
  // 2 auto, 4 shutter priority, 8 aperture priority); 0 when it did not say.
  std::uint32_t modes = 0;

  // Into [min, max], then, for step >= 2, onto the grid anchored at min, rounding half up. The
  // snapped value is not clamped again, so a max off the grid may be exceeded by less than a step.
  std::int64_t clamp(std::int64_t value) const;

  friend bool operator==(const ControlRange&, const ControlRange&) = default;
};

// Values and ranges by control; iteration follows catalogue order.
using ControlValues = std::map<ControlID, std::int64_t>;
using ControlRanges = std::map<ControlID, ControlRange>;

// All 22 controls in catalogue order.
const std::array<ControlID, kControlCount>& allControls();

// The persistent key of a control: its case name exactly ("backlightCompensation").
std::string_view rawValue(ControlID id);

// The display title ("Backlight").
std::string_view title(ControlID id);

const ControlSpec& spec(ControlID id);

// The control whose raw value is exactly `text` (letter case included), or none.
std::optional<ControlID> controlFromRawValue(std::string_view text);

}  // namespace velto

template <>
struct std::hash<velto::ControlID> {
  std::size_t operator()(velto::ControlID id) const noexcept {
    return std::hash<std::string_view>{}(velto::rawValue(id));
  }
};
