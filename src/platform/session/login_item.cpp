// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/session/login_item.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <algorithm>

namespace velto {
namespace {

// Desktop entry values are "true"/"false"; a key appearing twice keeps its first value.
std::optional<bool> entryFlag(const QString& text, const QString& key) {
  bool inDesktopEntry = false;
  for (const QString& raw : text.split('\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith('[')) {
      inDesktopEntry = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    if (!inDesktopEntry) continue;
    const qsizetype eq = line.indexOf('=');
    if (eq <= 0 || line.left(eq).trimmed() != key) continue;
    const QString value = line.mid(eq + 1).trimmed();
    if (value == QLatin1String("true")) return true;
    if (value == QLatin1String("false")) return false;
    return std::nullopt;
  }
  return std::nullopt;
}

// One argument of the Exec key, by the Desktop Entry Specification's rules for it: an argument
// holding a reserved character is put in double quotes, inside which ", `, $ and \ take a
// backslash; a literal % is doubled everywhere, or it would be read as a field code.
QString execArgument(const QString& argument) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  const bool quoted = argument.isEmpty() ||
                      std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); });
  QString out;
  for (const QChar c : argument) {
    if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  return quoted ? '"' + out + '"' : out;
}

// A value of the string type of desktop files: a backslash and the control characters are
// escaped. This applies on top of the Exec key's own quoting, so a literal backslash inside
// quotes ends up as four.
QString desktopString(const QString& value) {
  QString out;
  for (const QChar c : value) {
    switch (c.unicode()) {
      case '\\': out += QLatin1String("\\\\"); break;
      case '\n': out += QLatin1String("\\n"); break;
      case '\t': out += QLatin1String("\\t"); break;
      case '\r': out += QLatin1String("\\r"); break;
      default: out += c; break;
    }
  }
  return out;
}

}  // namespace

LoginItem::LoginItem(QString executable, QString autostartDir)
    : LoginItem(std::move(executable), QStringList{}, std::move(autostartDir)) {}

LoginItem::LoginItem(QString executable, QStringList arguments, QString autostartDir)
    : executable_(std::move(executable)), arguments_(std::move(arguments)), directory_(std::move(autostartDir)) {}

QString LoginItem::defaultDirectory() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
  return config + "/autostart";
}

QString LoginItem::entryPath() const { return directory_ + "/velto-camera.desktop"; }

LoginItem::Status LoginItem::status() const {
  QFile file(entryPath());
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return Status::notRegistered;
  const QString text = QString::fromUtf8(file.readAll());
  if (entryFlag(text, "Hidden").value_or(false)) return Status::disabled;
  if (!entryFlag(text, "X-GNOME-Autostart-enabled").value_or(true)) return Status::disabled;
  return Status::enabled;
}

std::optional<QString> LoginItem::registerItem() {
  if (!QDir().mkpath(directory_)) return QStringLiteral("Cannot create the folder %1.").arg(directory_);
  QSaveFile file(entryPath());
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return file.errorString();
  QStringList exec{execArgument(executable_)};
  for (const QString& argument : arguments_) exec << execArgument(argument);
  QTextStream out(&file);
  out << "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Velto Camera\n"
         "Comment=Keeps your webcam's settings the way you want them\n"
      << "Exec=" << desktopString(exec.join(' ')) << "\n"
      << "Icon=velto-camera\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
  out.flush();
  if (!file.commit()) return file.errorString();
  return std::nullopt;
}

std::optional<QString> LoginItem::unregisterItem() {
  QFile file(entryPath());
  if (!file.exists()) return std::nullopt;
  if (!file.remove()) return file.errorString();
  return std::nullopt;
}

}  // namespace velto
