// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/manual_clock.h"

#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "support/serial_queue.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using Fired = std::vector<std::pair<char, Clock::Duration>>;

class ManualClockTest : public ::testing::Test {
 protected:
  Clock::Duration elapsed() const { return clock.monotonicNow() - start; }
  // A timer callback that notes its name and the time it ran at.
  std::function<void()> record(char name) {
    return [this, name] { fired.emplace_back(name, elapsed()); };
  }

  ManualClock clock;
  QObject context;
  const Clock::MonotonicTime start = clock.monotonicNow();
  Fired fired;
  SerialQueue io{"camera.io"};  // destroyed before the clock, so no sleeper outlives it
};

TEST_F(ManualClockTest, TimeMovesOnlyWhenAdvancedAndSettingTheDateMovesOnlyTheWallClock) {
  clock.advance(1500ms);
  EXPECT_EQ(elapsed(), 1500ms);
  EXPECT_EQ(clock.wallNow(), ManualClock::defaultWallStart() + 1500ms);

  const auto date = ManualClock::defaultWallStart() + 24h;
  clock.setWallNow(date);
  clock.advance(2s);
  EXPECT_EQ(elapsed(), 3500ms);
  EXPECT_EQ(clock.wallNow(), date + 2s);
}

TEST_F(ManualClockTest, RunsDueTimersInOrderEachAtItsDueTime) {
  auto c = clock.singleShot(&context, 300ms, record('c'));
  auto a = clock.singleShot(&context, 100ms, record('a'));
  auto b1 = clock.singleShot(&context, 200ms, record('1'));
  auto b2 = clock.singleShot(&context, 200ms, record('2'));
  clock.advance(150ms);
  EXPECT_EQ(fired, (Fired{{'a', 100ms}}));
  EXPECT_TRUE(b1.isPending());

  clock.advance(1s);
  EXPECT_EQ(fired, (Fired{{'a', 100ms}, {'1', 200ms}, {'2', 200ms}, {'c', 300ms}}));
  EXPECT_EQ(elapsed(), 1150ms);
  EXPECT_FALSE(c.isPending());
}

TEST_F(ManualClockTest, TimersStartedByCallbacksRunWhenDueWithinTheSameAdvance) {
  TimerHandle inner;
  TimerHandle late;
  auto outer = clock.singleShot(&context, 100ms, [&] {
    inner = clock.singleShot(&context, 50ms, record('i'));
    late = clock.singleShot(&context, 500ms, record('l'));
  });
  clock.advance(200ms);
  EXPECT_EQ(fired, (Fired{{'i', 150ms}}));
  EXPECT_TRUE(late.isPending());

  // A zero delay runs at the very next advance, even one that does not move time.
  auto now = clock.singleShot(&context, 0ms, record('z'));
  clock.advance(0ms);
  EXPECT_EQ(fired.back(), Fired::value_type('z', 200ms));
}

TEST_F(ManualClockTest, CancelledAndOrphanedTimersNeverRun) {
  auto captured = std::make_shared<int>(0);
  auto cancelled = clock.singleShot(&context, 1s, [captured, run = record('x')] { run(); });
  auto doomed = std::make_unique<QObject>();
  auto orphan = clock.singleShot(doomed.get(), 1s, record('o'));
  clock.advance(999ms);
  cancelled.cancel();
  EXPECT_EQ(captured.use_count(), 1) << "cancelling lets go of the callback at once";
  doomed.reset();
  EXPECT_FALSE(orphan.isPending());
  EXPECT_EQ(clock.pendingTimerCount(), 0u);
  clock.advance(1h);
  EXPECT_TRUE(fired.empty());
}

TEST_F(ManualClockTest, ReplacingAHandleDebouncesABurst) {
  TimerHandle pending;
  pending = clock.singleShot(&context, 800ms, record('r'));
  clock.advance(500ms);
  pending = clock.singleShot(&context, 800ms, record('r'));
  clock.advance(500ms);
  pending = clock.singleShot(&context, 2s, record('r'));  // a longer delay replaces one too
  clock.advance(1999ms);
  EXPECT_TRUE(fired.empty());
  clock.advance(10s);
  EXPECT_EQ(fired, (Fired{{'r', 3s}}));
}

TEST_F(ManualClockTest, ASleepEndsExactlyAtItsDeadline) {
  std::optional<bool> completed;
  io.post([&] { completed = clock.sleepFor(300ms, CancelToken()); });
  ASSERT_TRUE(clock.waitForSleepers(1));
  clock.advance(299ms);
  EXPECT_EQ(clock.sleeperCount(), 1u) << "a sleeper must not wake before its deadline";
  clock.advance(1ms);
  io.waitUntilIdle();
  EXPECT_EQ(completed, true);
}

TEST_F(ManualClockTest, ACancelledSleepEndsEarlyWithFalse) {
  const CancelToken token;
  std::optional<bool> completed;
  io.post([&] { completed = clock.sleepFor(1h, token); });
  ASSERT_TRUE(clock.waitForSleepers(1));
  token.cancel();
  io.waitUntilIdle();
  EXPECT_EQ(completed, false);
  EXPECT_EQ(elapsed(), 0s);
  // An already cancelled token does not block at all, so this may run on the test's thread.
  EXPECT_FALSE(clock.sleepFor(1s, token));
}

}  // namespace
}  // namespace velto
