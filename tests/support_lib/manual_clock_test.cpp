#include "support/manual_clock.h"

#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "support/serial_queue.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

TEST(ManualClock, TimeMovesOnlyWhenAdvancedAndTheWallClockFollows) {
  ManualClock clock;
  const auto start = clock.monotonicNow();
  EXPECT_EQ(clock.monotonicNow(), start);
  EXPECT_EQ(clock.wallNow(), ManualClock::defaultWallStart());

  clock.advance(1500ms);
  EXPECT_EQ(clock.monotonicNow() - start, 1500ms);
  EXPECT_EQ(clock.wallNow() - ManualClock::defaultWallStart(), 1500ms);

  clock.advance(-1s);
  clock.advanceTo(start);
  EXPECT_EQ(clock.monotonicNow() - start, 1500ms) << "time never goes back";

  // Setting the date moves the wall clock alone.
  const auto date = ManualClock::defaultWallStart() + 24h;
  clock.setWallNow(date);
  EXPECT_EQ(clock.monotonicNow() - start, 1500ms);
  clock.advance(2s);
  EXPECT_EQ(clock.wallNow(), date + 2s);
}

TEST(ManualClock, RunsDueTimersInOrderEachAtItsDueTime) {
  ManualClock clock;
  QObject context;
  const auto start = clock.monotonicNow();
  std::vector<std::pair<char, Clock::Duration>> fired;
  auto record = [&](char name) {
    return [&, name] { fired.emplace_back(name, clock.monotonicNow() - start); };
  };
  auto c = clock.singleShot(&context, 300ms, record('c'));
  auto a = clock.singleShot(&context, 100ms, record('a'));
  auto b1 = clock.singleShot(&context, 200ms, record('1'));
  auto b2 = clock.singleShot(&context, 200ms, record('2'));

  clock.advance(150ms);
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_FALSE(a.isPending());
  EXPECT_TRUE(b1.isPending());

  clock.advance(1s);
  const std::vector<std::pair<char, Clock::Duration>> expected{
      {'a', 100ms}, {'1', 200ms}, {'2', 200ms}, {'c', 300ms}};
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(clock.monotonicNow() - start, 1150ms);
}

TEST(ManualClock, TimersStartedByCallbacksRunWhenDueWithinTheSameAdvance) {
  ManualClock clock;
  QObject context;
  const auto start = clock.monotonicNow();
  std::vector<Clock::Duration> fired;
  TimerHandle inner;
  TimerHandle late;
  auto outer = clock.singleShot(&context, 100ms, [&] {
    inner = clock.singleShot(&context, 50ms, [&] { fired.push_back(clock.monotonicNow() - start); });
    late = clock.singleShot(&context, 500ms, [&] { fired.push_back(clock.monotonicNow() - start); });
  });
  clock.advance(200ms);
  EXPECT_EQ(fired, std::vector<Clock::Duration>{150ms});
  EXPECT_TRUE(late.isPending());

  // A zero delay runs at the very next advance, even one that does not move time.
  auto now = clock.singleShot(&context, 0ms, [&] { fired.push_back(0ms); });
  clock.advance(0ms);
  EXPECT_EQ(fired.size(), 2u);
}

TEST(ManualClock, ACancelledTimerNeverRunsAndLetsGoOfItsCallback) {
  ManualClock clock;
  QObject context;
  auto captured = std::make_shared<int>(0);
  bool ran = false;
  auto handle = clock.singleShot(&context, 1s, [&ran, captured] { ran = true; });
  EXPECT_EQ(captured.use_count(), 2);

  clock.advance(999ms);
  handle.cancel();
  EXPECT_EQ(captured.use_count(), 1);
  EXPECT_FALSE(handle.isPending());
  EXPECT_EQ(clock.pendingTimerCount(), 0u);
  clock.advance(1h);
  EXPECT_FALSE(ran);
}

TEST(ManualClock, ReplacingAHandleDebouncesABurst) {
  ManualClock clock;
  QObject context;
  const auto start = clock.monotonicNow();
  std::vector<Clock::Duration> rescans;
  TimerHandle pending;
  auto request = [&](Clock::Duration delay) {
    pending = clock.singleShot(&context, delay,
                               [&] { rescans.push_back(clock.monotonicNow() - start); });
  };
  request(800ms);
  clock.advance(500ms);
  request(800ms);
  clock.advance(500ms);
  request(2s);  // a longer delay replaces a shorter one too
  clock.advance(1999ms);
  EXPECT_TRUE(rescans.empty());
  clock.advance(10s);
  EXPECT_EQ(rescans, std::vector<Clock::Duration>{3s});
  EXPECT_EQ(clock.pendingTimerCount(), 0u);

  // Re-arming from inside the callback replaces the handle that is running, without harm.
  int rounds = 0;
  std::function<void()> again = [&] {
    if (++rounds < 3) {
      pending = clock.singleShot(&context, 1s, again);
    }
  };
  pending = clock.singleShot(&context, 1s, again);
  clock.advance(5s);
  EXPECT_EQ(rounds, 3);
}

TEST(ManualClock, ADestroyedContextDropsItsTimers) {
  ManualClock clock;
  auto context = std::make_unique<QObject>();
  bool ran = false;
  auto handle = clock.singleShot(context.get(), 1s, [&] { ran = true; });
  context.reset();
  EXPECT_FALSE(handle.isPending());
  EXPECT_EQ(clock.pendingTimerCount(), 0u);
  clock.advance(2s);
  EXPECT_FALSE(ran);
}

TEST(ManualClockSleep, ReturnsTrueOnlyOnceTheDeadlineIsReached) {
  ManualClock clock;
  SerialQueue io("camera.io");
  std::optional<bool> completed;
  io.post([&] { completed = clock.sleepFor(300ms, CancelToken()); });

  ASSERT_TRUE(clock.waitForSleepers(1));
  clock.advance(299ms);
  EXPECT_EQ(clock.sleeperCount(), 1u) << "a sleeper must not wake before its deadline";
  clock.advance(1ms);
  io.waitUntilIdle();
  EXPECT_EQ(completed, true);
  EXPECT_EQ(clock.sleeperCount(), 0u);
}

TEST(ManualClockSleep, ACancelledSleepEndsEarlyWithFalse) {
  ManualClock clock;
  SerialQueue io("camera.io");
  const CancelToken token;
  std::optional<bool> completed;
  io.post([&] { completed = clock.sleepFor(1h, token); });

  ASSERT_TRUE(clock.waitForSleepers(1));
  const auto before = clock.monotonicNow();
  token.cancel();
  io.waitUntilIdle();
  EXPECT_EQ(completed, false);
  EXPECT_EQ(clock.monotonicNow(), before);

  // An already cancelled token does not block at all, so this may run on the test's thread.
  EXPECT_FALSE(clock.sleepFor(1s, token));
  EXPECT_TRUE(clock.sleepFor(0s, CancelToken()));
}

TEST(ManualClockSleep, WakesEachSleeperAtItsOwnDeadline) {
  ManualClock clock;
  SerialQueue shortSleep("short");
  SerialQueue longSleep("long");
  std::optional<bool> first;
  std::optional<bool> second;
  shortSleep.post([&] { first = clock.sleepFor(1s, CancelToken()); });
  longSleep.post([&] { second = clock.sleepFor(2s, CancelToken()); });
  ASSERT_TRUE(clock.waitForSleepers(2));

  clock.advance(1500ms);
  shortSleep.waitUntilIdle();
  EXPECT_EQ(first, true);
  EXPECT_EQ(clock.sleeperCount(), 1u);
  clock.advance(500ms);
  longSleep.waitUntilIdle();
  EXPECT_EQ(second, true);
}

}  // namespace
}  // namespace velto
