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
// The file is untrusted input: only a regular file (or a symbolic link to one) of at most
// kMaxSettingsFileSize bytes is read, judged by what it is on an open descriptor (a device, a FIFO
// or a folder there is never read from or waited on). A file refused so is left as it is: the
// settings in use are the defaults and what is changed stays in memory, sync() answering why
// nothing was written, until reload() finds a file it can read. A file that holds what the reader
// drops (lines that are not settings, binary bytes; what Storage finds unreadable) can be copied
// beside itself as it was (keepUnreadableCopy) before it is written again.
//
// Main thread only (like QSettings, it is not meant to be shared between threads).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <map>
#include <memory>
#include <optional>

class QSettings;

namespace velto {

// The most the settings file may hold. What this program writes there is a few kilobytes (100
// presets of 64-character names with every control is about 60 KB); 4 MB leaves a hand-edited
// file two orders of magnitude of room while bounding what one read may cost.
inline constexpr qint64 kMaxSettingsFileSize = 4 * 1024 * 1024;

// The settings file's bytes, read through one descriptor opened without waiting
// (O_NONBLOCK) and judged by fstat on it; none missing.
struct SettingsFileText {
  QByteArray text;
  // Why the file was not read, in words ("not a regular file", "Is a directory", "larger than
  // 4 MB", an errno's text); none when it was read or there is none.
  std::optional<QString> refusal;
  bool operator==(const SettingsFileText&) const = default;
};
SettingsFileText readSettingsFile(const QString& path);

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

  QStringList keys() const;

  // Why the file was not read at the last (re)load, as readSettingsFile says; the settings are
  // then the defaults and sync() writes nothing.
  std::optional<QString> refusal() const { return refusal_; }
  // What of the file the INI reader drops (binary bytes, lines that are not settings, a broken
  // section); none when every line was read.
  std::optional<QString> droppedLines() const { return droppedLines_; }

  // Copies the file as it was read to <file>.unreadable, or the first of <file>.unreadable.1 ...
  // .9 that is free, unless one of them holds the very same bytes already; its name. None when no
  // copy could be made (all ten hold other bytes, the folder refuses): the file is then not
  // written either (sync() says why) until it is read again. Blocks for a file write.
  std::optional<QString> keepUnreadableCopy();
  // Why sync() writes nothing (the file refused, or no copy of it kept); none when it may write.
  std::optional<QString> writeRefusal() const { return writeRefusal_; }

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
  void load();

  // Null while the file is refused: unsynced_ alone holds the settings then.
  std::unique_ptr<QSettings> settings_;
  QString path_;
  QByteArray readText_;  // the file as it was last read
  std::optional<QString> refusal_;
  std::optional<QString> droppedLines_;
  std::optional<QString> writeRefusal_;  // why sync() must not write: read refused, no copy kept
  // What was changed since the last sync that succeeded (none: removed), for a fresh QSettings
  // to write when the one that failed is replaced (sync).
  std::map<QString, std::optional<QVariant>> unsynced_;
};

}  // namespace velto
