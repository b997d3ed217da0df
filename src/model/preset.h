// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A named set of control values. Presets are global: one list, applied to whichever camera is
// connected (controls it does not offer are skipped).
#pragma once

#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <optional>

#include "uvc/controls.h"

namespace velto {

// The manual control an auto mode governs (exposure for autoExposure, ...); none otherwise.
std::optional<ControlID> governedControl(ControlID id);
// The auto mode governing a manual control; none otherwise.
std::optional<ControlID> governingControl(ControlID id);
// Whether an auto-mode value means "automatic": autoExposure when value & 0x0A (auto or
// aperture priority), the others when non-zero.
bool isAutoOn(ControlID autoControl, std::int64_t value);
// What the store writes to switch an auto mode: 2/1 for autoExposure, 1/0 for the others.
std::int64_t autoModeValue(ControlID autoControl, bool on);
// Whether an auto-mode control may be set to `value`: 0 or 1 for autoFocus and
// autoWhiteBalance; one of the UVC modes 1, 2, 4, 8 for autoExposure, and one the camera offers
// when its mode bitmap (`range->modes`) is known. Other controls: always true (they are clamped).
bool acceptsValue(ControlID id, std::int64_t value, const ControlRange* range);

// The most a preset's name has, in characters as a text field counts them (UTF-16 units), and the
// most presets there are: a list that one person keeps and reads in the sidebar, and whose file
// every owner reads whole.
inline constexpr int kMaxPresetNameLength = 64;
inline constexpr int kMaxPresets = 100;

struct Preset {
  QUuid id;
  QString name;
  ControlValues values;
  // Members of a stored preset's values that this version cannot place (an unknown control, a
  // value that is not an integer), and members of the preset beside id, name and values: both
  // written back unchanged.
  QJsonObject unknownValues = {};
  QJsonObject unknownMembers = {};

  // `values` without the manual controls that the preset's own auto modes override.
  ControlValues effectiveValues() const;

  // Identity and content; the unknown members do not take part.
  friend bool operator==(const Preset& a, const Preset& b) {
    return a.id == b.id && a.name == b.name && a.values == b.values;
  }
};

}  // namespace velto
