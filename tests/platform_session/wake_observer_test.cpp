// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/session/wake_observer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include "private_bus.h"

namespace velto {
namespace {


void sendPrepareForSleep(QDBusConnection& bus, bool goingToSleep) {
  QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                                   "PrepareForSleep");
  signal << goingToSleep;
  ASSERT_TRUE(bus.send(signal));
}

TEST(WakeObserver, CallsBackWhenTheMachineWakesNotWhenItSleeps) {
  testing::PrivateBus daemon;
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
