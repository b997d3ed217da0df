#include "platform/session/wake_observer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

namespace velto {
namespace {

// A private message bus for the test, standing in for the system bus.
class PrivateBus {
 public:
  PrivateBus() {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) return;
    process_.start(daemon, {"--session", "--nofork", "--print-address"});
    if (!process_.waitForReadyRead(5000)) return;
    address_ = QString::fromUtf8(process_.readLine()).trimmed();
  }
  ~PrivateBus() {
    process_.kill();
    process_.waitForFinished();
  }
  QString address() const { return address_; }

 private:
  QProcess process_;
  QString address_;
};

void sendPrepareForSleep(QDBusConnection& bus, bool goingToSleep) {
  QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                                   "PrepareForSleep");
  signal << goingToSleep;
  ASSERT_TRUE(bus.send(signal));
}

TEST(WakeObserver, CallsBackWhenTheMachineWakesNotWhenItSleeps) {
  PrivateBus daemon;
  if (daemon.address().isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
  QDBusConnection listener = QDBusConnection::connectToBus(daemon.address(), "listener");
  QDBusConnection sender = QDBusConnection::connectToBus(daemon.address(), "sender");
  ASSERT_TRUE(listener.isConnected());
  ASSERT_TRUE(sender.registerService("org.freedesktop.login1"));  // the signal must come from logind

  int wakes = 0;
  WakeObserver observer([&] { ++wakes; }, listener);
  EXPECT_TRUE(observer.isListening());
  sendPrepareForSleep(sender, true);
  sendPrepareForSleep(sender, false);
  QElapsedTimer timer;
  timer.start();
  while (wakes == 0 && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(wakes, 1);
  QDBusConnection::disconnectFromBus("listener");
  QDBusConnection::disconnectFromBus("sender");
}

TEST(WakeObserver, WithoutABusItStaysSilent) {
  WakeObserver observer([] { FAIL() << "no bus, no wake"; }, QDBusConnection("no such connection"));
  EXPECT_FALSE(observer.isListening());
}

}  // namespace
}  // namespace velto
