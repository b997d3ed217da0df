// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The live picture: the newest frame the analyzer holds, scaled to fill the widget (the pane sizes
// it to the picture's aspect ratio), optionally mirrored, with an optional overlay image stretched
// over it without smoothing (the clipping map's hard-edged cells). Shared by the main window and
// the panel's mini preview.
//
// Painting never waits for capture and frames never queue for it: while the widget is visible it
// watches the preview controller's frames, and each frameReady notice asks for a repaint when the
// analyzer's frame counter has moved past the frame on screen and no repaint is pending yet; the
// paint takes whatever frame is newest then. Nothing runs while no frame arrives. The watch names
// the widget's size in device pixels, so frames come already at the size painted: the frame's
// pixels are copied straight into the backing store (a QImage over the frame's memory, kept
// alive by holding the frame), scaled only until frames of a new size arrive.
//
// Main thread.
#pragma once

#include <QImage>
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
  ~PreviewLayerView() override;

  void setMirrored(bool mirrored);
  bool isMirrored() const { return mirrored_; }
  // A picture that stands still for a while (the camera is paused for another program) is shown
  // greyed and darkened.
  void setDimmed(bool dimmed);
  bool isDimmed() const { return dimmed_; }
  // Drawn over the picture (and mirrored with it); none hides it.
  void setOverlay(std::optional<QImage> overlay);

  // Looks for a newer frame and asks for a repaint when there is one and none is pending yet;
  // what a frame notice calls. Returns whether it asked.
  bool refresh();
  // Frames painted so far (a repaint of the same frame does not count).
  std::int64_t framesPainted() const { return framesPainted_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void takeNewestFrame();
  void makeImage();  // image_ from frame_, mirrored when the view is
  void watch(bool watch);
  QSize devicePixels() const;

  PreviewController& preview_;
  bool mirrored_ = false;
  std::optional<QImage> overlay_;
  // The frame on screen and a QImage over its pixels, or a mirrored copy of them (null when it
  // cannot be read); the frame keeps the pixels alive for as long as the image is used. Both are
  // let go while the view is hidden.
  Frame frame_;
  QImage image_;
  QImage mirror_;  // the pixels of the mirrored copy, reused from frame to frame
  bool dimmed_ = false;
  QImage greyed_;                    // image_ in grey while dimmed, made once per frame
  std::int64_t greyedFrom_ = -1;     // frameNumber_ of the frame greyed_ shows
  std::int64_t frameNumber_ = 0;     // the analyzer's count when frame_ was taken
  std::int64_t framesPainted_ = 0;
  bool newFrame_ = false;
  bool watching_ = false;            // holds a watch on the controller's frames
};

}  // namespace velto::views
