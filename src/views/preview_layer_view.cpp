// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/preview_layer_view.h"

#include <QPainter>
#include <QtMath>

#include "capture/preview_controller.h"

namespace velto::views {

PreviewLayerView::PreviewLayerView(PreviewController& preview, QWidget* parent)
    : QWidget(parent), preview_(preview) {
  // Every pixel is painted (the picture or black): nothing behind needs painting first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  connect(&preview, &PreviewController::frameReady, this, &PreviewLayerView::refresh);
}

PreviewLayerView::~PreviewLayerView() { watch(false); }

void PreviewLayerView::watch(bool watch) {
  if (watching_ == watch) return;
  watching_ = watch;
  if (watch) {
    preview_.watchFrames(this, devicePixels());
  } else {
    preview_.unwatchFrames(this);
  }
}

QSize PreviewLayerView::devicePixels() const {
  const qreal ratio = devicePixelRatioF();
  return QSize(qCeil(width() * ratio), qCeil(height() * ratio));
}

void PreviewLayerView::resizeEvent(QResizeEvent*) {
  if (watching_) preview_.watchFrames(this, devicePixels());
}

void PreviewLayerView::setMirrored(bool mirrored) {
  if (mirrored_ == mirrored) return;
  mirrored_ = mirrored;
  makeImage();
  update();
}

void PreviewLayerView::setOverlay(std::optional<QImage> overlay) {
  if (!overlay_ && !overlay) return;
  overlay_ = std::move(overlay);
  update();
}

bool PreviewLayerView::refresh() {
  if (newFrame_ || preview_.analyzer().frameCount() == frameNumber_) return false;
  newFrame_ = true;
  update();
  return true;
}

void PreviewLayerView::takeNewestFrame() {
  newFrame_ = false;
  // The count first: a frame arriving in between is then seen as new at the next look.
  const std::int64_t number = preview_.analyzer().frameCount();
  if (number == frameNumber_) return;
  frameNumber_ = number;
  frame_ = preview_.analyzer().latest();
  makeImage();
  if (!image_.isNull()) ++framesPainted_;
}

void PreviewLayerView::makeImage() {
  const std::uint8_t* pixels = frame_.pixels();
  // BGRA bytes are the 32-bit words 0xAARRGGBB on a little-endian machine; the alpha is ignored.
  image_ = pixels ? QImage(pixels, frame_.width(), frame_.height(), frame_.bytesPerRow(), QImage::Format_RGB32)
                  : QImage();
  // Mirrored once per frame, by a copy: painting through a mirroring transform costs more, pixel
  // by pixel on Qt's worker threads.
  if (mirrored_ && !image_.isNull()) image_ = image_.mirrored(true, false);
}

void PreviewLayerView::paintEvent(QPaintEvent*) {
  if (newFrame_) takeNewestFrame();
  QPainter painter(this);
  const QRectF box = rect();
  if (image_.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  // Frames come at the widget's size in device pixels: each pixel lands on one pixel, and the
  // paint is a copy. One of another size (the widget was just resized) is scaled smoothly until
  // the next frame.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, image_.size() != devicePixels());
  painter.drawImage(box, image_);
  if (overlay_ && !overlay_->isNull()) {
    if (mirrored_) {
      painter.translate(box.width(), 0);
      painter.scale(-1, 1);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(box, *overlay_);
  }
}

void PreviewLayerView::showEvent(QShowEvent*) {
  watch(true);
  // Frames that came while hidden were not announced: catch up with the newest.
  refresh();
}

void PreviewLayerView::hideEvent(QHideEvent*) {
  watch(false);
  // Hidden, the picture is let go; showing again catches up with the newest frame.
  frame_ = Frame();
  image_ = QImage();
  frameNumber_ = 0;
  newFrame_ = false;
}

}  // namespace velto::views
