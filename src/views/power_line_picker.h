// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Anti-flicker (powerLineFrequency) as a pop-up picker: "Off", "50 Hz", "60 Hz", "Auto", of which
// only the codes the camera's range admits are offered. Absent unless the camera supports the
// control and has given its range.
#pragma once

#include <QWidget>
#include <cstdint>

class QComboBox;
class QLabel;

namespace velto {
class CameraStore;
struct ControlRange;
}

namespace velto::views {

class PowerLinePicker : public QWidget {
  Q_OBJECT

 public:
  explicit PowerLinePicker(CameraStore& store, QWidget* parent = nullptr);

  QComboBox* comboBox() const { return combo_; }

 private:
  void render();

  CameraStore& store_;
  QLabel* title_;
  QComboBox* combo_;
};

}  // namespace velto::views
