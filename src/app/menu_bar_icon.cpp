// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/menu_bar_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <cmath>

#include "support/log.h"

namespace velto::app::MenuBarIcon {
namespace {

// Both drawings share the root: an 18 x 18 box, stroked 1.5 wide with round ends and joins.
#define VELTO_ICON_ROOT                                                                            \
  "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 18 18\" width=\"18\" height=\"18\" "    \
  "fill=\"none\" stroke=\"#000000\" stroke-width=\"1.5\" stroke-linecap=\"round\" "                 \
  "stroke-linejoin=\"round\">"

// A solid ring (the even-odd rule leaves the lens open), a wave in the lens, the stand.
constexpr char kActive[] =
    VELTO_ICON_ROOT
    "<path fill-rule=\"evenodd\" fill=\"#000000\" stroke=\"none\" "
    "d=\"M2.25 7.5 a6.75 6.75 0 1 0 13.5 0 a6.75 6.75 0 1 0 -13.5 0 Z "
    "M5.9 7.5 a3.1 3.1 0 1 0 6.2 0 a3.1 3.1 0 1 0 -6.2 0 Z\"/>"
    "<path fill=\"#000000\" stroke=\"none\" "
    "d=\"M6.85 7.95 q0.5375 -0.5 1.075 0 t1.075 0 t1.075 0 t1.075 0 A2.2 2.2 0 0 1 6.85 7.95 Z\"/>"
    "<path d=\"M9 13.5 V16.25 M5.75 16.25 H12.25\"/>"
    "</svg>";

// The body in outline, a larger lens ring, the wave, the same stand.
constexpr char kIdle[] =
    VELTO_ICON_ROOT
    "<circle cx=\"9\" cy=\"7.5\" r=\"6\"/>"
    "<circle cx=\"9\" cy=\"7.5\" r=\"2.6\" stroke-width=\"1.25\"/>"
    "<path fill=\"#000000\" stroke=\"none\" "
    "d=\"M6.45 8 q0.635 -0.55 1.27 0 t1.27 0 t1.27 0 t1.27 0 A2.6 2.6 0 0 1 6.45 8 Z\"/>"
    "<path d=\"M9 13.5 V16.25 M5.75 16.25 H12.25\"/>"
    "</svg>";

#undef VELTO_ICON_ROOT

// Parsed once on first use and kept, like the images they stand for.
QSvgRenderer& renderer(Drawing drawing) {
  static QSvgRenderer active(svg(Drawing::active));
  static QSvgRenderer idle(svg(Drawing::idle));
  QSvgRenderer& r = drawing == Drawing::active ? active : idle;
  if (!r.isValid()) {
    static bool reported = false;
    if (!reported) {
      reported = true;
      log::warning(log::Layer::app, "the tray icon's drawing does not parse; the icon stays blank");
    }
  }
  return r;
}

}  // namespace

QByteArray svg(Drawing drawing) {
  return drawing == Drawing::active ? QByteArray(kActive) : QByteArray(kIdle);
}

QImage image(Drawing drawing, QSize size, qreal devicePixelRatio, const QColor& colour) {
  if (size.isEmpty() || !(devicePixelRatio > 0)) return {};
  const QSize pixels(int(std::lround(size.width() * devicePixelRatio)), int(std::lround(size.height() * devicePixelRatio)));
  QImage out(pixels, QImage::Format_ARGB32_Premultiplied);
  out.fill(Qt::transparent);
  QSvgRenderer& svg = renderer(drawing);
  if (svg.isValid()) {
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    // Square and centred, whatever the box: the drawing is never distorted.
    const qreal side = std::min(pixels.width(), pixels.height());
    svg.render(&painter, QRectF((pixels.width() - side) / 2, (pixels.height() - side) / 2, side, side));
    // Keep the coverage, take our colour: a template image.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(out.rect(), colour);
  }
  out.setDevicePixelRatio(devicePixelRatio);
  return out;
}

QIcon trayIcon(bool active, const QPalette& palette) {
  const Drawing drawing = active ? Drawing::active : Drawing::idle;
  const QColor normal = palette.color(QPalette::Active, QPalette::WindowText);
  const QColor selected = palette.color(QPalette::Active, QPalette::HighlightedText);
  QIcon icon;
  for (int px : kTraySizes) {
    icon.addPixmap(QPixmap::fromImage(image(drawing, QSize(px, px), 1.0, normal)), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(image(drawing, QSize(px, px), 1.0, selected)), QIcon::Selected);
  }
  return icon;
}

}  // namespace velto::app::MenuBarIcon
