// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The capture mode chosen for each camera model, kept in the user defaults under
// "captureMode/<vendor>_<product>" (hexadecimal) as modeKey() writes it ("MJPG 1920x1080@30").
// No entry, or one that cannot be read (a hand edit, a later version's), is automatic. Main
// thread, as UserDefaults is.
#pragma once

#include <optional>

#include "platform/video/capture_mode.h"
#include "uvc/camera_key.h"

namespace velto {

class UserDefaults;

class CaptureModeSettings {
 public:
  explicit CaptureModeSettings(UserDefaults& defaults) : defaults_(defaults) {}

  // The mode chosen for `model`; none: automatic.
  std::optional<video::CaptureMode> mode(const CameraKey& model) const;
  // Remembers `mode` for `model`; none forgets the choice (automatic).
  void setMode(const CameraKey& model, const std::optional<video::CaptureMode>& mode);

 private:
  UserDefaults& defaults_;
};

}  // namespace velto
