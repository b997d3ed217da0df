// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/session/user_defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace velto {

QString UserDefaults::defaultPath() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
  return config + "/velto-camera/velto-camera.conf";
}

UserDefaults::UserDefaults(const QString& path)
    : settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

UserDefaults::~UserDefaults() = default;

QString UserDefaults::path() const { return settings_->fileName(); }

std::optional<QByteArray> UserDefaults::data(const QString& key) const {
  const QVariant value = settings_->value(key);
  switch (value.typeId()) {
    case QMetaType::QByteArray: return value.toByteArray();
    case QMetaType::QString: return value.toString().toUtf8();
    default: return std::nullopt;
  }
}

void UserDefaults::change(const QString& key, std::optional<QVariant> value) {
  if (value) {
    settings_->setValue(key, *value);
  } else {
    settings_->remove(key);
  }
  unsynced_[key] = std::move(value);
}

void UserDefaults::setData(const QString& key, const QByteArray& value) { change(key, value); }

std::optional<bool> UserDefaults::boolean(const QString& key) const {
  const QVariant value = settings_->value(key);
  if (value.typeId() == QMetaType::Bool) return value.toBool();
  if (value.typeId() == QMetaType::QString) {
    // INI files keep every value as text.
    const QString text = value.toString();
    if (text == QLatin1String("true")) return true;
    if (text == QLatin1String("false")) return false;
  }
  return std::nullopt;
}

void UserDefaults::setBoolean(const QString& key, bool value) { change(key, value); }

void UserDefaults::remove(const QString& key) { change(key, std::nullopt); }

void UserDefaults::reload() {
  const QString file = path();
  settings_.reset();  // unsaved changes go with it; the caller holds them elsewhere
  settings_ = std::make_unique<QSettings>(file, QSettings::IniFormat);
  unsynced_.clear();
}

namespace {

// QSettings says only "access error"; the file system says why.
QString whyUnwritable(const QString& path) {
  const QFileInfo file(path);
  if (file.isDir()) return QString::fromUtf8(std::strerror(EISDIR));
  const QByteArray native = QFile::encodeName(path);
  const bool existed = file.exists();
  const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return QString::fromUtf8(std::strerror(errno));
  ::close(fd);
  if (!existed) ::unlink(native.constData());
  // The file is replaced through a new file beside it, so its folder must take new files too.
  const QByteArray folder = QFile::encodeName(file.absolutePath());
  if (::access(folder.constData(), W_OK) != 0) return QString::fromUtf8(std::strerror(errno));
  // Opening takes no space; writing the new file does.
  struct statvfs disk {};
  if (::statvfs(folder.constData(), &disk) == 0 && disk.f_bavail == 0) return QString::fromUtf8(std::strerror(ENOSPC));
  return QStringLiteral("the file could not be written");
}

}  // namespace

std::optional<QString> UserDefaults::sync() {
  // QSettings keeps the first error it met for good, its own writes from the event loop included:
  // after a failure (a full disk since freed) it would call every later write a failure. One that
  // has failed is replaced by a fresh one holding the changes still to be written, so that the
  // answer is about this write alone.
  if (settings_->status() != QSettings::NoError) {
    const QString file = path();
    settings_ = std::make_unique<QSettings>(file, QSettings::IniFormat);
    for (const auto& [key, value] : unsynced_) {
      if (value) {
        settings_->setValue(key, *value);
      } else {
        settings_->remove(key);
      }
    }
  }
  settings_->sync();
  switch (settings_->status()) {
    case QSettings::NoError:
      unsynced_.clear();
      return std::nullopt;
    case QSettings::FormatError: return QStringLiteral("the file is not a settings file");
    case QSettings::AccessError: break;
  }
  return whyUnwritable(path());
}

}  // namespace velto
