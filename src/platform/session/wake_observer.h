// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Tells when the machine has woken from sleep: logind's PrepareForSleep(false) on the system
// bus. Where there is no system bus or no logind (containers, some test machines) it stays
// silent without error.
//
// Main thread: create, use and destroy it there; the callback runs there.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>

namespace velto {

class WakeObserver : public QObject {
  Q_OBJECT

 public:
  // Listens on `bus` (the system bus unless a test hands in its own).
  explicit WakeObserver(std::function<void()> onWake, QDBusConnection bus = QDBusConnection::systemBus(),
                        QObject* parent = nullptr);

  // Whether the observer is connected to logind's signal.
  bool isListening() const { return listening_; }

 private slots:
  void prepareForSleep(bool goingToSleep);

 private:
  std::function<void()> onWake_;
  bool listening_ = false;
};

}  // namespace velto
