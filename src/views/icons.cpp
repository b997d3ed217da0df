// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/icons.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QMutex>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <set>
#include <string>

#include "support/log_categories.h"

// The resources live in a static library: nothing refers to them, so the linker would drop them
// unless they are registered by hand (outside any namespace, as Q_INIT_RESOURCE requires).
static void initIconResources() { Q_INIT_RESOURCE(icons); }
static void registerIconResources() {
  static const bool registered = (initIconResources(), true);
  (void)registered;
}

namespace velto::views {
namespace {

// The theme names are freedesktop's where the naming specification has one (list-add,
// dialog-warning, view-refresh), else the names GNOME's and KDE's themes share. We ask for the
// symbolic variant; Qt falls back to the plain name by dropping the suffix.
constexpr std::array<IconEntry, 15> kIcons{{
    {"video.fill", "camera-web-symbolic", ":/velto/icons/video-fill.svg"},
    {"video.slash", "camera-disabled-symbolic", ":/velto/icons/video-slash.svg"},
    {"plus", "list-add-symbolic", ":/velto/icons/plus.svg"},
    {"checkmark", "object-select-symbolic", ":/velto/icons/checkmark.svg"},
    {"lock.shield", "security-high-symbolic", ":/velto/icons/lock-shield.svg"},
    {"cursorarrow", "tool-pointer-symbolic", ":/velto/icons/cursorarrow.svg"},
    {"eyedropper", "color-select-symbolic", ":/velto/icons/eyedropper.svg"},
    {"camera.metering.spot", "find-location-symbolic", ":/velto/icons/camera-metering-spot.svg"},
    {"squareshape.split.3x3", "view-grid-symbolic", ":/velto/icons/squareshape-split-3x3.svg"},
    {"exclamationmark.triangle", "dialog-warning-symbolic", ":/velto/icons/exclamationmark-triangle.svg"},
    {"chart.bar.xaxis", "view-statistics-symbolic", ":/velto/icons/chart-bar-xaxis.svg"},
    {"arrow.left.and.right.righttriangle.left.righttriangle.right", "object-flip-horizontal-symbolic",
     ":/velto/icons/mirror.svg"},
    {"arrow.clockwise", "view-refresh-symbolic", ":/velto/icons/arrow-clockwise.svg"},
    {"trash", "edit-delete-symbolic", ":/velto/icons/trash.svg"},
    {"camera", "camera-photo-symbolic", ":/velto/icons/camera.svg"},
}};

const IconEntry* find(std::string_view systemName) {
  const auto it = std::find_if(kIcons.begin(), kIcons.end(),
                               [&](const IconEntry& e) { return e.systemName == systemName; });
  if (it != kIcons.end()) return &*it;
  static QMutex mutex;
  static std::set<std::string, std::less<>> reported;
  QMutexLocker lock(&mutex);
  if (reported.emplace(systemName).second) {
    qCWarning(lcApp).noquote() << "no image for the symbol" << QString::fromUtf8(systemName.data(), qsizetype(systemName.size()));
  }
  return nullptr;
}

// A monochrome symbol: the shape of the theme's icon or of our drawing, painted in one colour
// chosen when it is drawn, at the pixel size it is drawn at (so crisp at any device pixel ratio).
class SymbolEngine final : public QIconEngine {
 public:
  SymbolEngine(QString resource, QIcon themed, std::optional<QColor> tint)
      : resource_(std::move(resource)), themed_(std::move(themed)), tint_(tint) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QSize side(std::min(rect.width(), rect.height()), std::min(rect.width(), rect.height()));
    if (side.isEmpty()) return;
    // A widget's own palette wins over the application's (a tinted or dark panel).
    const QPalette palette = painter->device() && painter->device()->devType() == QInternal::Widget
                                 ? static_cast<QWidget*>(painter->device())->palette()
                                 : QGuiApplication::palette();
    QPixmap pm = render(side * dpr, colour(mode, palette));
    pm.setDevicePixelRatio(dpr);
    const QRect target(QPoint(rect.x() + (rect.width() - side.width()) / 2,
                              rect.y() + (rect.height() - side.height()) / 2),
                       side);
    painter->drawPixmap(target, pm);
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
    return render(size, colour(mode, QGuiApplication::palette()));
  }

  // QIcon asks with the size already in device pixels.
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
    QPixmap pm = pixmap(size, mode, state);
    pm.setDevicePixelRatio(scale);
    return pm;
  }

  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    const int side = std::min(size.width(), size.height());
    return {side, side};
  }

  QIconEngine* clone() const override { return new SymbolEngine(resource_, themed_, tint_); }
  QString key() const override { return QStringLiteral("velto.symbol"); }
  bool isNull() override { return false; }

 private:
  QColor colour(QIcon::Mode mode, const QPalette& palette) const {
    if (mode == QIcon::Disabled) {
      QColor c = tint_.value_or(palette.color(QPalette::Disabled, QPalette::WindowText));
      if (tint_) c.setAlphaF(c.alphaF() * 0.4f);
      return c;
    }
    if (mode == QIcon::Selected) return palette.color(QPalette::Active, QPalette::HighlightedText);
    return tint_.value_or(palette.color(QPalette::Active, QPalette::WindowText));
  }

  QPixmap render(const QSize& size, const QColor& colour) const {
    if (size.isEmpty()) return {};
    const QString cacheKey = QStringLiteral("velto.symbol:%1:%2:%3x%4:%5")
                                 .arg(resource_, themed_.name())
                                 .arg(size.width())
                                 .arg(size.height())
                                 .arg(colour.rgba(), 8, 16);
    QPixmap cached;
    if (QPixmapCache::find(cacheKey, &cached)) return cached;

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing);
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      if (!themed_.isNull()) {
        themed_.paint(&p, QRect(QPoint(), size));
      } else {
        QSvgRenderer svg(resource_);
        svg.render(&p, QRectF(QPointF(), QSizeF(size)));
      }
      // Only the drawing's coverage is kept; the colour is ours.
      p.setCompositionMode(QPainter::CompositionMode_SourceIn);
      p.fillRect(image.rect(), colour);
    }
    QPixmap pm = QPixmap::fromImage(std::move(image));
    QPixmapCache::insert(cacheKey, pm);
    return pm;
  }

  QString resource_;
  QIcon themed_;  // null when the desktop's theme has no such icon
  std::optional<QColor> tint_;
};

QIcon make(std::string_view systemName, std::optional<QColor> tint, bool allowTheme) {
  registerIconResources();
  const IconEntry* entry = find(systemName);
  if (!entry) return {};
  const QString themeName = QString::fromLatin1(entry->themeName);
  QIcon themed;
  if (allowTheme && QIcon::hasThemeIcon(themeName)) themed = QIcon::fromTheme(themeName);
  return QIcon(new SymbolEngine(QString::fromLatin1(entry->resource), themed, tint));
}

}  // namespace

std::span<const IconEntry> iconTable() { return kIcons; }

QIcon icon(std::string_view systemName) { return make(systemName, std::nullopt, true); }

QIcon icon(std::string_view systemName, const QColor& tint) { return make(systemName, tint, true); }

QIcon bundledIcon(std::string_view systemName) { return make(systemName, std::nullopt, false); }

}  // namespace velto::views
