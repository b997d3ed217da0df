// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/preset.h"

namespace velto {

std::optional<ControlID> governedControl(ControlID id) {
  switch (id) {
    case ControlID::autoExposure: return ControlID::exposure;
    case ControlID::autoFocus: return ControlID::focus;
    case ControlID::autoWhiteBalance: return ControlID::whiteBalance;
    default: return std::nullopt;
  }
}

std::optional<ControlID> governingControl(ControlID id) {
  switch (id) {
    case ControlID::exposure: return ControlID::autoExposure;
    case ControlID::focus: return ControlID::autoFocus;
    case ControlID::whiteBalance: return ControlID::autoWhiteBalance;
    default: return std::nullopt;
  }
}

bool isAutoOn(ControlID autoControl, std::int64_t value) {
  if (autoControl == ControlID::autoExposure) return (value & 0x0A) != 0;
  return value != 0;
}

std::int64_t autoModeValue(ControlID autoControl, bool on) {
  if (autoControl == ControlID::autoExposure) return on ? 2 : 1;
  return on ? 1 : 0;
}

bool acceptsValue(ControlID id, std::int64_t value, const ControlRange* range) {
  if (!governedControl(id)) return true;
  if (id != ControlID::autoExposure) return value == 0 || value == 1;
  if (value != 1 && value != 2 && value != 4 && value != 8) return false;
  return range == nullptr || range->modes == 0 || (range->modes & static_cast<std::uint32_t>(value)) != 0;
}

ControlValues Preset::effectiveValues() const {
  ControlValues effective;
  for (const auto& [id, value] : values) {
    if (auto governor = governingControl(id)) {
      auto it = values.find(*governor);
      if (it != values.end() && isAutoOn(*governor, it->second)) continue;
    }
    effective[id] = value;
  }
  return effective;
}

}  // namespace velto
