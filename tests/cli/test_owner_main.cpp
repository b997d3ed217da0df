// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A stand-in for the desktop application as the session's owner: it takes the name from
// `velto-ctl watch`, runs the one store, and gives the name back when it is stopped (SIGTERM).
// Prints "owner" once its store has settled on a camera.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <csignal>
#include <iostream>
#include <unistd.h>

#include "model/camera_store.h"
#include "model/session_owner.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "support/system_clock.h"

namespace {
int stopPipe[2] = {-1, -1};
void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(stopPipe[1], &byte, 1);
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (::pipe(stopPipe) != 0) return 1;
  std::signal(SIGTERM, onSignal);
  QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });

  velto::SystemClock clock;
  velto::UserDefaults defaults;
  velto::LoginItem login(QStringLiteral("velto-camera"));
  velto::SessionOwner owner(
      velto::SessionOwner::Claim::replace,
      [&] {
        defaults.reload();
        auto store = std::make_unique<velto::CameraStore>(clock, defaults, login, velto::CameraStore::Options{});
        QObject::connect(store.get(), &velto::CameraStore::connectionSettled, [] { std::cout << "owner" << std::endl; });
        return store;
      },
      QDBusConnection::sessionBus());
  owner.claim();
  if (!owner.claimed()) return 2;
  return QCoreApplication::exec();
}
