// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// An enumerated control as a segmented picker: the control's title, then one exclusive toggle
// button per option, in the given order. The checked segment is the one whose value equals the
// control's value (none when no option matches); choosing a segment writes its value. The options
// are not compared with the camera's range. Absent unless the camera supports the control.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "uvc/controls.h"

class QAbstractButton;
class QButtonGroup;
class QLabel;

namespace velto {
class CameraStore;
}

namespace velto::views {

struct PickerOption {
  std::int64_t value;  // the raw control value; identifies the segment
  QString label;
};

class OptionPicker : public QWidget {
  Q_OBJECT

 public:
  // `help` is the picker's tooltip (empty when absent).
  OptionPicker(CameraStore& store, ControlID id, std::vector<PickerOption> options,
               std::optional<QString> help = std::nullopt, QWidget* parent = nullptr);

  ControlID id() const { return id_; }
  // The segment of option `index`, in the given order.
  QAbstractButton* segment(int index) const;

 private:
  void render();

  CameraStore& store_;
  const ControlID id_;
  const std::vector<PickerOption> options_;
  QButtonGroup* group_;
};

}  // namespace velto::views
