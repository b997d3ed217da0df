// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The tray icon's drawings: rendered at ratios 1 and 2 in the colour asked for and nothing else,
// each drawing's shape where it should be, and the tray's icon following the palette.
#include "app/menu_bar_icon.h"

#include <gtest/gtest.h>

#include <QPixmap>

namespace velto::app {
namespace {

using MenuBarIcon::Drawing;

int alphaAt(const QImage& image, QPointF at) {
  const qreal dpr = image.devicePixelRatio();
  return qAlpha(image.pixel(int(at.x() * dpr), int(at.y() * dpr)));
}
// At least half covered (a 1.5 wide line covers three quarters of a pixel at ratio 1), or bare.
bool inked(const QImage& image, QPointF at) { return alphaAt(image, at) >= 128; }
bool bare(const QImage& image, QPointF at) { return alphaAt(image, at) < 32; }

// Every visibly covered pixel's colour differs from `colour` by at most this much per channel.
int worstDeviation(const QImage& premultiplied, const QColor& colour, int* covered) {
  const QImage image = premultiplied.convertToFormat(QImage::Format_ARGB32);
  int worst = 0;
  *covered = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (qAlpha(p) < 64) continue;
      ++*covered;
      worst = std::max({worst, std::abs(qRed(p) - colour.red()), std::abs(qGreen(p) - colour.green()),
                        std::abs(qBlue(p) - colour.blue())});
    }
  }
  return worst;
}

TEST(MenuBarIcon, BothDrawingsRenderMonochromeInTheGivenColourAtRatiosOneAndTwo) {
  for (Drawing drawing : {Drawing::active, Drawing::idle}) {
    for (const QColor& colour : {QColor(Qt::black), QColor(Qt::white), QColor(46, 52, 54)}) {
      for (qreal dpr : {1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << int(drawing) << " " << colour.name().toStdString() << " @" << dpr);
        const QImage image = MenuBarIcon::image(drawing, MenuBarIcon::kSize, dpr, colour);
        EXPECT_EQ(image.size(), QSize(18, 18) * dpr);
        EXPECT_EQ(image.devicePixelRatio(), dpr);
        int covered = 0;
        EXPECT_LE(worstDeviation(image, colour, &covered), 3);
        // Between a fifth and a half of the box is ink, at either ratio.
        EXPECT_GT(covered, image.width() * image.height() / 5);
        EXPECT_LT(covered, image.width() * image.height() / 2);
      }
    }
  }
}

TEST(MenuBarIcon, TheDrawingsHaveTheirShapes) {
  for (qreal dpr : {1.0, 2.0}) {
    const QImage active = MenuBarIcon::image(Drawing::active, MenuBarIcon::kSize, dpr, Qt::black);
    const QImage idle = MenuBarIcon::image(Drawing::idle, MenuBarIcon::kSize, dpr, Qt::black);
    // The solid body against the outline: 4.5 from the lens centre is ink only in the first.
    EXPECT_TRUE(inked(active, {9, 3.0}));
    EXPECT_TRUE(bare(idle, {9, 3.0}));
    // The outline itself, 6 from the centre.
    EXPECT_TRUE(inked(idle, {9, 1.5}));
    // The open lens above the wave, and the wave below it.
    EXPECT_TRUE(bare(active, {9, 6.0}));
    EXPECT_TRUE(bare(idle, {9, 6.0}));
    EXPECT_TRUE(inked(active, {9.2, 8.5}));
    EXPECT_TRUE(inked(idle, {9.2, 8.5}));
    // The stand and its foot; nothing beside the foot.
    for (const QImage* image : {&active, &idle}) {
      EXPECT_TRUE(inked(*image, {9, 15.0}));
      EXPECT_TRUE(inked(*image, {6.2, 16.25}));
      EXPECT_TRUE(bare(*image, {3.5, 16.25}));
    }
  }
}

TEST(MenuBarIcon, EmptySizesGiveNullImages) {
  EXPECT_TRUE(MenuBarIcon::image(Drawing::active, QSize(0, 18), 1, Qt::black).isNull());
  EXPECT_TRUE(MenuBarIcon::image(Drawing::idle, MenuBarIcon::kSize, 0, Qt::black).isNull());
  // A box that is not square keeps the drawing square and centred.
  const QImage wide = MenuBarIcon::image(Drawing::active, QSize(36, 18), 1, Qt::black);
  EXPECT_TRUE(inked(wide, {18, 15.0}));
  EXPECT_TRUE(bare(wide, {4, 7.5}));
}

TEST(MenuBarIcon, TheTrayIconIsDrawnInThePalettesTextColourAtEachTraySize) {
  for (const QColor& text : {QColor(Qt::black), QColor(238, 238, 236)}) {
    QPalette palette;
    palette.setColor(QPalette::WindowText, text);
    const QIcon icon = MenuBarIcon::trayIcon(true, palette);
    const QList<QSize> sizes = icon.availableSizes();
    for (int px : MenuBarIcon::kTraySizes) EXPECT_TRUE(sizes.contains(QSize(px, px))) << px;
    for (int px : {16, 22, 44}) {
      const QImage image = icon.pixmap(QSize(px, px)).toImage();
      ASSERT_EQ(image.size(), QSize(px, px)) << "drawn for its own size, not scaled from another";
      int covered = 0;
      EXPECT_LE(worstDeviation(image, text, &covered), 3);
      EXPECT_GT(covered, 0);
    }
  }
  QPalette palette;
  EXPECT_NE(MenuBarIcon::trayIcon(true, palette).pixmap(22).toImage(),
            MenuBarIcon::trayIcon(false, palette).pixmap(22).toImage());
}

}  // namespace
}  // namespace velto::app
