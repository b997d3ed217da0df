// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The production clock: std::chrono's steady and system clocks, Qt timers on the context's
// event loop, condition-variable sleeps.
#pragma once

#include "support/clock.h"

namespace velto {

class SystemClock final : public Clock {
 public:
  MonotonicTime monotonicNow() const override;
  WallTime wallNow() const override;

  // A precise QTimer, child of `context` (so it dies with it), rounded up to whole milliseconds
  // so it never fires early. Needs a running event loop on the context's thread. Cancelling
  // stops and releases the timer at once.
  [[nodiscard]] TimerHandle singleShot(QObject* context, Duration delay,
                                       std::function<void()> callback) override;

  // Waits on a condition variable against the monotonic clock; a cancel wakes it at once.
  bool sleepFor(Duration delay, const CancelToken& cancel) override;
};

}  // namespace velto
