// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/snapshot_saver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThreadPool>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "support/log.h"

namespace velto {
namespace {

// Enough for every snapshot of one second; past it something else is wrong with the folder.
constexpr int kMostNumbered = 999;

// The file that stands where `folder` or one of the folders above it should be; `folder` when
// there is none.
QString inTheWay(const QString& folder) {
  for (QFileInfo at(folder); !at.isRoot(); at = QFileInfo(at.absolutePath())) {
    if (at.exists() && !at.isDir()) return at.absoluteFilePath();
  }
  return folder;
}

UserText folderError(int err, const QString& folder) {
  const UserText where = UserText::verbatim(QDir::toNativeSeparators(folder));
  switch (err) {
    case EACCES:
    case EPERM:
      return UserText(QT_TRANSLATE_NOOP("Messages", "Could not save the snapshot: %1 is not writable."), {where});
    case EROFS:
      return UserText(QT_TRANSLATE_NOOP("Messages", "Could not save the snapshot: %1 is on a read-only disk."), {where});
    case ENOSPC:
    case EDQUOT:
      return UserText(QT_TRANSLATE_NOOP("Messages", "Could not save the snapshot: the disk holding %1 is full."), {where});
    case ENOTDIR:
    case EEXIST:
      return UserText(QT_TRANSLATE_NOOP("Messages", "Could not save the snapshot: %1 is not a folder."),
                      {UserText::verbatim(QDir::toNativeSeparators(inTheWay(folder)))});
    default:
      return UserText(QT_TRANSLATE_NOOP("Messages", "Could not save the snapshot: %1 could not be written (%2)."),
                      {where, UserText::verbatim(QString::fromLocal8Bit(std::strerror(err)))});
  }
}

SnapshotResult failure(UserText error) {
  log::warning(log::Layer::capture, error.english().toStdString());
  return {{}, {}, std::move(error)};
}

// Moves `from` to `to` unless `to` exists; false with errno set otherwise (EEXIST: it exists).
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link fails just as well on an existing name.
  if (::link(from.constData(), to.constData()) != 0) return false;
  ::unlink(from.constData());
  return true;
}

}  // namespace

QString defaultSnapshotFolder() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation))
      .filePath(QStringLiteral("Velto Camera"));
}

QString snapshotFileName(const QDateTime& when) {
  // Dots between the hours, minutes and seconds: file managers on other systems refuse colons.
  return QStringLiteral("Velto Camera %1 at %2.png")
      .arg(when.toString(QStringLiteral("yyyy-MM-dd")), when.toString(QStringLiteral("HH.mm.ss")));
}

QImage frameImage(const Frame& frame) {
  const std::uint8_t* pixels = frame.pixels();
  if (pixels == nullptr) return {};
  // BGRA bytes are what QImage calls 32-bit RGB on a little-endian machine; the image holds a copy
  // of the frame, which keeps the pixels, for as long as it lives.
  auto* held = new Frame(frame);
  return QImage(pixels, frame.width(), frame.height(), frame.bytesPerRow(), QImage::Format_RGB32,
                [](void* info) { delete static_cast<Frame*>(info); }, held);
}

SnapshotResult saveSnapshot(const QImage& image, const QString& folder, const QDateTime& when) {
  if (image.isNull()) {
    return failure(UserText(QT_TRANSLATE_NOOP("Messages", "Could not save the snapshot: the camera's picture could not be read.")));
  }
  std::error_code made;
  std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(folder).toStdString()), made);
  if (made) return failure(folderError(made.value(), folder));

  // Hidden while it is written, so that nobody opens half a picture; permissions as the umask says.
  const QDir dir(folder);
  QByteArray temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
    temporary = QFile::encodeName(dir.filePath(
        QStringLiteral(".snapshot-%1.png.part").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))));
    fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    return failure(folderError(errno, folder));
  }

  QFile file;
  file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
  QImageWriter writer(&file, "png");
  const bool written = writer.write(image) && file.flush() && ::fsync(fd) == 0;
  if (!written) {
    const int err = errno;
    const QString why = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
    file.close();
    ::unlink(temporary.constData());
    if (err == ENOSPC || err == EDQUOT) return failure(folderError(err, folder));
    return failure(UserText(QT_TRANSLATE_NOOP("Messages", "Could not save the snapshot: %1 could not be written (%2)."),
                            {UserText::verbatim(QDir::toNativeSeparators(folder)), UserText::verbatim(why)}));
  }
  file.close();

  const QString name = snapshotFileName(when);
  const QString stem = name.chopped(4);  // without ".png"
  for (int n = 1; n <= kMostNumbered; ++n) {
    const QString candidate = dir.filePath(n == 1 ? name : QStringLiteral("%1 (%2).png").arg(stem).arg(n));
    if (renameNoReplace(temporary, QFile::encodeName(candidate))) return {candidate, image.size(), std::nullopt};
    if (errno == EEXIST) continue;
    const int err = errno;
    ::unlink(temporary.constData());
    return failure(folderError(err, folder));
  }
  ::unlink(temporary.constData());
  return failure(UserText(QT_TRANSLATE_NOOP("Messages", "Could not save the snapshot: %1 could not be written (%2)."),
                          {UserText::verbatim(QDir::toNativeSeparators(folder)),
                           UserText::verbatim(QStringLiteral("too many snapshots of the same second"))}));
}

SnapshotSaver::SnapshotSaver(QObject* parent) : QObject(parent) {}

void SnapshotSaver::save(const Frame& frame, const QString& folder, const QDateTime& when) {
  ++pending_;
  // `this` is used only by the answer, which runs here and only while this object exists.
  QThreadPool::globalInstance()->start([this, frame, folder, when, back = toSelf_] {
    // Decoding the camera's picture anew may take as long as the encoding; neither on the main thread.
    SnapshotResult result = saveSnapshot(frameImage(frame.fullResolution()), folder, when);
    back.post([this, result = std::move(result)] {
      --pending_;
      emit saved(result);
    });
  });
}

}  // namespace velto
