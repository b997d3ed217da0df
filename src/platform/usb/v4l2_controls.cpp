// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/v4l2_controls.h"

#include <array>
#include <linux/videodev2.h>

namespace velto::usb {
namespace {

using L = PayloadLayout;
constexpr VcUnit CT = VcUnit::cameraTerminal;
constexpr VcUnit PU = VcUnit::processingUnit;

// Selectors and payload lengths are the UVC ones; the control IDs are the ones uvcvideo maps them
// to. uvcvideo uses the camera's own units for every one of these (no scaling), so a value passes
// through unchanged except for the auto-exposure menu.
constexpr std::array<V4l2Mapping, 17> kMappings{{
    {CT, 0x02, 1, V4L2_CID_EXPOSURE_AUTO, 0, L::exposureMode},
    {CT, 0x04, 4, V4L2_CID_EXPOSURE_ABSOLUTE, 0, L::unsignedInt},
    {CT, 0x06, 2, V4L2_CID_FOCUS_ABSOLUTE, 0, L::unsignedInt},
    {CT, 0x08, 1, V4L2_CID_FOCUS_AUTO, 0, L::unsignedInt},
    {CT, 0x0B, 2, V4L2_CID_ZOOM_ABSOLUTE, 0, L::unsignedInt},
    {CT, 0x0D, 8, V4L2_CID_PAN_ABSOLUTE, V4L2_CID_TILT_ABSOLUTE, L::panTilt},
    {PU, 0x01, 2, V4L2_CID_BACKLIGHT_COMPENSATION, 0, L::unsignedInt},
    {PU, 0x02, 2, V4L2_CID_BRIGHTNESS, 0, L::signedInt},
    {PU, 0x03, 2, V4L2_CID_CONTRAST, 0, L::unsignedInt},
    {PU, 0x04, 2, V4L2_CID_GAIN, 0, L::unsignedInt},
    {PU, 0x05, 1, V4L2_CID_POWER_LINE_FREQUENCY, 0, L::unsignedInt},
    {PU, 0x06, 2, V4L2_CID_HUE, 0, L::signedInt},
    {PU, 0x07, 2, V4L2_CID_SATURATION, 0, L::unsignedInt},
    {PU, 0x08, 2, V4L2_CID_SHARPNESS, 0, L::unsignedInt},
    {PU, 0x09, 2, V4L2_CID_GAMMA, 0, L::unsignedInt},
    {PU, 0x0A, 2, V4L2_CID_WHITE_BALANCE_TEMPERATURE, 0, L::unsignedInt},
    {PU, 0x0B, 1, V4L2_CID_AUTO_WHITE_BALANCE, 0, L::unsignedInt},
}};

// Index = uvcvideo's menu position.
constexpr std::array<std::uint8_t, 4> kExposureModes{2, 1, 4, 8};

std::int64_t readLittle(std::span<const std::uint8_t> bytes, bool isSigned) {
  std::uint64_t v = 0;
  for (std::size_t i = bytes.size(); i > 0; --i) v = v << 8 | bytes[i - 1];
  const unsigned bits = static_cast<unsigned>(bytes.size()) * 8;
  if (isSigned && bits > 0 && bits < 64 && (v >> (bits - 1)) != 0) v |= ~std::uint64_t{0} << bits;
  return static_cast<std::int64_t>(v);
}

void writeLittle(std::int64_t value, std::span<std::uint8_t> bytes) {
  auto v = static_cast<std::uint64_t>(value);
  for (std::uint8_t& b : bytes) {
    b = static_cast<std::uint8_t>(v);
    v >>= 8;
  }
}

}  // namespace

std::span<const V4l2Mapping> v4l2Mappings() {
  return kMappings;
}

const V4l2Mapping* findV4l2Mapping(VcUnit unit, std::uint8_t selector) {
  for (const V4l2Mapping& m : v4l2Mappings()) {
    if (m.unit == unit && m.selector == selector) return &m;
  }
  return nullptr;
}

std::optional<std::uint8_t> exposureModeFromMenu(std::int64_t index) {
  if (index < 0 || index >= static_cast<std::int64_t>(kExposureModes.size())) return std::nullopt;
  return kExposureModes[static_cast<std::size_t>(index)];
}

std::optional<std::int32_t> exposureMenuFromMode(std::uint8_t mode) {
  for (std::size_t i = 0; i < kExposureModes.size(); ++i) {
    if (kExposureModes[i] == mode) return static_cast<std::int32_t>(i);
  }
  return std::nullopt;
}

std::optional<V4l2Values> valuesFromPayload(const V4l2Mapping& mapping,
                                            std::span<const std::uint8_t> payload) {
  if (payload.size() != mapping.length) return std::nullopt;
  V4l2Values v;
  switch (mapping.layout) {
    case L::unsignedInt:
      v.first = static_cast<std::int32_t>(readLittle(payload, false));
      break;
    case L::signedInt:
      v.first = static_cast<std::int32_t>(readLittle(payload, true));
      break;
    case L::exposureMode: {
      auto index = exposureMenuFromMode(payload[0]);
      if (!index) return std::nullopt;
      v.first = *index;
      break;
    }
    case L::panTilt:
      v.first = static_cast<std::int32_t>(readLittle(payload.subspan(0, 4), true));
      v.second = static_cast<std::int32_t>(readLittle(payload.subspan(4, 4), true));
      break;
  }
  return v;
}

bool payloadFromValues(const V4l2Mapping& mapping, V4l2Values values, std::span<std::uint8_t> payload) {
  if (payload.size() != mapping.length) return false;
  switch (mapping.layout) {
    case L::unsignedInt:
    case L::signedInt:
      writeLittle(values.first, payload);
      return true;
    case L::exposureMode: {
      auto mode = exposureModeFromMenu(values.first);
      if (!mode) return false;
      payload[0] = *mode;
      return true;
    }
    case L::panTilt:
      writeLittle(values.first, payload.subspan(0, 4));
      writeLittle(values.second, payload.subspan(4, 4));
      return true;
  }
  return false;
}

}  // namespace velto::usb
