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

// Sets an environment variable for the test's scope and puts it back afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const QByteArray* value) : name_(name), had_(qEnvironmentVariableIsSet(name)) {
    if (had_) old_ = qgetenv(name);
    if (value) qputenv(name, *value);
    else qunsetenv(name);
  }
  ~ScopedVariable() {
    if (had_) qputenv(name_, old_);
    else qunsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

// velto-ctl finds the session's owner wherever libdbus finds the session bus: from cron or ssh,
// without DBUS_SESSION_BUS_ADDRESS, the user's bus socket in the runtime directory.
TEST(SessionBusAddressTest, TheVariableFirstThenTheUsersBusSocket) {
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  const QByteArray dir = QFile::encodeName(runtime.path());
  const QByteArray socketPath = dir + "/bus";
  const QByteArray set = "unix:path=/run/user/1000/bus,guid=0";
  struct Case {
    const char* what;
    const QByteArray* variable;
    const QByteArray* runtimeDir;
    bool socket;
    std::optional<QString> address;
  };
  const QByteArray none;
  const Case cases[] = {
      {"the variable wins", &set, &dir, true, QString::fromLatin1(set)},
      {"no variable: the runtime directory's socket", nullptr, &dir, true, QString::fromLatin1("unix:path=" + socketPath)},
      {"an empty variable counts as none", &none, &dir, true, QString::fromLatin1("unix:path=" + socketPath)},
      {"no socket there", nullptr, &dir, false, std::nullopt},
      {"no runtime directory", nullptr, nullptr, true, std::nullopt},
  };
  for (const Case& c : cases) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    if (c.socket) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
      ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    } else {
      QFile plain(QString::fromLocal8Bit(socketPath));  // a file of that name is no bus
      ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    }
    {
      const ScopedVariable variable("DBUS_SESSION_BUS_ADDRESS", c.variable);
      const ScopedVariable runtimeDir("XDG_RUNTIME_DIR", c.runtimeDir);
      EXPECT_EQ(sessionBusAddress(), c.address) << c.what;
    }
    ::close(fd);
    ::unlink(socketPath.constData());
  }
}

}  // namespace
}  // namespace velto::cli
