// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/system_clock.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>

#include "support/serial_queue.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `quit` is called; a broken timer fails the test instead of hanging.
class EventLoop {
 public:
  EventLoop() { QTimer::singleShot(10s, &loop_, [this] { loop_.exit(1); }); }
  void quit() { loop_.quit(); }
  bool run() { return loop_.exec() == 0; }

 private:
  QEventLoop loop_;
};

TEST(SystemClockTimer, FiresOnTheEventLoopNoEarlierThanItsDelay) {
  SystemClock clock;
  QObject context;
  EventLoop loop;
  const auto start = clock.monotonicNow();
  std::optional<Clock::Duration> firedAfter;
  auto handle = clock.singleShot(&context, 2500us, [&] {
    firedAfter = clock.monotonicNow() - start;
    loop.quit();
  });
  EXPECT_TRUE(handle.isPending());
  EXPECT_FALSE(firedAfter) << "a timer never runs inline";
  ASSERT_TRUE(loop.run());
  ASSERT_TRUE(firedAfter);
  EXPECT_GE(*firedAfter, 2500us);
  EXPECT_FALSE(handle.isPending());
}

TEST(SystemClockTimer, CancelledAndOrphanedTimersNeverRun) {
  SystemClock clock;
  auto* context = new QObject;
  auto doomed = std::make_unique<QObject>();
  EventLoop loop;
  auto captured = std::make_shared<int>(0);
  bool cancelledRan = false;
  bool orphanRan = false;

  // Both are due before the last timer below, so they would have run by the time it does.
  auto cancelled =
      clock.singleShot(context, 0ms, [&cancelledRan, captured] { cancelledRan = true; });
  auto orphan = clock.singleShot(doomed.get(), 0ms, [&] { orphanRan = true; });
  cancelled.cancel();
  EXPECT_EQ(captured.use_count(), 1) << "cancelling releases the callback at once";
  doomed.reset();
  EXPECT_FALSE(orphan.isPending());

  // A callback may destroy its own context, and with it its own timer.
  auto last = clock.singleShot(context, 1ms, [&] {
    delete context;
    loop.quit();
  });
  ASSERT_TRUE(loop.run());
  EXPECT_FALSE(cancelledRan);
  EXPECT_FALSE(orphanRan);
  EXPECT_FALSE(last.isPending());
}

TEST(SystemClockSleep, SleepsTheFullDelayUnlessCancelled) {
  SystemClock clock;
  const auto start = clock.monotonicNow();
  EXPECT_TRUE(clock.sleepFor(2ms, CancelToken()));
  EXPECT_GE(clock.monotonicNow() - start, 2ms);

  CancelToken cancelled;
  cancelled.cancel();
  EXPECT_FALSE(clock.sleepFor(1h, cancelled));
  EXPECT_FALSE(clock.sleepFor(0s, cancelled));
}

TEST(SystemClockSleep, ACancelFromAnotherThreadEndsTheSleep) {
  SystemClock clock;
  SerialQueue io("camera.io");
  // Each round the worker announces itself a few instructions before it blocks, so the cancel
  // usually lands during the wait and sometimes just before it; both must end the sleep with
  // false. Twenty rounds make sure the wake-up path itself is exercised; a lost wake-up hangs
  // here until the test times out.
  for (int round = 0; round < 20; ++round) {
    const CancelToken token;
    std::optional<bool> completed;
    std::promise<void> sleeping;
    io.post([&] {
      sleeping.set_value();
      completed = clock.sleepFor(1h, token);
    });
    sleeping.get_future().wait();
    token.cancel();
    io.waitUntilIdle();
    EXPECT_EQ(completed, false);
  }
}

}  // namespace
}  // namespace velto
