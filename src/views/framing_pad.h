// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The pan/tilt pad of the Framing section: a small 16:9 picture of the camera's whole field with
// a rectangle for the part the zoom shows. Dragging (or a click) anywhere on it moves that
// rectangle's centre under the pointer, kept inside the field, and writes the matching pan and
// tilt through the store; the arrow keys move it a tenth of its travel at a time. It holds no
// state of its own: everything it draws is read from the store's ranges and values when it paints.
//
// Main thread only.
#pragma once

#include <QRectF>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "uvc/controls.h"

namespace velto {
class CameraStore;
}

namespace velto::views {

// The pad's geometry as pure functions, in the pad's own coordinates (origin top-left, y down).
namespace framing {

// value / min of the zoom range, never below 1; 1 without a range or with min <= 0.
double zoomFactor(const std::optional<ControlRange>& zoom, std::int64_t value);
// -1 at min, 0 at the midpoint, +1 at max, not limited; 0 without a range or with min >= max.
double normalized(const std::optional<ControlRange>& range, std::int64_t value);
// The largest 16:9 rectangle inside `available`, centred in it.
QRectF padRect(const QRectF& available);
// The zoomed view inside a pad of `pad` size: pad / zf, centred by the normalised pan and tilt
// (pan grows to the right, tilt upwards).
QRectF viewportRect(const QSizeF& pad, double zf, double npan, double ntilt);
// The normalised (pan, tilt), each within -1…+1, that put the viewport's centre under
// `pointer`; 0 on an axis where the viewport fills the pad.
std::pair<double, double> positionAt(const QPointF& pointer, const QSizeF& pad, const QSizeF& viewport);
// The control value for normalised position `n`: rounded half away from zero, within min…max
// and on the step grid counted from min.
std::int64_t targetValue(const ControlRange& range, double n);

// One axis the camera supports, as the store shows it now.
struct Axis {
  ControlID id;
  std::optional<ControlRange> range;  // none: never written
  std::int64_t value;
};
// The writes a pointer at normalised position (npan, ntilt) asks for: pan first, then tilt, each
// only when its range is known and its value changes.
std::vector<std::pair<ControlID, std::int64_t>> writes(const std::vector<Axis>& axes, double npan, double ntilt);

}  // namespace framing

class FramingPad : public QWidget {
  Q_OBJECT

 public:
  // `store` must outlive the pad.
  explicit FramingPad(CameraStore& store, QWidget* parent = nullptr);

  // Whether the camera has pan or tilt; without either the pad is hidden and draws nothing.
  bool isAvailable() const;
  // The pad and the viewport in widget coordinates, as the pad draws them now.
  QRectF padArea() const;
  QRectF viewportArea() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void storeChanged();
  double zoomFactor() const;
  std::optional<ControlRange> range(ControlID id) const;
  // Writes the pan and tilt that put the viewport's centre at normalised (npan, ntilt).
  void moveTo(double npan, double ntilt);

  CameraStore& store_;
  bool dragging_ = false;  // a left-button drag that began on this camera
};

}  // namespace velto::views
