#include "platform/session/user_defaults.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

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

void UserDefaults::setData(const QString& key, const QByteArray& value) { settings_->setValue(key, value); }

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

void UserDefaults::setBoolean(const QString& key, bool value) { settings_->setValue(key, value); }

void UserDefaults::remove(const QString& key) { settings_->remove(key); }

bool UserDefaults::sync() {
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

}  // namespace velto
