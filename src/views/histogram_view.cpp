// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/histogram_view.h"

#include <QEvent>
#include <QPainter>
#include <QtMath>
#include <algorithm>
#include <cmath>

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
  // sixth. Drawn once into an image (a plain blend to copy), not path by path each time, which
  // costs more than the frame itself and spreads over Qt's worker threads.
  const qreal ratio = devicePixelRatioF();
  const QSize pixels(qCeil(width() * ratio), qCeil(height() * ratio));
  if (drawn_.size() != pixels || drawn_.devicePixelRatio() != ratio) {
    drawn_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    drawn_.setDevicePixelRatio(ratio);
    // Text in points comes out as on the screen.
    drawn_.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    drawn_.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    drawn_.fill(Qt::transparent);
    QPainter painter(&drawn_);
    draw(painter);
  }
  QPainter(this).drawImage(0, 0, drawn_);
}

void HistogramView::draw(QPainter& p) const {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor::fromRgbF(0, 0, 0, 0.55f));
  p.drawRoundedRect(QRectF(rect()), kCorner, kCorner);

  const QFont caption = captionFont(font());
  const QFontMetrics metrics(caption);
  const QRect inner = rect().adjusted(kPadding, kPadding, -kPadding, -kPadding);
  const QRect labels(inner.left(), inner.bottom() + 1 - metrics.height(), inner.width(), metrics.height());
  const QRect chart(inner.topLeft(), QPoint(inner.right(), labels.top() - kSpacing - 1));

  if (stats_ && chart.width() > 0 && chart.height() > 0) {
    p.save();
    p.translate(chart.topLeft());
    const QSizeF area(chart.size());
    p.setCompositionMode(QPainter::CompositionMode_Screen);
    p.fillPath(curve(stats_->red, area), channel(255, 59, 48));
    p.fillPath(curve(stats_->green, area), channel(52, 199, 89));
    p.fillPath(curve(stats_->blue, area), channel(0, 122, 255));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.strokePath(curve(stats_->luma, area), QPen(QColor::fromRgbF(1, 1, 1, 0.85f), 1.0));
    p.restore();
  }

  p.setFont(caption);
  // Secondary text on the dark panel.
  const QColor secondary = QColor::fromRgbF(1, 1, 1, 0.6f);
  const Label shadows = shadowsLabel();
  const Label highlights = highlightsLabel();
  p.setPen(shadows.warning ? warningSignal() : secondary);
  p.drawText(labels, Qt::AlignLeft | Qt::AlignVCenter, shadows.text);
  p.setPen(highlights.warning ? warningSignal() : secondary);
  p.drawText(labels, Qt::AlignRight | Qt::AlignVCenter, highlights.text);
}

}  // namespace velto::views
