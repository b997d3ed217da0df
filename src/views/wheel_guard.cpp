// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/wheel_guard.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace velto::views {
namespace {

class WheelGuard : public QObject {
 public:
  explicit WheelGuard(QWidget* control) : QObject(control) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Wheel) return false;
    if (static_cast<QWidget*>(watched)->hasFocus()) return false;
    // Swallowed here but not accepted: Qt offers the event to the parents, so the form scrolls.
    event->ignore();
    return true;
  }
};

}  // namespace

void takeWheelOnlyWithFocus(QWidget* control) {
  control->setFocusPolicy(Qt::StrongFocus);
  control->installEventFilter(new WheelGuard(control));
}

}  // namespace velto::views
