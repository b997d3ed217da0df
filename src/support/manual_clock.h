// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A clock for tests: time stands still until the test moves it. Advancing runs the timers that
// fall due, in order, on the test's thread, and releases worker threads whose sleep has ended, so
// every delay of the system can be tested without waiting in real time.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "support/clock.h"

namespace velto {

class ManualClock final : public Clock {
 public:
  // Monotonic time starts at an arbitrary fixed point; the wall clock at `wallStart`.
  explicit ManualClock(WallTime wallStart = defaultWallStart());
  // Pending timers are dropped. No thread may still be inside sleepFor.
  ~ManualClock() override;
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  // Midnight UTC, 1 January 2024.
  static WallTime defaultWallStart();

  MonotonicTime monotonicNow() const override;
  WallTime wallNow() const override;

  // The timer runs inside a later advance() on that thread (the test's main thread), never on
  // its own; a zero delay runs at the next advance, even advance(0). Never blocks.
  [[nodiscard]] TimerHandle singleShot(QObject* context, Duration delay,
                                       std::function<void()> callback) override;

  // Blocks until advance() reaches the deadline or the token is cancelled. Worker threads only.
  bool sleepFor(Duration delay, const CancelToken& cancel) override;

  // Moves both clocks forward by `step`, stopping at each due timer: the clock reads the timer's
  // due time while its callback runs. Timers due at the same time run in the order they were
  // created; timers created by a callback that fall due within the step run too. Sleepers whose
  // deadline has passed are released (they run on, concurrently, on their own threads). Call
  // from one thread, never from a timer callback. A negative step does nothing.
  void advance(Duration step);
  // The same, up to an absolute monotonic time; a time in the past does nothing.
  void advanceTo(MonotonicTime target);

  // Sets the wall clock alone, like the user changing the date; timers and sleepers, which
  // follow the monotonic clock, do not notice.
  void setWallNow(WallTime now);

  // Blocks until at least `count` threads are blocked in sleepFor. The real-time `timeout` is
  // only a safety net so that a broken test fails instead of hanging; returns false when it
  // expires.
  bool waitForSleepers(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
  [[nodiscard]] std::size_t sleeperCount() const;
  // Timers that would still run: neither fired, cancelled, nor without their context.
  [[nodiscard]] std::size_t pendingTimerCount() const;

  struct Core;

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace velto
