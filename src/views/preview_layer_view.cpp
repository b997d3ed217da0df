// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/preview_layer_view.h"

#include <QPainter>
#include <QtMath>

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "capture/preview_controller.h"

namespace velto::views {
namespace {

// `width` pixels of `from` into `to` right to left; four at a time with SSE2.
void mirrorRow(const std::uint32_t* from, std::uint32_t* to, std::size_t width) {
  std::size_t x = 0;
#if defined(__SSE2__)
  for (; x + 4 <= width; x += 4) {
    const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + width - x - 4), _mm_shuffle_epi32(four, _MM_SHUFFLE(0, 1, 2, 3)));
  }
#endif
  for (; x < width; ++x) to[width - 1 - x] = from[x];
}

}  // namespace

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
  image_ = QImage();  // lets go of mirror_'s pixels, which are written below without a copy
  if (pixels == nullptr) return;
  if (!mirrored_) {
    image_ = QImage(pixels, frame_.width(), frame_.height(), frame_.bytesPerRow(), QImage::Format_RGB32);
    return;
  }
  // Mirrored once per frame, into the same memory each time: painting through a mirroring
  // transform costs more, pixel by pixel on Qt's worker threads.
  if (mirror_.width() != frame_.width() || mirror_.height() != frame_.height()) {
    mirror_ = QImage(frame_.width(), frame_.height(), QImage::Format_RGB32);
  }
  if (mirror_.isNull()) return;
  for (int y = 0; y < frame_.height(); ++y) {
    mirrorRow(reinterpret_cast<const std::uint32_t*>(pixels + static_cast<std::size_t>(y) * frame_.bytesPerRow()),
              reinterpret_cast<std::uint32_t*>(mirror_.scanLine(y)), static_cast<std::size_t>(frame_.width()));
  }
  image_ = mirror_;
}

void PreviewLayerView::setDimmed(bool dimmed) {
  if (dimmed_ == dimmed) return;
  dimmed_ = dimmed;
  if (!dimmed_) greyed_ = QImage();
  update();
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
  if (dimmed_) {
    if (greyed_.isNull() || greyedFrom_ != frameNumber_) {
      greyed_ = image_.convertToFormat(QImage::Format_Grayscale8);
      greyedFrom_ = frameNumber_;
    }
    painter.drawImage(box, greyed_);
    painter.fillRect(box, QColor(0, 0, 0, 96));
  } else {
    painter.drawImage(box, image_);
  }
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
  mirror_ = QImage();
  greyed_ = QImage();
  greyedFrom_ = -1;
  frameNumber_ = 0;
  newFrame_ = false;
}

}  // namespace velto::views
