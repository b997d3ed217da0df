// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/clock.h"

#include <utility>

namespace velto {

TimerHandle::TimerHandle(std::shared_ptr<Control> control) : control_(std::move(control)) {}

TimerHandle& TimerHandle::operator=(TimerHandle&& other) noexcept {
  if (this != &other) {
    cancel();
    control_ = std::move(other.control_);
  }
  return *this;
}

TimerHandle::~TimerHandle() { cancel(); }

void TimerHandle::cancel() {
  // Keep the control alive through cancel(): cancelling may destroy what holds other references.
  if (auto control = std::exchange(control_, nullptr)) {
    control->cancel();
  }
}

bool TimerHandle::isPending() const { return control_ && control_->isPending(); }

}  // namespace velto
