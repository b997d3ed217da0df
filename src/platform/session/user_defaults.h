// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The application's user defaults: a small key-value store in one INI file,
// $XDG_CONFIG_HOME/velto-camera/velto-camera.conf (~/.config when the variable is unset). JSON
// documents are stored as data values, preferences as booleans. The application and velto-ctl
// share the file. Writes land in memory at once and reach the file from the event loop soon after,
// at sync() or at destruction, whichever comes first; changes made by another process are merged
// at that point, key by key.
//
// Main thread only (like QSettings, it is not meant to be shared between threads).
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <map>
#include <memory>
#include <optional>

class QSettings;

namespace velto {

class UserDefaults {
 public:
  static QString defaultPath();

  explicit UserDefaults(const QString& path = defaultPath());
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  QString path() const;

  // The data stored under `key`; none when there is none or it is not data (a hand-edited
  // string counts as its UTF-8 bytes).
  std::optional<QByteArray> data(const QString& key) const;
  // Replaces what `key` held.
  void setData(const QString& key, const QByteArray& value);

  // The boolean under `key`; none when missing or not a boolean.
  std::optional<bool> boolean(const QString& key) const;
  void setBoolean(const QString& key, bool value);

  void remove(const QString& key);

  // Forgets what is in memory, written or not, and reads the file afresh: for an owner that finds
  // the file changed by another program.
  void reload();

  // Writes pending changes to the file and reads what other processes wrote. On failure, why, in
  // words a user can act on ("Permission denied", "Is a directory", "Read-only file system"); the
  // changes stay pending for the next call, whose answer is about that call alone. Blocks for a
  // file write.
  std::optional<QString> sync();

 private:
  void change(const QString& key, std::optional<QVariant> value);

  std::unique_ptr<QSettings> settings_;
  // What was changed since the last sync that succeeded (none: removed), for a fresh QSettings
  // to write when the one that failed is replaced (sync).
  std::map<QString, std::optional<QVariant>> unsynced_;
};

}  // namespace velto
