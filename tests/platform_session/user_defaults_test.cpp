// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/session/user_defaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <string_view>

#include <sys/stat.h>

namespace velto {
namespace {

const QByteArray kSettings = "[General]\nkeepLocked=false\n";

QByteArray contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

void put(const QString& path, const QByteArray& text) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
}

TEST(UserDefaults, OnlyARegularFileOfBoundedSizeIsReadAndWritten) {
  struct Case {
    const char* what;
    std::function<void(const QString& path, const QString& beside)> make;
    std::optional<QString> refusal;
  };
  const Case cases[] = {
      {"regular file", [](const QString& path, const QString&) { put(path, kSettings); }, std::nullopt},
      {"link to a regular file",
       [](const QString& path, const QString& beside) {
         put(beside, kSettings);
         QFile::link(beside, path);
       },
       std::nullopt},
      {"link to /dev/zero", [](const QString& path, const QString&) { QFile::link("/dev/zero", path); },
       "not a regular file"},
      {"FIFO", [](const QString& path, const QString&) { ::mkfifo(QFile::encodeName(path).constData(), 0600); },
       "not a regular file"},
      {"folder", [](const QString& path, const QString&) { QDir().mkpath(path); }, "Is a directory"},
      {"file beyond the bound",
       [](const QString& path, const QString&) {
         QFile file(path);
         file.open(QIODevice::WriteOnly);
         file.resize(kMaxSettingsFileSize + 1);
       },
       "larger than 4 MB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    const QString path = dir.filePath("velto-camera.conf");
    c.make(path, dir.filePath("elsewhere.conf"));
    const bool wasLink = QFileInfo(path).isSymLink(), wasFile = QFileInfo(path).isFile();
    const qint64 size = QFileInfo(path).size();
    {
      UserDefaults defaults(path);
      EXPECT_EQ(defaults.refusal(), c.refusal);
      EXPECT_EQ(defaults.boolean("keepLocked"), c.refusal ? std::nullopt : std::optional(false));
      defaults.setBoolean("openWindowAtLaunch", false);
      EXPECT_EQ(defaults.boolean("openWindowAtLaunch"), false) << "changes are held in memory";
      EXPECT_EQ(defaults.sync(), c.refusal);
    }
    const QFileInfo after(path);
    EXPECT_EQ(after.isSymLink(), wasLink);
    EXPECT_EQ(after.isFile(), wasFile);
    EXPECT_EQ(after.size(), size + (c.refusal ? 0 : qint64(sizeof("openWindowAtLaunch=false\n") - 1)));
  }
}

TEST(UserDefaults, WhatTheIniReaderDropsIsNamed) {
  using namespace std::string_view_literals;
  const std::pair<std::string_view, std::optional<QString>> cases[] = {
      {"[General]\n; a comment\n\nkeepLocked=true\n", std::nullopt},
      {"[General]\nkeepLocked=tr\0ue\n"sv, "bytes that are not text"},
      {"[General]\nname=\xff\xfe\n", "bytes that are not text"},
      {"[General]\nkeepLocked\n", "lines that are not settings"},
      {"[General\nkeepLocked=true\n", "a broken section header"},
  };
  for (const auto& [text, dropped] : cases) {
    QTemporaryDir dir;
    const QString path = dir.filePath("velto-camera.conf");
    put(path, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    UserDefaults defaults(path);
    EXPECT_EQ(defaults.droppedLines(), dropped) << text;
  }
}

TEST(UserDefaults, AnUnreadableFileIsCopiedOncePerContentNeverOverAnother) {
  struct Case {
    const char* what;
    QList<QByteArray> earlier;  // .unreadable, .unreadable.1, ...
    std::optional<QString> copy;
    qsizetype copies;  // afterwards
  };
  const QByteArray bad = "junk\n";
  const Case cases[] = {
      {"first copy", {}, "velto-camera.conf.unreadable", 1},
      {"the same bytes kept before", {"other\n", bad}, "velto-camera.conf.unreadable.1", 2},
      {"other bytes kept before", {"other\n"}, "velto-camera.conf.unreadable.1", 2},
      {"ten other copies", QList<QByteArray>(10, "other\n"), std::nullopt, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    const QString path = dir.filePath("velto-camera.conf");
    put(path, bad);
    for (int i = 0; i < c.earlier.size(); ++i) {
      put(path + ".unreadable" + (i == 0 ? QString() : "." + QString::number(i)), c.earlier[i]);
    }
    UserDefaults defaults(path);
    const auto copy = defaults.keepUnreadableCopy();
    EXPECT_EQ(copy, c.copy ? std::optional(dir.filePath(*c.copy)) : std::nullopt);
    if (copy) {
      EXPECT_EQ(contents(*copy), bad);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1 + c.copies);
    defaults.setBoolean("keepLocked", true);
    EXPECT_EQ(defaults.sync().has_value(), !copy) << "without a copy the file is not written";
    EXPECT_EQ(contents(path) == bad, !copy);
  }
}

}  // namespace
}  // namespace velto
