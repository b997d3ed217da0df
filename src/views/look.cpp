// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/look.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <algorithm>

namespace velto::views {

QFont valueFont(const QFont& base) {
  // The system's fixed-pitch font at the size of the text around it.
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (base.pointSizeF() > 0) font.setPointSizeF(base.pointSizeF());
  else font.setPixelSize(base.pixelSize());
  return font;
}

QLabel* sectionTitle(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  label->setAccessibleName(text);
  return label;
}

}  // namespace velto::views

namespace velto::views {

QColor errorColor(const QPalette& palette) {
  // GNOME's red 4 on light backgrounds and red 1 on dark ones.
  return palette.color(QPalette::Window).lightnessF() < 0.5 ? QColor(0xff, 0x7b, 0x63) : QColor(0xc0, 0x1c, 0x28);
}

QFont smallerFont(const QFont& base) {
  QFont font = base;
  if (base.pointSizeF() > 0) font.setPointSizeF(base.pointSizeF() * 0.9);
  else font.setPixelSize(std::max(1, base.pixelSize() * 9 / 10));
  return font;
}

namespace {

// Keeps a label's text in the error colour of whatever palette it is given.
class ErrorLabel : public QLabel {
 public:
  explicit ErrorLabel(QWidget* parent) : QLabel(parent) {
    setFont(smallerFont(font()));
    recolour();
  }

 protected:
  void changeEvent(QEvent* event) override {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !recolouring_) recolour();
  }

 private:
  void recolour() {
    recolouring_ = true;
    QPalette p = palette();
    // Text as well: on a frame with the view background (Base), a label draws in Text.
    const QColor red = errorColor(p);
    p.setColor(QPalette::WindowText, red);
    p.setColor(QPalette::Text, red);
    setPalette(p);
    recolouring_ = false;
  }
  bool recolouring_ = false;
};

// The application's style with a slider's groove and handle at about four fifths of their size.
class SmallControlStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    const int size = QProxyStyle::pixelMetric(metric, option, widget);
    switch (metric) {
      case PM_SliderThickness:
      case PM_SliderControlThickness:
      case PM_SliderLength:
        return std::max(8, size * 4 / 5);
      default:
        return size;
    }
  }
};

}  // namespace

QLabel* errorLabel(QWidget* parent) { return new ErrorLabel(parent); }

void useSmallControlSize(QWidget* slider) {
  QStyle* base = QStyleFactory::create(QApplication::style()->name());
  if (!base) return;  // a style that cannot be made twice: the slider keeps the ordinary size
  auto* style = new SmallControlStyle(base);
  style->setParent(slider);
  slider->setStyle(style);
}

}  // namespace velto::views
