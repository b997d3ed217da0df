// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/cancel_token.h"

#include <atomic>
#include <map>
#include <mutex>
#include <utility>

namespace velto {

struct CancelToken::State {
  // Guards `wakes` and `nextId`, and is held while wake callbacks run, which is what lets a
  // Subscription's destructor promise that its callback is finished.
  std::mutex mutex;
  std::atomic<bool> cancelled{false};
  std::map<unsigned long, std::function<void()>> wakes;
  unsigned long nextId = 1;
};

CancelToken::CancelToken() : state_(std::make_shared<State>()) {}

void CancelToken::cancel() const {
  std::lock_guard lock(state_->mutex);
  if (state_->cancelled.exchange(true)) {
    return;
  }
  for (auto& [id, wake] : state_->wakes) {
    wake();
  }
  // Each callback runs once: a cancelled token never cancels again, so nothing is kept.
  state_->wakes.clear();
}

bool CancelToken::isCancelled() const { return state_->cancelled.load(); }

CancelToken::Subscription CancelToken::onCancel(std::function<void()> wake) const {
  std::lock_guard lock(state_->mutex);
  if (state_->cancelled.load()) {
    wake();
    return {};
  }
  const unsigned long id = state_->nextId++;
  state_->wakes.emplace(id, std::move(wake));
  return Subscription(state_, id);
}

CancelToken::Subscription::Subscription(std::shared_ptr<State> state, unsigned long id)
    : state_(std::move(state)), id_(id) {}

CancelToken::Subscription::Subscription(Subscription&& other) noexcept
    : state_(std::move(other.state_)), id_(std::exchange(other.id_, 0)) {}

CancelToken::Subscription& CancelToken::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    reset();
    state_ = std::move(other.state_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

CancelToken::Subscription::~Subscription() { reset(); }

void CancelToken::Subscription::reset() {
  if (!state_) {
    return;
  }
  {
    std::lock_guard lock(state_->mutex);
    state_->wakes.erase(id_);
  }
  state_.reset();
  id_ = 0;
}

}  // namespace velto
