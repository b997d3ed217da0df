// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/periodic_task.h"

#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/manual_clock.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

class PeriodicTaskTest : public ::testing::Test {
 protected:
  ManualClock clock;
  QObject context;
};

TEST_F(PeriodicTaskTest, TicksOncePerPeriodFromStartUntilStopped) {
  std::vector<Clock::Duration> ticks;
  auto start = clock.monotonicNow();
  PeriodicTask poll(clock, &context, 1500ms,
                    [&] { ticks.push_back(clock.monotonicNow() - start); });
  clock.advance(5s);
  EXPECT_TRUE(ticks.empty()) << "constructing does not start";

  start = clock.monotonicNow();
  poll.start();
  poll.start();  // already running: must not add a second loop
  clock.advance(4600ms);
  EXPECT_EQ(ticks, (std::vector<Clock::Duration>{1500ms, 3000ms, 4500ms}));
  EXPECT_EQ(clock.pendingTimerCount(), 1u);

  poll.stop();
  EXPECT_FALSE(poll.isRunning());
  clock.advance(10s);
  EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(PeriodicTaskTest, TheTickMayStopRestartOrDestroyItsTask) {
  int stopping = 0;
  PeriodicTask stopper(clock, &context, 1s, [&] {
    if (++stopping == 2) {
      stopper.stop();
    }
  });
  int restarting = 0;
  PeriodicTask restarter(clock, &context, 1s, [&] {
    ++restarting;
    restarter.stop();
    restarter.start();
  });
  int destroying = 0;
  std::unique_ptr<PeriodicTask> destroyed;
  destroyed = std::make_unique<PeriodicTask>(clock, &context, 1s, [&] {
    ++destroying;
    destroyed.reset();
  });
  stopper.start();
  restarter.start();
  destroyed->start();

  clock.advance(5s);
  EXPECT_EQ(stopping, 2);
  EXPECT_EQ(restarting, 5) << "a restart inside the tick must leave exactly one loop";
  EXPECT_EQ(destroying, 1);
  EXPECT_EQ(clock.pendingTimerCount(), 1u);
}

TEST_F(PeriodicTaskTest, EndsWithItsContext) {
  auto owner = std::make_unique<QObject>();
  int ticks = 0;
  PeriodicTask watchdog(clock, owner.get(), 1s, [&] { ++ticks; });
  watchdog.start();
  clock.advance(1s);
  owner.reset();
  clock.advance(5s);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

}  // namespace
}  // namespace velto
