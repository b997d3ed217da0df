// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The symbol table: every image the views name has a theme name and a drawing of ours that
// renders, in the palette's text colour, at the device pixel ratio asked for.
#include "views/icons.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>
#include <algorithm>
#include <set>
#include <string>

namespace velto::views {
namespace {

// Written out from the views' descriptions, not from the table.
const char* const kUsed[] = {
    "video.slash", "video.fill", "plus", "checkmark", "lock.shield", "cursorarrow", "eyedropper",
    "camera.metering.spot", "squareshape.split.3x3", "exclamationmark.triangle", "chart.bar.xaxis",
    "arrow.left.and.right.righttriangle.left.righttriangle.right", "arrow.clockwise", "trash", "camera"};

// The colours of the opaque pixels of `icon` at 16 px and ratio `dpr`; the image's size in `size`.
std::set<QRgb> inkOf(const QIcon& icon, qreal dpr, QSize* size = nullptr) {
  const QImage image = icon.pixmap(QSize(16, 16), dpr).toImage().convertToFormat(QImage::Format_ARGB32);
  if (size) *size = image.size();
  std::set<QRgb> ink;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) == 255) ink.insert(image.pixel(x, y) & 0xFFFFFF);
    }
  }
  return ink;
}

class PaletteScope {
 public:
  explicit PaletteScope(const QColor& text) : saved_(QApplication::palette()) {
    QPalette palette = saved_;
    palette.setColor(QPalette::WindowText, text);
    QApplication::setPalette(palette);
  }
  ~PaletteScope() { QApplication::setPalette(saved_); }

 private:
  QPalette saved_;
};

TEST(Icons, EveryUsedSymbolHasAThemeNameAndADrawingThatRendersAtEachRatio) {
  std::set<std::string_view> names;
  for (const IconEntry& e : iconTable()) EXPECT_TRUE(names.insert(e.systemName).second) << e.systemName;
  EXPECT_EQ(names.size(), std::size(kUsed));
  for (const char* name : kUsed) {
    SCOPED_TRACE(name);
    const auto entry = std::find_if(iconTable().begin(), iconTable().end(),
                                    [&](const IconEntry& e) { return e.systemName == name; });
    ASSERT_NE(entry, iconTable().end());
    EXPECT_FALSE(QString::fromLatin1(entry->themeName).isEmpty());
    EXPECT_TRUE(QSvgRenderer(QString::fromLatin1(entry->resource)).isValid());
    EXPECT_FALSE(icon(name).isNull());
    QSize size;
    EXPECT_FALSE(inkOf(bundledIcon(name), 1.0, &size).empty());
    EXPECT_EQ(size, QSize(16, 16));
    EXPECT_FALSE(inkOf(bundledIcon(name), 2.0, &size).empty());
    EXPECT_EQ(size, QSize(32, 32));
  }
}

TEST(Icons, DrawingsTakeThePalettesTextColourOrTheirTint) {
  for (QColor text : {QColor(20, 20, 20), QColor(235, 235, 235)}) {
    PaletteScope scope(text);
    EXPECT_EQ(inkOf(bundledIcon("plus"), 2.0), std::set<QRgb>{text.rgb() & 0xFFFFFF}) << text.name().toStdString();
  }
  EXPECT_EQ(inkOf(icon("checkmark", QColor(0, 122, 255)), 1.0), std::set<QRgb>{0x007AFF});
}

TEST(Icons, AnUnknownNameGivesAnEmptyIconEveryTime) {
  EXPECT_TRUE(icon("sun.max").isNull());
  EXPECT_TRUE(icon("sun.max").isNull());
  EXPECT_TRUE(icon("").isNull());
  EXPECT_TRUE(bundledIcon("sun.min").isNull());
}

}  // namespace
}  // namespace velto::views
