// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/session/login_item.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace velto {
namespace {

void writeEntry(const QString& path, const char* text) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
}

TEST(LoginItem, RegisterWritesAnEnabledEntryAndUnregisterRemovesIt) {
  QTemporaryDir dir;
  LoginItem item("/usr/bin/velto-camera", {"--hidden"}, dir.filePath("autostart"));
  EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
  EXPECT_EQ(item.registerItem(), std::nullopt);
  EXPECT_EQ(item.status(), LoginItem::Status::enabled);
  QFile file(item.entryPath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().contains("Exec=/usr/bin/velto-camera --hidden\n"));
  EXPECT_EQ(item.unregisterItem(), std::nullopt);
  EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
  EXPECT_EQ(item.unregisterItem(), std::nullopt) << "nothing to remove is not an error";
}

// The Exec line of the entry `item` wrote.
QByteArray execLine(const LoginItem& item) {
  QFile file(item.entryPath());
  if (!file.open(QIODevice::ReadOnly)) return {};
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (line.startsWith("Exec=")) return line.mid(5);
  }
  return {};
}

TEST(LoginItem, ExecQuotesWhatTheDesktopWouldOtherwiseSplitOrExpand) {
  QTemporaryDir dir;
  // A space and a dollar: quoted, the dollar escaped once for the Exec key and its backslash once
  // more for the desktop file's string type.
  LoginItem spaced("/opt/Velto Camera/$HOME/velto-camera", {"--hidden"}, dir.path());
  ASSERT_EQ(spaced.registerItem(), std::nullopt);
  EXPECT_EQ(execLine(spaced), R"("/opt/Velto Camera/\\$HOME/velto-camera" --hidden)");
  // A backslash ends up as four; a quote and a backtick are escaped; a % is no field code.
  LoginItem odd(R"(/opt/a\b"c`d/100%)", {"plain", ""}, dir.path());
  ASSERT_EQ(odd.registerItem(), std::nullopt);
  EXPECT_EQ(execLine(odd), R"("/opt/a\\\\b\\"c\\`d/100%%" plain "")");
  // Nothing reserved: left as it is.
  LoginItem plain("velto-camera", dir.path());
  ASSERT_EQ(plain.registerItem(), std::nullopt);
  EXPECT_EQ(execLine(plain), "velto-camera");
}

TEST(LoginItem, HiddenOrDisabledEntriesAreNotEnabled) {
  QTemporaryDir dir;
  LoginItem item("velto-camera", dir.path());
  writeEntry(item.entryPath(), "[Desktop Entry]\nType=Application\nHidden=true\n");
  EXPECT_EQ(item.status(), LoginItem::Status::disabled);
  writeEntry(item.entryPath(), "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n");
  EXPECT_EQ(item.status(), LoginItem::Status::disabled);
  // Keys of another group do not count.
  writeEntry(item.entryPath(), "[Desktop Entry]\nExec=x\n[Desktop Action quit]\nHidden=true\n");
  EXPECT_EQ(item.status(), LoginItem::Status::enabled);
}

TEST(LoginItem, FailuresComeBackAsReadableReasons) {
  QTemporaryDir dir;
  writeEntry(dir.filePath("blocker"), "a file where the folder should be");
  LoginItem item("velto-camera", dir.filePath("blocker"));
  const auto error = item.registerItem();
  ASSERT_TRUE(error.has_value());
  EXPECT_FALSE(error->isEmpty());
  EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
}

}  // namespace
}  // namespace velto
