// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/value_viewer.h"

#include <QEvent>
#include <QWidget>

#include "model/camera_store.h"

namespace velto::views {
namespace {

// A child of the view: it sees the view's show and hide events, and goes with the view.
class ValueViewer final : public QObject {
 public:
  ValueViewer(QWidget* view, CameraStore& store) : QObject(view), view_(view), store_(store) {
    view->installEventFilter(this);
    if (view->isVisible()) store_.setShowingValues(view_, true);
  }
  ~ValueViewer() override { store_.setShowingValues(view_, false); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == view_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
      store_.setShowingValues(view_, event->type() == QEvent::Show);
    }
    return false;
  }

 private:
  const QWidget* view_;  // only compared by the store, never used
  CameraStore& store_;
};

}  // namespace

void reportShowingValues(QWidget* view, CameraStore& store) { new ValueViewer(view, store); }

bool isAwayForReset(const CameraStore& store) { return store.isResetting() && !store.isConnected(); }

bool holdWhileAway(QWidget& row, const CameraStore& store) {
  const bool away = isAwayForReset(store);
  row.setEnabled(!away);
  return away;
}

}  // namespace velto::views
