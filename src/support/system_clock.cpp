// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/system_clock.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <utility>

namespace velto {
namespace {

// Lives on the timer's thread only, like the QTimer it controls.
class QtTimerControl final : public TimerHandle::Control {
 public:
  explicit QtTimerControl(QTimer* timer) : timer_(timer) {}

  void cancel() override {
    if (done_) {
      return;
    }
    done_ = true;
    // Deleting now releases the callback's captures at once. Safe even inside another timer's
    // callback; this timer's own callback never gets here, it marked itself done first.
    delete timer_.data();
  }

  bool isPending() const override { return !done_ && !timer_.isNull(); }

  void markFired() { done_ = true; }

 private:
  // Null once the context, its parent, is destroyed.
  QPointer<QTimer> timer_;
  bool done_ = false;
};

std::chrono::milliseconds timerInterval(Clock::Duration delay) {
  // QTimer counts whole milliseconds in an int; rounding up keeps "no earlier than delay".
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
  return std::clamp(ms, std::chrono::milliseconds(0),
                    std::chrono::milliseconds(std::numeric_limits<int>::max()));
}

}  // namespace

Clock::MonotonicTime SystemClock::monotonicNow() const { return std::chrono::steady_clock::now(); }

Clock::WallTime SystemClock::wallNow() const { return std::chrono::system_clock::now(); }

TimerHandle SystemClock::singleShot(QObject* context, Duration delay,
                                    std::function<void()> callback) {
  Q_ASSERT(context != nullptr);
  Q_ASSERT(context->thread() == QThread::currentThread());

  auto* timer = new QTimer(context);
  timer->setSingleShot(true);
  timer->setTimerType(Qt::PreciseTimer);
  auto control = std::make_shared<QtTimerControl>(timer);
  // The connection holds the control weakly: the handle owns it, and a handle that is gone has
  // already deleted the timer, so the lock below only fails if Qt fires a deleted timer.
  QObject::connect(timer, &QTimer::timeout, timer,
                   [timer, weak = std::weak_ptr<QtTimerControl>(control),
                    callback = std::move(callback)] {
                     auto alive = weak.lock();
                     if (!alive) {
                       return;
                     }
                     alive->markFired();
                     // Qt keeps this functor alive while it runs, even if the callback
                     // destroys the context and with it the timer.
                     timer->deleteLater();
                     callback();
                   });
  timer->start(timerInterval(delay));
  return TimerHandle(std::move(control));
}

bool SystemClock::sleepFor(Duration delay, const CancelToken& cancel) {
  if (delay <= Duration::zero()) {
    return !cancel.isCancelled();
  }
  const auto deadline = monotonicNow() + delay;
  std::mutex mutex;
  std::condition_variable woken;
  {
    // The callback takes `mutex` after the token is marked cancelled, so the predicate below
    // either sees the mark or the wait is already in place to receive the notification.
    const auto subscription = cancel.onCancel([&] {
      std::lock_guard lock(mutex);
      woken.notify_all();
    });
    std::unique_lock lock(mutex);
    woken.wait_until(lock, deadline, [&] { return cancel.isCancelled(); });
    // `lock` is released before `subscription` unregisters: cancel() holds the token's lock
    // while it takes `mutex`, so the reverse order could deadlock.
  }
  return !cancel.isCancelled();
}

}  // namespace velto
