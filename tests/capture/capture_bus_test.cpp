// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The picture service as strangers on the bus meet it: what a snapshot's descriptor must be, a
// pipe that stalls or loses its reader, and the limits on calls held. A private bus, a scripted
// capture backend and the manual clock.
#include "capture/capture_bus.h"

#include <gtest/gtest.h>

#include <QDBusPendingCall>
#include <QDir>
#include <QDBusUnixFileDescriptor>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "capture/preview_controller.h"
#include "eventually.h"
#include "model/camera_bus.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "private_bus.h"
#include "scripted_backend.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "store_fixture.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

class CaptureBusTest : public testing::StoreOnC200Test {
 protected:
  void SetUp() override {
    if (session.address().isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    std::signal(SIGPIPE, SIG_IGN);  // as every program of ours does
    connectC200();
    auto owned = testing::c200Backend();
    backend = owned.get();
    preview = std::make_unique<PreviewController>(clock, std::move(owned), [] {});
    owner = QDBusConnection::connectToBus(session.address(), "owner");
    service = std::make_unique<CaptureBusService>(clock, [this] { return store.get(); }, *preview, calibrator, owner);
  }
  void TearDown() override {
    service.reset();
    for (int i = 0; i < callers; ++i) QDBusConnection::disconnectFromBus(QStringLiteral("caller-%1").arg(i));
    QDBusConnection::disconnectFromBus("owner");
  }

  QDBusPendingCall call(int caller, const char* method, const QVariantList& args) {
    callers = std::max(callers, caller + 1);
    QDBusConnection c = QDBusConnection::connectToBus(session.address(), QStringLiteral("caller-%1").arg(caller));
    QDBusMessage m = QDBusMessage::createMethodCall(owner.baseService(), kCaptureBusPath, kCaptureBusInterface, method);
    m.setArguments(args);
    return c.asyncCall(m, 60000);
  }
  QDBusPendingCall snapshot(int fd, int caller = 0) { return call(caller, "Snapshot", {QVariant::fromValue(QDBusUnixFileDescriptor(fd))}); }
  // A frame, and the job's next look at the analyzer.
  void frame() {
    backend->frame();
    QCoreApplication::processEvents();
    clock.advance(50ms);
  }
  static bool answered(QDBusPendingCall& c) { return testing::eventually([&] { return c.isFinished(); }); }
  static int eventfds() {
    int n = 0;
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System)) n += fd.symLinkTarget().contains("eventfd");
    return n;
  }

  testing::PrivateBus session;
  testing::ScriptedBackend* backend = nullptr;
  std::unique_ptr<PreviewController> preview;
  Calibrator calibrator{clock};
  QDBusConnection owner{QString()};
  std::unique_ptr<CaptureBusService> service;
  int callers = 0;
  QTemporaryDir dir;
};

TEST_F(CaptureBusTest, ASnapshotIsWrittenOnlyIntoAFileOrAPipeOpenForWriting) {
  int pipeEnds[2], sockets[2];
  ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
  const QByteArray file = QFile::encodeName(dir.filePath("shot.png"));
  const struct {
    const char* what;
    int fd;
    bool taken;
  } cases[] = {
      {"a file opened for writing", ::open(file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), true},
      {"a pipe's write end", pipeEnds[1], true},
      {"a file opened for reading", ::open(file.constData(), O_RDONLY | O_CLOEXEC), false},
      {"a pipe's read end", ::fcntl(pipeEnds[0], F_DUPFD_CLOEXEC, 0), false},
      {"a folder", ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), false},
      {"a socket", sockets[0], false},
      {"a character device", ::open("/dev/null", O_WRONLY | O_CLOEXEC), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QDBusPendingCall shot = snapshot(c.fd);
    if (c.taken) {
      ASSERT_TRUE(testing::eventually([&] { return backend->running; }));
      frame();
    }
    ASSERT_TRUE(answered(shot));
    EXPECT_EQ(shot.error().name(), c.taken ? QString() : busErrorName(CommandOutcome::invalid)) << shot.error().message().toStdString();
    ::close(c.fd);
  }
  EXPECT_FALSE(QImage(dir.filePath("shot.png")).isNull());
  char png[8] = {};
  EXPECT_EQ(::read(pipeEnds[0], png, sizeof png), 8);
  EXPECT_EQ(QByteArray(png + 1, 3), "PNG");
  ::close(sockets[1]);
}

TEST_F(CaptureBusTest, APipeThatTakesNothingHoldsNobodyAndFailsTheSnapshotAlone) {
  enum class Reader { stalls, leavesBefore, leavesWhileWritten };
  const struct {
    Reader reader;
    const char* message;
  } cases[] = {
      {Reader::stalls, "can't write the snapshot (nothing took it within 10 s)"},
      {Reader::leavesBefore, "can't write the snapshot (nobody reads the pipe)"},
      {Reader::leavesWhileWritten, "can't write the snapshot (nobody reads the pipe)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.reader));
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    while (::write(ends[1], "full", 4) > 0) {}  // no room left for the picture
    if (c.reader == Reader::leavesBefore) ::close(ends[0]);
    const int before = eventfds();
    QDBusPendingCall shot = snapshot(ends[1]);
    ::close(ends[1]);
    ASSERT_TRUE(testing::eventually([&] { return backend->running; }));
    frame();
    // Another caller is answered meanwhile.
    QDBusPendingCall formats = call(1, "Formats", {});
    ASSERT_TRUE(answered(formats));
    EXPECT_FALSE(formats.isError()) << formats.error().message().toStdString();
    if (c.reader != Reader::leavesBefore) {
      clock.advance(kSnapshotWriteTimeout - 100ms);
      EXPECT_FALSE(shot.isFinished());
    }
    if (c.reader == Reader::leavesWhileWritten) {
      // Once the writer waits for room (its wake-up made), not before: the pipe is gone then.
      ASSERT_TRUE(testing::eventually([&] { return eventfds() > before; }));
      ::close(ends[0]);
    }
    if (c.reader == Reader::stalls) clock.advance(100ms);
    ASSERT_TRUE(answered(shot));
    EXPECT_EQ(shot.error().name(), busErrorName(CommandOutcome::unavailable));
    EXPECT_EQ(shot.error().message(), c.message);
    if (c.reader == Reader::stalls) ::close(ends[0]);
  }
}

TEST_F(CaptureBusTest, CallsBeyondTheWaitingLimitOrTheirCallersShareAreBusyAtOnce) {
  const struct {
    const char* what;
    std::vector<int> callsPerCaller;
    int busy;
  } cases[] = {
      {"one caller's flood", {40}, 40 - CaptureBusService::kMaxJobsPerCaller},
      {"four callers", {4, 4, 4, 4}, 16 - CaptureBusService::kMaxPictureJobs - CaptureBusService::kMaxWaitingJobs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<QDBusPendingCall> calls;
    for (std::size_t caller = 0; caller < c.callsPerCaller.size(); ++caller) {
      for (int i = 0; i < c.callsPerCaller[caller]; ++i) calls.push_back(call(int(caller), "Stats", {1}));
    }
    auto busy = [&] {
      return std::count_if(calls.begin(), calls.end(), [](const QDBusPendingCall& p) { return p.isFinished(); });
    };
    ASSERT_TRUE(testing::eventually([&] { return busy() == c.busy; }));
    for (QDBusPendingCall& p : calls) {
      if (p.isFinished()) {
        EXPECT_EQ(p.error().name(), kBusyError);
      }
    }
    service->endAll(QStringLiteral("next case"));
    for (QDBusPendingCall& p : calls) ASSERT_TRUE(answered(p));
  }
}

}  // namespace
}  // namespace velto
