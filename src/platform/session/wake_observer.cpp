// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/session/wake_observer.h"


namespace velto {

WakeObserver::WakeObserver(std::function<void()> onWake, QDBusConnection bus, QObject* parent)
    : QObject(parent), onWake_(std::move(onWake)) {
  if (!bus.isConnected()) return;
  listening_ = bus.connect("org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "PrepareForSleep", this,
                           SLOT(prepareForSleep(bool)));
}

void WakeObserver::prepareForSleep(bool goingToSleep) {
  if (!goingToSleep && onWake_) onWake_();
}

}  // namespace velto
