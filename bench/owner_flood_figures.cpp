// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Figures for the session's owner under strangers' calls, printed, not asserted, and not run by
// CTest: how soon other callers are answered while a snapshot's pipe stalls and while one caller
// floods the picture service, and the owner's descriptors and memory around 1,000 queued calls.
// `velto-ctl watch` is the owner, on a private bus with a simulated camera. Run by hand.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "capture/capture_bus.h"
#include "model/camera_bus.h"
#include "private_bus.h"
#include "sim/profile.h"
#include "sim_fixture.h"

using namespace velto;

namespace {

int descriptors(qint64 pid) { return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::System).size()); }

long residentKB(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').front().toLong();
  }
  return -1;
}

// Milliseconds another caller waits for Cameras and for Formats, the worst of `rounds`.
double worstAnswer(const QString& address, int rounds) {
  QDBusConnection other = QDBusConnection::connectToBus(address, "other");
  double worst = 0;
  for (int i = 0; i < rounds; ++i) {
    for (auto [path, interface, method] : {std::tuple{kCameraBusPath, kCameraBusInterface, "Cameras"},
                                           std::tuple{kCaptureBusPath, kCaptureBusInterface, "Formats"}}) {
      QElapsedTimer timer;
      timer.start();
      const QDBusMessage answer =
          other.call(QDBusMessage::createMethodCall(kOwnerBusName, path, interface, method), QDBus::Block, 60000);
      worst = std::max(worst, timer.nsecsElapsed() / 1e6);
      if (answer.type() == QDBusMessage::ErrorMessage) std::printf("  %s: %s\n", method, qPrintable(answer.errorMessage()));
    }
  }
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  velto::testing::PrivateBus session;
  velto::testing::SimBus bus;
  bus.plug(sim::c200Profile(), "c200");
  QTemporaryDir config;
  QProcessEnvironment env = bus.programEnvironment();
  env.insert("XDG_CONFIG_HOME", config.path());
  env.insert("VELTO_SYSFS_ROOT", config.filePath("no-sysfs"));
  env.insert("DBUS_SESSION_BUS_ADDRESS", session.address());
  QProcess watch;
  watch.setProcessEnvironment(env);
  watch.start(VELTO_CTL_PATH, {"watch"});
  QByteArray said;
  while (!said.contains("connected:") && watch.waitForReadyRead(20000)) said += watch.readAllStandardOutput();
  const qint64 pid = watch.processId();
  std::printf("owner: velto-ctl watch, pid %lld\n", pid);
  std::printf("other caller, idle: worst answer %.1f ms\n", worstAnswer(session.address(), 20));

  // A snapshot into a pipe nobody reads.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  while (::write(ends[1], "full", 4) > 0) {}
  QDBusConnection stranger = QDBusConnection::connectToBus(session.address(), "stranger");
  QDBusMessage shot = QDBusMessage::createMethodCall(kOwnerBusName, kCaptureBusPath, kCaptureBusInterface, "Snapshot");
  shot.setArguments({QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))});
  QElapsedTimer stalled;
  stalled.start();
  QDBusPendingCall pending = stranger.asyncCall(shot, 60000);
  QThread::msleep(1000);  // the frame arrives and the writer waits for room
  std::printf("other caller, while a pipe stalls: worst answer %.1f ms\n", worstAnswer(session.address(), 20));
  pending.waitForFinished();
  std::printf("the stalled snapshot: %s after %.1f s\n", qPrintable(pending.error().message()), stalled.elapsed() / 1e3);
  ::close(ends[0]);
  ::close(ends[1]);

  // Floods from one caller: snapshots into a file, then statistics.
  QTemporaryDir pictures;
  const int file = ::open(QFile::encodeName(pictures.filePath("flood.png")).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  for (auto [count, method] : {std::pair{1000, "Snapshot"}, std::pair{2000, "Stats"}}) {
    QThread::msleep(500);
    const int fdsBefore = descriptors(pid);
    const long rssBefore = residentKB(pid);
    QDBusConnection flood = QDBusConnection::connectToBus(session.address(), QStringLiteral("flood-%1").arg(method));
    std::vector<QDBusPendingCall> calls;
    QElapsedTimer sending;
    sending.start();
    for (int i = 0; i < count; ++i) {
      QDBusMessage m = QDBusMessage::createMethodCall(kOwnerBusName, kCaptureBusPath, kCaptureBusInterface, method);
      m.setArguments({QByteArray(method) == "Stats" ? QVariant(30) : QVariant::fromValue(QDBusUnixFileDescriptor(file))});
      calls.push_back(flood.asyncCall(m, 120000));
    }
    const double otherWorst = worstAnswer(session.address(), 10);
    int fdsPeak = fdsBefore;
    long rssPeak = rssBefore;
    auto unanswered = [&] { return std::count_if(calls.begin(), calls.end(), [](const QDBusPendingCall& c) { return !c.isFinished(); }); };
    while (unanswered() > 0 && sending.elapsed() < 120000) {
      fdsPeak = std::max(fdsPeak, descriptors(pid));
      rssPeak = std::max(rssPeak, residentKB(pid));
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(5);
    }
    const double allAnswered = sending.elapsed() / 1e3;
    const auto busy = std::count_if(calls.begin(), calls.end(), [](const QDBusPendingCall& c) { return c.error().name() == kBusyError; });
    const auto ok = std::count_if(calls.begin(), calls.end(), [](const QDBusPendingCall& c) { return !c.isError(); });
    calls.clear();
    QDBusConnection::disconnectFromBus(QStringLiteral("flood-%1").arg(method));
    QThread::msleep(1000);
    std::printf("%d %s calls from one caller: %lld busy, %lld answered, all within %.2f s; other caller's worst answer "
                "meanwhile %.1f ms\n  owner's descriptors %d before, %d at most, %d after; memory %ld KB before, "
                "%ld KB at most, %ld KB after\n",
                count, method, static_cast<long long>(busy), static_cast<long long>(ok), allAnswered, otherWorst, fdsBefore,
                fdsPeak, descriptors(pid), rssBefore, rssPeak, residentKB(pid));
  }
  ::close(file);
  watch.terminate();
  watch.waitForFinished(10000);
  return 0;
}
