// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Launch at login, as an XDG autostart entry: $XDG_CONFIG_HOME/autostart/velto-camera.desktop.
// Desktop sessions start every entry there unless it is hidden or disabled.
//
// Main thread; every call touches one small file and returns promptly.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace velto {

class LoginItem {
 public:
  enum class Status { notRegistered, enabled, disabled };

  // The entry starts `executable` (a path or a name looked up in PATH; any characters) with
  // `arguments`; `autostartDir` defaults to $XDG_CONFIG_HOME/autostart.
  explicit LoginItem(QString executable, QString autostartDir = defaultDirectory());
  LoginItem(QString executable, QStringList arguments, QString autostartDir = defaultDirectory());

  static QString defaultDirectory();
  QString entryPath() const;

  // enabled only when the entry exists and is neither hidden nor disabled by the desktop.
  Status status() const;

  // Writes (or removes) the entry. None on success, else the reason, readable by a person.
  std::optional<QString> registerItem();
  std::optional<QString> unregisterItem();

 private:
  QString executable_;
  QStringList arguments_;
  QString directory_;
};

}  // namespace velto
