// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/histogram_view.h"

#include <QEvent>
#include <QPainter>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <functional>

#include "views/look.h"

namespace velto::views {

namespace {

constexpr int kPadding = 8;
constexpr int kSpacing = 4;
constexpr double kCorner = 8;

// The panel is always dark (it sits over the picture), so its colours are fixed, not the
// palette's: the channels in the desktop's usual red, green and blue.
QColor channel(int r, int g, int b) { return QColor::fromRgbF(r / 255.f, g / 255.f, b / 255.f, 0.55f); }

QFont captionFont(QFont font) {
  // The smallest caption size: three quarters of the text size, never below 7 pt.
  if (font.pointSizeF() > 0) font.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.75));
  else font.setPixelSize(std::max(9, font.pixelSize() * 3 / 4));
  return font;
}

}  // namespace

HistogramView::HistogramView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAccessibleName(tr("Histogram"));
}

void HistogramView::setStats(std::optional<FrameStats> stats) {
  // The pane passes the statistics on whenever anything about the preview changes.
  auto drawnAlike = [](const FrameStats& a, const FrameStats& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.luma == b.luma &&
           a.clippedHighlights == b.clippedHighlights && a.crushedShadows == b.crushedShadows;
  };
  if (stats_.has_value() == stats.has_value() && (!stats || drawnAlike(*stats_, *stats))) return;
  stats_ = std::move(stats);
  setAccessibleDescription(shadowsLabel().text + QStringLiteral(", ") + highlightsLabel().text);
  drawn_ = QImage();
  update();
}

void HistogramView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) drawn_ = QImage();
  QWidget::changeEvent(event);
}

QPainterPath HistogramView::curve(const std::vector<float>& bins, const QSizeF& size) {
  QPainterPath path;
  path.setFillRule(Qt::WindingFill);
  if (bins.size() < 2) return path;
  const double w = size.width();
  const double h = size.height();
  const double last = double(bins.size() - 1);
  path.moveTo(0, h);
  for (std::size_t i = 0; i < bins.size(); ++i) {
    // Values outside 0…1 (or not numbers) stay inside the area.
    const double v = std::isfinite(bins[i]) ? std::clamp(double(bins[i]), 0.0, 1.0) : 0.0;
    path.lineTo(w * double(i) / last, h * (1 - v));
  }
  path.lineTo(w, h);
  return path;
}

HistogramView::Label HistogramView::warning(const QString& label, double fraction) {
  if (!(fraction > 0.01)) return {label, false};
  return {label + QLatin1Char(' ') + QString::number(std::lround(std::min(fraction, 1.0) * 100)) + QLatin1Char('%'), true};
}

HistogramView::Label HistogramView::shadowsLabel() const {
  return warning(tr("Shadows"), stats_ ? stats_->crushedShadows : 0.0);
}

HistogramView::Label HistogramView::highlightsLabel() const {
  return warning(tr("Highlights"), stats_ ? stats_->clippedHighlights : 0.0);
}

void HistogramView::paintEvent(QPaintEvent*) {
  // The picture under the panel repaints it with every frame; the statistics change with every
  // sixth. Drawn once into an image (a plain blend to copy), not path by path each time.
  const qreal ratio = devicePixelRatioF();
  const QSize pixels(qCeil(width() * ratio), qCeil(height() * ratio));
  if (drawn_.size() != pixels || drawn_.devicePixelRatio() != ratio) {
    drawn_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    drawn_.setDevicePixelRatio(ratio);
    // Text in points comes out as on the screen.
    drawn_.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    drawn_.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    drawn_.fill(Qt::transparent);
    draw();
  }
  QPainter(this).drawImage(0, 0, drawn_);
}

namespace {

// Qt fills a path of many spans on its worker threads, waking two threads of its pool several
// times for each panel drawn. Painted in bands this low, the panel and the luma line stay below
// that; the channel areas, an antialiased edge in every column, are blended here instead.
constexpr int kBandRows = 16;

// The area under `bins` (spread evenly across `chart`, in the image's pixels) blended onto
// `image` as the Screen mode does, its top edge antialiased by the share of the pixel covered.
void screenArea(QImage& image, const QRect& chart, const std::vector<float>& bins, const QColor& colour) {
  if (bins.size() < 2 || chart.width() < 1 || chart.height() < 1) return;
  const double alpha = colour.alphaF();
  const double source[3] = {colour.redF() * alpha, colour.greenF() * alpha, colour.blueF() * alpha};
  const double last = double(bins.size() - 1);
  for (int x = 0; x < chart.width(); ++x) {
    const double at = (x + 0.5) / chart.width() * last;
    const auto i = std::min(static_cast<std::size_t>(at), bins.size() - 2);
    auto value = [&](std::size_t k) { return std::isfinite(bins[k]) ? std::clamp(double(bins[k]), 0.0, 1.0) : 0.0; };
    const double v = value(i) + (value(i + 1) - value(i)) * (at - double(i));
    const double top = chart.height() * (1 - v);
    for (int y = std::max(0, static_cast<int>(top)); y < chart.height(); ++y) {
      const double cover = std::min(1.0, y + 1 - top);
      auto* pixel = reinterpret_cast<QRgb*>(image.scanLine(chart.top() + y)) + chart.left() + x;
      const double d[4] = {qRed(*pixel) / 255.0, qGreen(*pixel) / 255.0, qBlue(*pixel) / 255.0, qAlpha(*pixel) / 255.0};
      double out[4];
      for (int c = 0; c < 3; ++c) out[c] = source[c] * cover + d[c] - source[c] * cover * d[c];
      out[3] = alpha * cover + d[3] - alpha * cover * d[3];
      *pixel = qRgba(qRound(out[0] * 255), qRound(out[1] * 255), qRound(out[2] * 255), qRound(out[3] * 255));
    }
  }
}

}  // namespace

void HistogramView::draw() {
  const QFont caption = captionFont(font());
  const QFontMetrics metrics(caption);
  const QRect inner = rect().adjusted(kPadding, kPadding, -kPadding, -kPadding);
  const QRect labels(inner.left(), inner.bottom() + 1 - metrics.height(), inner.width(), metrics.height());
  const QRect chart(inner.topLeft(), QPoint(inner.right(), labels.top() - kSpacing - 1));
  const bool curves = stats_ && chart.width() > 0 && chart.height() > 0;
  const qreal ratio = drawn_.devicePixelRatio();
  auto inBands = [&](const std::function<void(QPainter&)>& paint) {
    QPainter p(&drawn_);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal band = kBandRows / ratio;
    for (qreal top = 0; top < height(); top += band) {
      p.setClipRect(QRectF(0, top, width(), band));
      paint(p);
    }
  };

  inBands([&](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, 0.55f));
    p.drawRoundedRect(QRectF(rect()), kCorner, kCorner);
  });
  if (curves) {
    const QRect area(QPoint(qRound(chart.left() * ratio), qRound(chart.top() * ratio)),
                     QSize(qRound(chart.width() * ratio), qRound(chart.height() * ratio)));
    screenArea(drawn_, area, stats_->red, channel(255, 59, 48));
    screenArea(drawn_, area, stats_->green, channel(52, 199, 89));
    screenArea(drawn_, area, stats_->blue, channel(0, 122, 255));
  }
  const Label shadows = shadowsLabel();
  const Label highlights = highlightsLabel();
  // Secondary text on the dark panel.
  const QColor secondary = QColor::fromRgbF(1, 1, 1, 0.6f);
  inBands([&](QPainter& p) {
    if (curves) {
      p.save();
      p.translate(chart.topLeft());
      p.strokePath(curve(stats_->luma, QSizeF(chart.size())), QPen(QColor::fromRgbF(1, 1, 1, 0.85f), 1.0));
      p.restore();
    }
    p.setFont(caption);
    p.setPen(shadows.warning ? warningSignal() : secondary);
    p.drawText(labels, Qt::AlignLeft | Qt::AlignVCenter, shadows.text);
    p.setPen(highlights.warning ? warningSignal() : secondary);
    p.drawText(labels, Qt::AlignRight | Qt::AlignVCenter, highlights.text);
  });
}

}  // namespace velto::views
