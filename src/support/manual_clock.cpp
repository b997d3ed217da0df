// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/manual_clock.h"

#include <QObject>
#include <QPointer>
#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace velto {
namespace {

struct Entry {
  Clock::MonotonicTime due;
  std::uint64_t sequence = 0;
  // Read only on the thread that created the timer and advances the clock.
  QPointer<QObject> context;
  std::function<void()> callback;
  bool done = false;  // guarded by Core::mutex
};

using Key = std::pair<Clock::MonotonicTime, std::uint64_t>;

}  // namespace

// Shared with timer handles, which may outlive the clock in a test that tears down in the
// "wrong" order.
struct ManualClock::Core {
  mutable std::mutex mutex;
  // Notified whenever time moves, a sleeper arrives or a sleeper's token is cancelled.
  std::condition_variable changed;
  MonotonicTime now;
  MonotonicTime monotonicOrigin;
  WallTime wallOrigin;  // wallNow = wallOrigin + (now - monotonicOrigin)
  std::map<Key, std::shared_ptr<Entry>> timers;
  std::uint64_t nextSequence = 0;
  std::size_t sleepers = 0;
  bool advancing = false;
};

namespace {

class ManualTimerControl final : public TimerHandle::Control {
 public:
  ManualTimerControl(std::weak_ptr<ManualClock::Core> core, std::shared_ptr<Entry> entry)
      : core_(std::move(core)), entry_(std::move(entry)) {}

  void cancel() override {
    auto core = core_.lock();
    if (!core) {
      return;
    }
    std::function<void()> released;
    {
      std::lock_guard lock(core->mutex);
      if (entry_->done) {
        return;
      }
      entry_->done = true;
      core->timers.erase(Key{entry_->due, entry_->sequence});
      released = std::move(entry_->callback);
    }
    // `released` is destroyed here, outside the lock: its captures may use the clock.
  }

  bool isPending() const override {
    auto core = core_.lock();
    if (!core) {
      return false;
    }
    std::lock_guard lock(core->mutex);
    return !entry_->done && !entry_->context.isNull();
  }

 private:
  std::weak_ptr<ManualClock::Core> core_;
  std::shared_ptr<Entry> entry_;
};

}  // namespace

ManualClock::ManualClock(WallTime wallStart) : core_(std::make_shared<Core>()) {
  // Not zero, so that code treating a zero time point as "never" is caught.
  core_->monotonicOrigin = MonotonicTime(std::chrono::hours(1));
  core_->now = core_->monotonicOrigin;
  core_->wallOrigin = wallStart;
}

ManualClock::~ManualClock() {
  std::map<Key, std::shared_ptr<Entry>> dropped;
  {
    std::lock_guard lock(core_->mutex);
    Q_ASSERT(core_->sleepers == 0);
    for (auto& [key, entry] : core_->timers) {
      entry->done = true;
    }
    dropped.swap(core_->timers);
  }
}

Clock::WallTime ManualClock::defaultWallStart() {
  using namespace std::chrono;
  return sys_days(year(2024) / January / 1);
}

Clock::MonotonicTime ManualClock::monotonicNow() const {
  std::lock_guard lock(core_->mutex);
  return core_->now;
}

Clock::WallTime ManualClock::wallNow() const {
  std::lock_guard lock(core_->mutex);
  return core_->wallOrigin +
         std::chrono::duration_cast<WallTime::duration>(core_->now - core_->monotonicOrigin);
}

TimerHandle ManualClock::singleShot(QObject* context, Duration delay,
                                    std::function<void()> callback) {
  Q_ASSERT(context != nullptr);
  auto entry = std::make_shared<Entry>();
  entry->context = context;
  entry->callback = std::move(callback);
  {
    std::lock_guard lock(core_->mutex);
    entry->due = core_->now + std::max(delay, Duration::zero());
    entry->sequence = core_->nextSequence++;
    core_->timers.emplace(Key{entry->due, entry->sequence}, entry);
  }
  return TimerHandle(std::make_shared<ManualTimerControl>(core_, std::move(entry)));
}

bool ManualClock::sleepFor(Duration delay, const CancelToken& cancel) {
  if (cancel.isCancelled()) {
    return false;
  }
  if (delay <= Duration::zero()) {
    return true;
  }
  // Keeps the core alive for the wake callback even if the test destroys the clock wrongly.
  const std::shared_ptr<Core> core = core_;
  const auto subscription = cancel.onCancel([core] {
    std::lock_guard lock(core->mutex);
    core->changed.notify_all();
  });
  {
    std::unique_lock lock(core->mutex);
    const auto deadline = core->now + delay;
    ++core->sleepers;
    core->changed.notify_all();
    core->changed.wait(lock, [&] { return core->now >= deadline || cancel.isCancelled(); });
    --core->sleepers;
  }
  // The subscription unregisters only after the clock's lock is released (lock order: token,
  // then clock).
  return !cancel.isCancelled();
}

void ManualClock::advance(Duration step) {
  if (step < Duration::zero()) {
    return;
  }
  advanceTo(monotonicNow() + step);
}

void ManualClock::advanceTo(MonotonicTime target) {
  {
    std::lock_guard lock(core_->mutex);
    if (core_->advancing) {
      qFatal("ManualClock::advance called again before it returned");
    }
    core_->advancing = true;
  }
  for (;;) {
    QPointer<QObject> context;
    std::function<void()> callback;
    {
      std::lock_guard lock(core_->mutex);
      const auto first = core_->timers.begin();
      if (first == core_->timers.end() || first->first.first > target) {
        break;
      }
      const std::shared_ptr<Entry> entry = first->second;
      core_->timers.erase(first);
      entry->done = true;
      if (entry->due > core_->now) {
        core_->now = entry->due;
        core_->changed.notify_all();
      }
      context = entry->context;
      callback = std::move(entry->callback);
    }
    // Without the lock: the callback may start timers, cancel them or read the clock.
    if (!context.isNull()) {
      callback();
    }
  }
  std::lock_guard lock(core_->mutex);
  if (target > core_->now) {
    core_->now = target;
    core_->changed.notify_all();
  }
  core_->advancing = false;
}

void ManualClock::setWallNow(WallTime now) {
  std::lock_guard lock(core_->mutex);
  core_->wallOrigin =
      now - std::chrono::duration_cast<WallTime::duration>(core_->now - core_->monotonicOrigin);
}

bool ManualClock::waitForSleepers(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(core_->mutex);
  return core_->changed.wait_for(lock, timeout, [&] { return core_->sleepers >= count; });
}

std::size_t ManualClock::sleeperCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->sleepers;
}

std::size_t ManualClock::pendingTimerCount() const {
  std::lock_guard lock(core_->mutex);
  std::size_t count = 0;
  for (const auto& [key, entry] : core_->timers) {
    if (!entry->context.isNull()) {
      ++count;
    }
  }
  return count;
}

}  // namespace velto
