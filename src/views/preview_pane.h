// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The live-preview area of the main window: a placeholder when there is no picture to show
// (access denied, no camera, the camera busy in another application), otherwise the picture
// aspect-fitted on black with its overlays: the clipping map, the rule-of-thirds grid, the
// calibration spot marker, the calibrator's hint or result line, the histogram and a badge while
// the preview reconnects. With a calibration tool chosen, a click in the picture starts a
// calibration there and the pointer is a crosshair over the picture.
//
// The pane keeps no state of its own: it re-reads the preview controller and the calibrator on
// their change signals. Starting and stopping capture is the window's job. Main thread.
#pragma once

#include <QPointF>
#include <QSizeF>
#include <QLabel>
#include <QWidget>
#include <optional>

#include "platform/video/camera_holders.h"

namespace velto {
class CameraStore;
class Calibrator;
class PreviewController;
}  // namespace velto

namespace velto::views {

class HistogramView;
class PreviewLayerView;

// The size of a picture of `videoSize` (16:9 when none or without height) fitted into
// `available`, never distorted.
QSizeF fittedSize(QSizeF available, std::optional<QSizeF> videoSize);
// The normalised point of the camera's own (unmirrored) image under `location` in a picture box
// of `box` shown mirrored or not.
QPointF framePoint(QPointF location, QSizeF box, bool mirrored);

struct PreviewOverlays {
  bool grid = false;
  bool histogram = true;
  bool clipping = false;
  bool mirror = true;
};

// A rounded translucent label; with `busy`, a small busy indicator before the text (it steps once
// a second while shown). A label to assistive
// tools too, so a screen reader reads what it says.
class Capsule : public QLabel {
  Q_OBJECT

 public:
  explicit Capsule(QWidget* parent = nullptr, bool busy = false);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  class Pulse* pulse_ = nullptr;
};

// "Reconnecting camera…" with the busy indicator, shown while the preview recovers.
class RecoveringBadge : public Capsule {
  Q_OBJECT

 public:
  explicit RecoveringBadge(QWidget* parent = nullptr);
};

// "Paused while zoom (PID 4242) uses the camera": why the picture stands still, greyed.
QString pausedText(const video::CameraHolder& holder);

class PreviewPane : public QWidget {
  Q_OBJECT

 public:
  // The shared objects must outlive the pane.
  PreviewPane(CameraStore& store, PreviewController& preview, Calibrator& calibrator, QWidget* parent = nullptr);

  void setOverlays(PreviewOverlays overlays);
  PreviewOverlays overlays() const { return overlays_; }

  // The picture box in pane coordinates (empty while a placeholder shows) and the placeholder's
  // title (empty while the picture shows). The overlays are children named "hint", "histogram"
  // "recoveringBadge" and "pausedNote".
  QRect pictureRect() const;
  QString placeholderTitle() const;
  // The centre of the spot marker in pane coordinates while one is drawn.
  std::optional<QPointF> markerCentre() const;
  PreviewLayerView& layer() { return *layer_; }
  // Shows `text` in the hint line for a few seconds, unless the calibrator has something to say;
  // a tool chosen meanwhile ends it. For what has no other place to go (a saved snapshot when the
  // desktop shows no notifications).
  void showNote(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void refresh();
  void layOut();

  CameraStore& store_;
  PreviewController& preview_;
  Calibrator& calibrator_;
  PreviewOverlays overlays_;
  class Placeholder* placeholder_ = nullptr;
  QWidget* video_ = nullptr;
  PreviewLayerView* layer_ = nullptr;
  class PictureOverlay* box_ = nullptr;  // grid, spot marker, clicks and the cursor
  HistogramView* histogram_ = nullptr;
  Capsule* hint_ = nullptr;
  RecoveringBadge* badge_ = nullptr;
  Capsule* pausedNote_ = nullptr;
  QString note_;
  class QTimer* noteTimer_ = nullptr;
};

}  // namespace velto::views
