// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// An auto mode (autoExposure, autoFocus, autoWhiteBalance) as a check box. Checked while the mode
// is automatic (autoExposure: mode bits 0x0A); flipping it asks the store to switch the mode.
// Absent unless the camera supports the control.
#pragma once

#include <QCheckBox>
#include <QString>
#include <optional>

#include "uvc/controls.h"

namespace velto {
class CameraStore;
}

namespace velto::views {

class AutoToggle : public QCheckBox {
  Q_OBJECT

 public:
  // Labelled `title`, else the control's own title.
  AutoToggle(CameraStore& store, ControlID id, std::optional<QString> title = std::nullopt,
             QWidget* parent = nullptr);

  ControlID id() const { return id_; }

  // Whether the toggle reads on for `value` of `id`: always off for controls that are not auto
  // modes.
  static bool isOn(ControlID id, std::int64_t value);

 private:
  void render();

  CameraStore& store_;
  const ControlID id_;
};

}  // namespace velto::views
