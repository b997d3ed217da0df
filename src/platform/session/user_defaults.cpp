// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/session/user_defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QVariant>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace velto {
namespace {

QString errnoText(int err) { return QString::fromUtf8(std::strerror(err)); }

const QString kTooLarge = QStringLiteral("larger than %1 MB").arg(kMaxSettingsFileSize / (1024 * 1024));

// Why what `fd` is open on is not a settings file to read or replace; none when it is one.
std::optional<QString> notASettingsFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errnoText(errno);
  if (S_ISDIR(st.st_mode)) return errnoText(EISDIR);
  if (!S_ISREG(st.st_mode)) return QStringLiteral("not a regular file");
  if (st.st_size > kMaxSettingsFileSize) return kTooLarge;
  return std::nullopt;
}

// Why the file at `path` must not be replaced; none when it is a settings file or missing.
std::optional<QString> notReplaceable(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? std::nullopt : std::optional(errnoText(errno));
  const auto why = notASettingsFile(fd);
  ::close(fd);
  return why;
}

// What QSettings's INI reader would pass over in `text`: it skips what it cannot read without a
// word, so that a save would drop it from the file.
std::optional<QString> droppedLinesOf(const QByteArray& text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString decoded = utf8.decode(text);
  if (utf8.hasError()) return QStringLiteral("bytes that are not text");
  for (const QChar c : decoded) {
    if (c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') return QStringLiteral("bytes that are not text");
  }
  for (const QStringView line : QStringView(decoded).split(u'\n')) {
    const QStringView trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#')) continue;
    if (trimmed.startsWith(u'[')) {
      if (!trimmed.endsWith(u']')) return QStringLiteral("a broken section header");
      continue;
    }
    const auto equals = trimmed.indexOf(u'=');
    if (equals <= 0) return QStringLiteral("lines that are not settings");
  }
  return std::nullopt;
}

}  // namespace

SettingsFileText readSettingsFile(const QString& path) {
  SettingsFileText file;
  // Not waiting in open() is what keeps a FIFO from hanging the caller; fstat on this very
  // descriptor then says what was opened, so nothing can be swapped in between.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) file.refusal = errnoText(errno);
    return file;
  }
  file.refusal = notASettingsFile(fd);
  if (!file.refusal) {
    // A file still growing is read no further than the bound and one byte beyond.
    file.text.resize(kMaxSettingsFileSize + 1);
    qsizetype filled = 0;
    while (filled < file.text.size()) {
      const ssize_t n = ::read(fd, file.text.data() + filled, static_cast<std::size_t>(file.text.size() - filled));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) file.refusal = errnoText(errno);
      if (n <= 0) break;
      filled += n;
    }
    file.text.truncate(filled);
    if (filled > kMaxSettingsFileSize) file.refusal = kTooLarge;
    if (file.refusal) file.text.clear();
  }
  ::close(fd);
  return file;
}

QString UserDefaults::defaultPath() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
  return config + "/velto-camera/velto-camera.conf";
}

UserDefaults::UserDefaults(const QString& path) : path_(path) { load(); }

UserDefaults::~UserDefaults() = default;

QString UserDefaults::path() const { return path_; }

void UserDefaults::load() {
  settings_.reset();  // unsaved changes go with it; the caller holds them elsewhere
  unsynced_.clear();
  SettingsFileText file = readSettingsFile(path_);
  refusal_ = file.refusal;
  writeRefusal_ = file.refusal;
  droppedLines_ = droppedLinesOf(file.text);
  readText_ = std::move(file.text);
  if (refusal_) return;
  // QSettings opens the file again by its name: what was just found a regular file of bounded
  // size. Only a program that already writes the user's configuration folder could swap it in
  // between.
  settings_ = std::make_unique<QSettings>(path_, QSettings::IniFormat);
  if (settings_->status() == QSettings::FormatError && !droppedLines_) droppedLines_ = QStringLiteral("a line that is not a setting");
}

QStringList UserDefaults::keys() const {
  if (settings_) return settings_->allKeys();
  QStringList keys;
  for (const auto& [key, value] : unsynced_) {
    if (value) keys.append(key);
  }
  return keys;
}

std::optional<QString> UserDefaults::keepUnreadableCopy() {
  if (readText_.isEmpty()) return std::nullopt;
  const QByteArray base = QFile::encodeName(path_ + QStringLiteral(".unreadable"));
  for (int i = 0; i < 10; ++i) {
    const QByteArray name = i == 0 ? base : base + '.' + QByteArray::number(i);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
      const SettingsFileText earlier = readSettingsFile(QFile::decodeName(name));
      if (!earlier.refusal && earlier.text == readText_) return QFile::decodeName(name);
      continue;  // another bad content's copy: kept
    }
    std::optional<QString> failed;
    if (fd < 0) {
      failed = errnoText(errno);
    } else {
      qsizetype written = 0;
      while (written < readText_.size() && !failed) {
        const ssize_t n = ::write(fd, readText_.constData() + written, static_cast<std::size_t>(readText_.size() - written));
        if (n < 0 && errno != EINTR) failed = errnoText(errno);
        if (n > 0) written += n;
      }
      if (::close(fd) != 0 && !failed) failed = errnoText(errno);
      if (failed) ::unlink(name.constData());
    }
    if (!failed) return QFile::decodeName(name);
    writeRefusal_ = QStringLiteral("no copy of the unreadable file could be kept (%1)").arg(*failed);
    break;
  }
  if (!writeRefusal_) writeRefusal_ = QStringLiteral("ten copies of unreadable settings files are in the way");
  // The file must not be written now: the settings stay in memory, where nothing writes them.
  for (const QString& key : settings_->allKeys()) unsynced_[key] = settings_->value(key);
  settings_.reset();
  return std::nullopt;
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const {
  QVariant value;
  if (settings_) {
    value = settings_->value(key);
  } else if (const auto it = unsynced_.find(key); it != unsynced_.end() && it->second) {
    value = *it->second;
  }
  switch (value.typeId()) {
    case QMetaType::QByteArray: return value.toByteArray();
    case QMetaType::QString: return value.toString().toUtf8();
    default: return std::nullopt;
  }
}

void UserDefaults::change(const QString& key, std::optional<QVariant> value) {
  if (settings_ && value) {
    settings_->setValue(key, *value);
  } else if (settings_) {
    settings_->remove(key);
  }
  unsynced_[key] = std::move(value);
}

void UserDefaults::setData(const QString& key, const QByteArray& value) { change(key, value); }

std::optional<bool> UserDefaults::boolean(const QString& key) const {
  QVariant value;
  if (settings_) {
    value = settings_->value(key);
  } else if (const auto it = unsynced_.find(key); it != unsynced_.end() && it->second) {
    value = *it->second;
  }
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

void UserDefaults::reload() { load(); }

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
  // A refused file is left as the user has it; so is one that has become something else since.
  if (writeRefusal_) return writeRefusal_;
  if (const auto why = notReplaceable(path_)) return why;
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
    // A format error is what QSettings met reading the file, which it has written all the same;
    // what it dropped was reported and copied when the file was read.
    case QSettings::NoError:
    case QSettings::FormatError:
      unsynced_.clear();
      return std::nullopt;
    case QSettings::AccessError: break;
  }
  return whyUnwritable(path());
}

}  // namespace velto
