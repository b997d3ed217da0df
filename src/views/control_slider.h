// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One integer control as a titled slider: the title and the formatted value on the first line,
// the slider below. The slider moves over fractions 0…1 that map linearly or logarithmically
// onto the control's range; every distinct value reached while dragging is written at once. While
// the auto mode governing the control is on, the row is greyed and its value reads "Auto · …";
// its "Reset to Default (…)" context menu stays available. The row is absent (hidden, not
// disabled) unless the connected camera supports the control with a range whose min < max.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

#include "uvc/controls.h"

class QAction;
class QLabel;
class QSlider;

namespace velto {
class CameraStore;
}

namespace velto::views {

// Turns a raw control value into the text a row shows.
using ValueFormat = std::function<QString(std::int64_t)>;

// The integer in plain decimal: the rows' default format.
QString plainFormat(std::int64_t value);

// Whether the auto mode governing the manual control `id` is on; false for controls without one
// and when the camera does not offer that auto mode.
bool governedByAuto(const CameraStore& store, ControlID id);

class ControlSlider : public QWidget {
  Q_OBJECT

 public:
  ControlSlider(CameraStore& store, ControlID id, bool logScale = false, ValueFormat format = {},
                QWidget* parent = nullptr);

  ControlID id() const { return id_; }

  // The slider mapping, pure. `fraction` may fall outside 0…1 for a value outside the range.
  // The mapping is logarithmic only when `logScale` is set and range.min > 0.
  static double fraction(const ControlRange& range, bool logScale, std::int64_t value);
  // Rounded halves away from zero, then ControlRange::clamp.
  static std::int64_t valueAt(const ControlRange& range, bool logScale, double fraction);

  // The parts, for the panel's layout and for tests.
  QSlider* slider() const { return slider_; }
  QLabel* valueLabel() const { return value_; }
  QAction* resetAction() const { return reset_; }

 private:
  void render();
  void positionMoved(int position);
  double positionFraction(int position) const;

  CameraStore& store_;
  const ControlID id_;
  const bool logScale_;
  const ValueFormat format_;
  QWidget* body_;  // greyed in auto mode; the row itself keeps its context menu
  QLabel* title_;
  QLabel* value_;
  QSlider* slider_;
  QAction* reset_;
  bool rendering_ = false;  // positions set by render() are not the user's
};

}  // namespace velto::views
