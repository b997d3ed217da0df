// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Saving snapshots: names that never replace a file, and folders that refuse the picture.
#include "capture/snapshot_saver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sys/fsuid.h>
#include <unistd.h>

namespace velto {
namespace {

const QDateTime kWhen(QDate(2026, 12, 8), QTime(14, 3, 22));

QImage picture(int width = 64, int height = 36) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(200, 120, 40));
  return image;
}

QByteArray contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList everything(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

TEST(SnapshotSaver, NamesTheFileForTheMomentAndNeverReplacesOne) {
  QTemporaryDir home;
  const QString folder = home.filePath("Pictures/Velto Camera");  // neither exists yet

  const SnapshotResult first = saveSnapshot(picture(), folder, kWhen);
  ASSERT_FALSE(first.error) << first.error->english().toStdString();
  EXPECT_EQ(first.path, folder + "/Velto Camera 2026-12-08 at 14.03.22.png");
  EXPECT_EQ(QImage(first.path).size(), QSize(64, 36));

  // Someone else's file under the next number is skipped, not replaced.
  const QString foreign = folder + "/Velto Camera 2026-12-08 at 14.03.22 (2).png";
  QFile other(foreign);
  ASSERT_TRUE(other.open(QIODevice::WriteOnly));
  other.write("not ours");
  other.close();
  const QByteArray firstBytes = contents(first.path);

  const SnapshotResult third = saveSnapshot(picture(32, 18), folder, kWhen);
  ASSERT_FALSE(third.error);
  EXPECT_EQ(third.path, folder + "/Velto Camera 2026-12-08 at 14.03.22 (3).png");
  EXPECT_EQ(QImage(third.path).size(), QSize(32, 18));
  EXPECT_EQ(contents(first.path), firstBytes);
  EXPECT_EQ(contents(foreign), "not ours");
  EXPECT_EQ(everything(folder).size(), 3) << "no temporary file is left behind";
}

TEST(SnapshotSaver, AFolderThatRefusesThePictureSaysWhyAndKeepsNothing) {
  QTemporaryDir home;
  ASSERT_TRUE(QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                     QFileDevice::ReadOther | QFileDevice::ExeOther));
  const QString locked = home.filePath("locked");
  ASSERT_TRUE(QDir().mkpath(locked));
  ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                QFileDevice::ExeOther));
  {
    // Root writes anywhere: the file system checks this thread as nobody instead.
    const bool root = ::geteuid() == 0;
    if (root) ::setfsuid(65534);
    const SnapshotResult result = saveSnapshot(picture(), locked, kWhen);
    if (root) ::setfsuid(0);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->english(), "Could not save the snapshot: " + locked + " is not writable.");
    EXPECT_TRUE(result.path.isEmpty());
    EXPECT_TRUE(everything(locked).isEmpty());
  }

  // A file where a folder should be: that file is named.
  QFile blocker(home.filePath("Pictures"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const SnapshotResult result = saveSnapshot(picture(), home.filePath("Pictures/Velto Camera"), kWhen);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->english(), "Could not save the snapshot: " + home.filePath("Pictures") + " is not a folder.");
}

}  // namespace
}  // namespace velto
