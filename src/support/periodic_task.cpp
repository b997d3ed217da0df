// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/periodic_task.h"

#include <utility>

namespace velto {

PeriodicTask::PeriodicTask(Clock& clock, QObject* context, Clock::Duration period,
                           std::function<void()> tick)
    : clock_(clock), context_(context), period_(period), tick_(std::move(tick)) {}

PeriodicTask::~PeriodicTask() {
  *alive_ = false;
  stop();
}

void PeriodicTask::start() {
  if (running_) {
    return;
  }
  running_ = true;
  scheduleNext();
}

void PeriodicTask::stop() {
  running_ = false;
  next_.cancel();
}

void PeriodicTask::setPeriod(Clock::Duration period) {
  if (period == period_) return;
  period_ = period;
  if (running_) scheduleNext();
}

bool PeriodicTask::isRunning() const { return running_ && !context_.isNull(); }

void PeriodicTask::scheduleNext() {
  if (context_.isNull()) {
    running_ = false;
    return;
  }
  // The timer is owned by next_, which this task owns, so `this` outlives it.
  next_ = clock_.singleShot(context_.data(), period_, [this] { fire(); });
}

void PeriodicTask::fire() {
  const auto alive = alive_;
  // A copy, so the tick may destroy this task (and tick_) while it runs.
  const auto tick = tick_;
  tick();
  if (!*alive || !running_) {
    return;
  }
  // A tick that called stop() and then start() has scheduled a timer already; this one
  // replaces it, so there is still exactly one.
  scheduleNext();
}

}  // namespace velto
