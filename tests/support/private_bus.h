// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A private message bus for a test: a dbus-daemon of its own, standing in for the session or the
// system bus. address() is empty when dbus-daemon is not installed.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace velto::testing {

class PrivateBus {
 public:
  // The session bus's usual configuration, or the one in `configFile`.
  explicit PrivateBus(const QString& configFile = {}) {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) return;
    const QString config = configFile.isEmpty() ? QStringLiteral("--session") : "--config-file=" + configFile;
    process_.start(daemon, {config, "--nofork", "--print-address"});
    if (!process_.waitForReadyRead(5000)) return;
    address_ = QString::fromUtf8(process_.readLine()).trimmed();
  }
  ~PrivateBus() {
    process_.kill();
    process_.waitForFinished();
  }
  QString address() const { return address_; }

 private:
  QProcess process_;
  QString address_;
};

}  // namespace velto::testing
