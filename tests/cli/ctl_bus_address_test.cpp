// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>

#include "cli/ctl_owner_client.h"

namespace velto::cli {
namespace {

// velto-ctl finds the session's owner wherever libdbus finds the session bus: from cron or ssh,
// without DBUS_SESSION_BUS_ADDRESS, the user's bus socket in the runtime directory.
TEST(SessionBusAddressTest, TheVariableFirstThenTheUsersBusSocket) {
  QTemporaryDir runtime;
  const QByteArray dir = QFile::encodeName(runtime.path()), socketPath = dir + "/bus";
  const QByteArray saved[] = {qgetenv("DBUS_SESSION_BUS_ADDRESS"), qgetenv("XDG_RUNTIME_DIR")};
  const QString found = QString::fromLatin1("unix:path=" + socketPath);
  const struct {
    const char* variable;  // DBUS_SESSION_BUS_ADDRESS; empty: unset
    bool runtimeDir, socket;
    std::optional<QString> address;
  } cases[] = {
      {"unix:path=/run/user/1000/bus", true, true, QStringLiteral("unix:path=/run/user/1000/bus")},
      {"", true, true, found},                 // no variable: the runtime directory's socket
      {"", true, false, std::nullopt},         // a plain file of that name is no bus
      {"", false, true, std::nullopt},         // no runtime directory
  };
  for (const auto& c : cases) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    if (c.socket) ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    else QFile(QString::fromLocal8Bit(socketPath)).open(QIODevice::WriteOnly);
    qputenv("DBUS_SESSION_BUS_ADDRESS", c.variable);
    if (c.runtimeDir) qputenv("XDG_RUNTIME_DIR", dir);
    else qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(sessionBusAddress(), c.address) << c.variable << " " << c.runtimeDir << c.socket;
    ::close(fd);
    ::unlink(socketPath.constData());
  }
  qputenv("DBUS_SESSION_BUS_ADDRESS", saved[0]);
  qputenv("XDG_RUNTIME_DIR", saved[1]);
}

}  // namespace
}  // namespace velto::cli
