// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A main-thread loop built from single-shot timers: wait one period, run the tick, repeat. The
// next wait starts when the tick returns, so ticks are a period plus the tick's own time apart
// and never overlap or pile up after a stall.
#pragma once

#include <QPointer>

#include <functional>
#include <memory>

#include "support/clock.h"

namespace velto {

// Used only on the context's thread, typically as a member of the context.
class PeriodicTask {
 public:
  // Does not start. `context` is held weakly, as by Clock::singleShot: once it is destroyed the
  // loop ends without another tick.
  PeriodicTask(Clock& clock, QObject* context, Clock::Duration period,
               std::function<void()> tick);
  // Stops; safe inside the tick.
  ~PeriodicTask();
  PeriodicTask(const PeriodicTask&) = delete;
  PeriodicTask& operator=(const PeriodicTask&) = delete;

  // The first tick comes one period from now. Does nothing while already running.
  void start();
  // No further tick runs, even when called from inside the tick. start() may follow.
  void stop();
  // Ticks `period` apart from now on: a wait under way starts again with the new period.
  void setPeriod(Clock::Duration period);
  Clock::Duration period() const { return period_; }
  // From start() until stop() or the context's end, also while the tick runs.
  [[nodiscard]] bool isRunning() const;

 private:
  void scheduleNext();
  void fire();

  Clock& clock_;
  QPointer<QObject> context_;
  Clock::Duration period_;
  std::function<void()> tick_;
  bool running_ = false;
  TimerHandle next_;
  // Cleared by the destructor, so a tick that destroys this task is noticed after it returns.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velto
