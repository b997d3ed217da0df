// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// An on/off control (hdr, horizontalFlip) as a check box labelled with the control's title, with
// an optional explanatory second line beneath. On while the value is not 0; flipping writes 1 or
// 0. Absent unless the camera supports the control.
#pragma once

#include <QString>
#include <QWidget>
#include <optional>

#include "uvc/controls.h"

class QCheckBox;
class QLabel;

namespace velto {
class CameraStore;
}

namespace velto::views {

class FlagToggle : public QWidget {
  Q_OBJECT

 public:
  FlagToggle(CameraStore& store, ControlID id, std::optional<QString> subtitle = std::nullopt,
             QWidget* parent = nullptr);

  ControlID id() const { return id_; }
  QCheckBox* checkBox() const { return check_; }
  QLabel* subtitleLabel() const { return subtitle_; }  // null without a subtitle

 private:
  void render();

  CameraStore& store_;
  const ControlID id_;
  QCheckBox* check_;
  QLabel* subtitle_ = nullptr;
};

}  // namespace velto::views
