// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The live picture: the newest frame the analyzer holds, scaled to fill the widget (the pane sizes
// it to the picture's aspect ratio), optionally mirrored, with an optional overlay image stretched
// over it without smoothing (the clipping map's hard-edged cells). Shared by the main window and
// the panel's mini preview.
//
// Painting never waits for capture and frames never queue for it: while the widget is visible a
// timer at the screen's refresh rate looks at the analyzer's frame counter and asks for a repaint
// only when a newer frame has arrived; the paint takes whatever frame is newest then. The frame's
// pixels are painted in place (a QImage over the frame's memory, kept alive by holding the
// frame); the only copy is the scaling into the backing store.
//
// Main thread.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "platform/video/frame.h"

namespace velto {
class PreviewController;
}

namespace velto::views {

class PreviewLayerView : public QWidget {
  Q_OBJECT

 public:
  // `preview` must outlive the view.
  explicit PreviewLayerView(PreviewController& preview, QWidget* parent = nullptr);

  void setMirrored(bool mirrored);
  bool isMirrored() const { return mirrored_; }
  // Drawn over the picture (and mirrored with it); none hides it.
  void setOverlay(std::optional<QImage> overlay);

  // Looks for a newer frame and asks for a repaint when there is one and none is pending yet;
  // what the timer calls. Returns whether it asked.
  bool refresh();
  // Frames painted so far (a repaint of the same frame does not count).
  std::int64_t framesPainted() const { return framesPainted_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void takeNewestFrame();

  PreviewController& preview_;
  QTimer refresh_;
  bool mirrored_ = false;
  std::optional<QImage> overlay_;
  // The frame on screen and a QImage over its pixels (null when it cannot be read); the frame
  // keeps the pixels alive for as long as the image is used.
  Frame frame_;
  QImage image_;
  std::int64_t frameNumber_ = 0;     // the analyzer's count when frame_ was taken
  std::int64_t framesPainted_ = 0;
  bool newFrame_ = false;
};

}  // namespace velto::views
