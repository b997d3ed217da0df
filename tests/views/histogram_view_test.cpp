// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The histogram: its curves and labels as pure functions, and what a paint of it shows.
#include "views/histogram_view.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainterPath>
#include <cmath>

#include "views/look.h"

namespace velto::views {
namespace {

TEST(HistogramLabels, TurnOrangeOnlyPastOnePercent) {
  const struct {
    double fraction;
    const char* text;
    bool warning;
  } cases[] = {{0.0, "Shadows", false},    {0.01, "Shadows", false},    {0.011, "Shadows 1%", true},
               {0.025, "Shadows 3%", true}, {0.996, "Shadows 100%", true}, {NAN, "Shadows", false}};
  for (const auto& c : cases) {
    const auto label = HistogramView::warning(QStringLiteral("Shadows"), c.fraction);
    EXPECT_EQ(label.text, QString::fromUtf8(c.text)) << c.fraction;
    EXPECT_EQ(label.warning, c.warning) << c.fraction;
  }
}

TEST(HistogramCurves, RunFromCornerToCornerThroughEveryBin) {
  const QSizeF area(126, 50);
  EXPECT_TRUE(HistogramView::curve({}, area).isEmpty());
  EXPECT_TRUE(HistogramView::curve({0.5f}, area).isEmpty());

  // A black frame's spike at the left edge, and a little at the right.
  std::vector<float> spike(64, 0.f);
  spike[0] = 1.f;
  spike[63] = 0.5f;
  const QPainterPath path = HistogramView::curve(spike, area);
  ASSERT_EQ(path.elementCount(), 66);
  EXPECT_EQ(QPointF(path.elementAt(0)), QPointF(0, 50));
  EXPECT_EQ(QPointF(path.elementAt(1)), QPointF(0, 0));
  EXPECT_EQ(QPointF(path.elementAt(32)), QPointF(62, 50));  // bin 31 of 63 steps of 2
  EXPECT_EQ(QPointF(path.elementAt(64)), QPointF(126, 25));
  EXPECT_EQ(QPointF(path.elementAt(65)), QPointF(126, 50));
  EXPECT_EQ(path.fillRule(), Qt::WindingFill);
}

// The view painted over a mid-grey picture.
QImage paint(HistogramView& view) {
  view.resize(220, 96);
  QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(128, 128, 128));
  view.render(&image, {}, {}, QWidget::DrawChildren);
  return image;
}

TEST(HistogramView, EmptyStatisticsDrawTheBarePanelAndLabels) {
  HistogramView view;
  const QImage none = paint(view);
  FrameStats empty;
  empty.crushedShadows = 1.0;  // a frame without readable pixels may still say anything
  view.setStats(empty);
  EXPECT_EQ(view.shadowsLabel().text, QStringLiteral("Shadows 100%"));
  EXPECT_EQ(view.highlightsLabel().text, QStringLiteral("Highlights"));
  const QImage drawn = paint(view);
  for (QPoint p : {QPoint(20, 20), QPoint(110, 40), QPoint(200, 60)}) EXPECT_EQ(drawn.pixel(p), none.pixel(p)) << p.x();
  EXPECT_LT(qGray(drawn.pixel(110, 40)), 128);  // the dark panel over the picture
}

TEST(HistogramView, ChannelsAddTowardWhiteAndTheLumaLineIsOnTop) {
  HistogramView view;
  FrameStats flat;
  flat.red = flat.green = flat.blue = std::vector<float>(64, 1.f);
  flat.luma = std::vector<float>(64, 0.5f);
  view.setStats(flat);
  const QImage image = paint(view);
  // Where all three overlap, each channel is bright: a normal blend would leave blue on top.
  const QColor mixed = image.pixelColor(110, 20);
  EXPECT_GT(mixed.red(), 150);
  EXPECT_GT(mixed.green(), 150);
  EXPECT_GT(mixed.blue(), 150);
  // The luma line crosses the middle of the chart area.
  int brightest = 0;
  for (int y = 8; y < 80; ++y) brightest = std::max(brightest, qGray(image.pixel(110, y)));
  EXPECT_GT(brightest, qGray(mixed.rgb()));
}

}  // namespace
}  // namespace velto::views
