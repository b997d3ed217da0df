#include "platform/session/wake_observer.h"

#include <QDBusConnection>

namespace velto {

WakeObserver::WakeObserver(std::function<void()> onWake, QObject* parent)
    : QObject(parent), onWake_(std::move(onWake)) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return;
  listening_ = bus.connect("org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "PrepareForSleep", this,
                           SLOT(prepareForSleep(bool)));
}

void WakeObserver::prepareForSleep(bool goingToSleep) {
  if (!goingToSleep && onWake_) onWake_();
}

}  // namespace velto
