// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The one source of time for the whole application: "now" on the monotonic and the wall clock,
// single-shot timers on the main thread, and cancellable sleeps for worker threads. Production
// code gets a SystemClock; tests hand in a ManualClock and move time themselves.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "support/cancel_token.h"

class QObject;

namespace velto {

// Owns one pending single-shot timer. Destroying the handle, or assigning another timer to it,
// cancels the timer it held, so a member handle gives "a new request replaces the pending one"
// for free. Use a handle on the thread its timer runs on (the context's thread).
class TimerHandle {
 public:
  // What each clock does for its own timers.
  class Control {
   public:
    virtual ~Control() = default;
    // Afterwards the callback will not run; it is released at once or soon after.
    virtual void cancel() = 0;
    virtual bool isPending() const = 0;
  };

  TimerHandle() = default;
  explicit TimerHandle(std::shared_ptr<Control> control);
  TimerHandle(TimerHandle&& other) noexcept = default;
  TimerHandle& operator=(TimerHandle&& other) noexcept;
  TimerHandle(const TimerHandle&) = delete;
  TimerHandle& operator=(const TimerHandle&) = delete;
  ~TimerHandle();

  // The callback will not run. Does nothing once it has run (it may cancel its own handle).
  void cancel();
  // True until the timer has fired, been cancelled, or lost its context.
  [[nodiscard]] bool isPending() const;

 private:
  std::shared_ptr<Control> control_;
};

class Clock {
 public:
  using Duration = std::chrono::steady_clock::duration;
  using MonotonicTime = std::chrono::steady_clock::time_point;
  using WallTime = std::chrono::system_clock::time_point;

  virtual ~Clock() = default;

  // For deadlines and intervals: never jumps, unrelated to the date. Any thread.
  [[nodiscard]] virtual MonotonicTime monotonicNow() const = 0;
  // For timestamps that mean a date (when the user last touched a control). May jump when the
  // system time is set. Any thread.
  [[nodiscard]] virtual WallTime wallNow() const = 0;

  // Runs `callback` once, no earlier than `delay` from now, on the thread of `context`, which
  // must be the calling thread. The context is held weakly: once it is destroyed the callback
  // is dropped without running. Never blocks. The timer lives as long as the returned handle.
  [[nodiscard]] virtual TimerHandle singleShot(QObject* context, Duration delay,
                                               std::function<void()> callback) = 0;

  // Blocks the calling worker thread for `delay`, or until `cancel` is cancelled, whichever
  // comes first. Returns true when the full delay passed and the token is not cancelled; false
  // means "stop": do not go on with the work that was waiting. Never call it on the main thread:
  // it would freeze the interface, and with a ManualClock it would never return.
  virtual bool sleepFor(Duration delay, const CancelToken& cancel) = 0;
};

}  // namespace velto
