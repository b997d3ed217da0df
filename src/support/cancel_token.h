// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Cancellation shared between whoever starts a wait and whoever may end it early. A sleeping
// worker holds one copy, the canceller another; every copy sees the same state.
#pragma once

#include <functional>
#include <memory>

namespace velto {

class CancelToken {
  struct State;

 public:
  // A fresh token, not cancelled. Copies share its state; a token is never reset, so a task that
  // is started again gets a new token.
  CancelToken();

  // Marks the token cancelled and runs every registered wake callback, on the calling thread,
  // before returning. Idempotent; safe from any thread; never blocks for longer than the
  // callbacks take.
  void cancel() const;

  // Safe from any thread.
  [[nodiscard]] bool isCancelled() const;

  // Keeps a wake callback registered for as long as it lives. Destroying it unregisters the
  // callback; once the destructor has returned the callback is neither running nor will run.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription();

   private:
    friend class CancelToken;
    Subscription(std::shared_ptr<State> state, unsigned long id);
    void reset();
    std::shared_ptr<State> state_;
    unsigned long id_ = 0;
  };

  // For clocks that block a thread: `wake` runs once when the token is cancelled (at once, on
  // this thread, when it already is). It runs under the token's internal lock, so it must be
  // short, must not block on anything that waits for this token, and must not touch the token
  // itself. Typical use: lock the sleeper's mutex and notify its condition variable.
  [[nodiscard]] Subscription onCancel(std::function<void()> wake) const;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace velto
