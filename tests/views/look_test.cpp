// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The shared look: an error message reads in red on the light and the dark palette alike, on the
// window background and on a section's view background.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "screenshot_support.h"
#include "views/look.h"

namespace velto::views {
namespace {

double luminance(QColor c) {
  auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrast(QColor a, QColor b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(Look, AnErrorReadsRedOnEitherPaletteAndEitherBackground) {
  const QPalette light = QApplication::palette();
  for (const QPalette& palette : {light, testing::darkPalette()}) {
    QApplication::setPalette(palette);
    for (QPalette::ColorRole background : {QPalette::Window, QPalette::Base}) {
      QFrame box;
      box.setBackgroundRole(background);
      box.setAutoFillBackground(true);
      auto* column = new QVBoxLayout(&box);
      QLabel* error = errorLabel(&box);
      error->setText(QStringLiteral("Couldn't reset the camera"));
      column->addWidget(error);
      box.resize(300, 40);
      const QImage shown = box.grab().toImage();
      // The most saturated pixel is the text's colour.
      QColor ink = Qt::black;
      for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
          const QColor c = shown.pixelColor(x, y);
          if (c.hsvSaturationF() > ink.hsvSaturationF()) ink = c;
        }
      }
      const QColor ground = palette.color(background);
      EXPECT_TRUE(ink.hsvHue() <= 15 || ink.hsvHue() >= 345) << qPrintable(ink.name()) << " on " << qPrintable(ground.name());
      EXPECT_GE(contrast(errorColor(palette), ground), 4.5) << qPrintable(ground.name());
    }
  }
  QApplication::setPalette(light);
}

}  // namespace
}  // namespace velto::views
