// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Keeping the camera the way the user wants it: the poll reads every control back, refreshes what
// the interface shows, and (when locked, or always when a camera is found again) writes back what
// drifted from the wanted values.
#include <QThread>
#include <algorithm>

#include "model/camera_store.h"
#include "model/write_coalescer.h"
#include "uvc/uvc_device.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

// How long a control the user just changed is left alone by the poll.
constexpr auto kTouchGrace = 1500ms;

}  // namespace

void CameraStore::reconcile(bool force, std::optional<std::vector<ControlID>> only) {
  Q_ASSERT(QThread::currentThread() == thread());
  if (!connected_) return;
  // A slow or hung camera must not pile up poll reads on the queue: one at a time.
  if (!force && pollReadPending_) return;
  if (!force) pollReadPending_ = true;
  if (!only) lastWholeRead_ = clock_.monotonicNow();
  const bool partial = only.has_value();
  onIo([device = open_, only = std::move(only)] { return only ? device->readAll(*only) : device->readAll(); },
       [this, device = open_, force, partial](ControlValues current) {
         if (!force) pollReadPending_ = false;
         if (open_ != device || !connected_) return;
         if (current.empty()) {
           scheduleRescan(kRescanAfterSilence);
           return;
         }
         resetAnswered();
         pruneTouched();
         ControlValues shown = values_;
         for (const auto& [id, v] : current) {
           if (!touched_.contains(id)) shown[id] = v;
         }
         setValues(std::move(shown));
         if (force || keepLocked_) correct(current, device, force, partial);
       });
}

void CameraStore::poll() {
  if (!noticeWatch_ || clock_.monotonicNow() - lastWholeRead_ >= kQuietPollPeriod) {
    reconcile(false);
    return;
  }
  std::vector<ControlID> only = untold_;
  for (ControlID id : autoMovedControls()) {
    if (std::find(only.begin(), only.end(), id) == only.end() && open_->supports(id)) only.push_back(id);
  }
  if (!only.empty()) reconcile(false, std::move(only));
}

std::vector<ControlID> CameraStore::autoMovedControls() const {
  std::vector<ControlID> moved;
  for (ControlID id : allControls()) {
    const auto governor = governingControl(id);
    if (!governor) continue;
    if (auto autoWanted = desired_.find(*governor); autoWanted != desired_.end() && isAutoOn(*governor, autoWanted->second)) {
      moved.push_back(id);
    }
  }
  return moved;
}

void CameraStore::recheckAfterTouch(ControlID id) {
  recheck_.insert(id);
  if (recheckTask_.isPending()) return;
  const auto touched = touched_.find(id);
  Clock::Duration left{};
  if (touched != touched_.end()) {
    left = std::chrono::duration_cast<Clock::Duration>(touched->second + kTouchGrace - clock_.wallNow());
  }
  recheckTask_ = clock_.singleShot(this, std::max(left, Clock::Duration{}) + 1ms, [this] { recheck(); });
}

void CameraStore::recheck() {
  if (!connected_ || recheck_.empty()) return;
  // Read with a read of its own once the poll's is back, not beside it.
  if (pollReadPending_) {
    recheckTask_ = clock_.singleShot(this, 100ms, [this] { recheck(); });
    return;
  }
  std::vector<ControlID> ids(recheck_.begin(), recheck_.end());
  recheck_.clear();
  // Still touched (the user went on changing it): correct() defers it again.
  reconcile(false, std::move(ids));
}

void CameraStore::pruneTouched() {
  const Clock::WallTime cutoff = clock_.wallNow() - kTouchGrace;
  std::erase_if(touched_, [&](const auto& entry) { return entry.second <= cutoff; });
}

ControlValues CameraStore::correct(const ControlValues& current, const std::shared_ptr<UVCDevice>& device, bool force,
                                   bool partial) {
  ControlValues writes;
  for (ControlID id : device->supported()) {
    if (partial && !current.contains(id)) continue;
    if (id == ControlID::hdr) {
      // Nothing to compare with: hdr is written whenever the camera is found, never by the poll.
      if (force && !touched_.contains(id) && desired_.contains(id) && !refused_.contains(id)) writes[id] = desired_.at(id);
      continue;
    }
    auto want = desired_.find(id);
    auto have = current.find(id);
    if (touched_.contains(id)) {
      unenforceable_.erase(id);
      if (keepLocked_ && want != desired_.end() && have != current.end() && want->second != have->second) {
        recheckAfterTouch(id);
      }
      continue;
    }
    if (want == desired_.end() || have == current.end() || want->second == have->second) {
      unenforceable_.erase(id);
      continue;
    }
    // A manual value drifting under its auto mode is the camera doing its job.
    if (auto governor = governingControl(id)) {
      auto autoWanted = desired_.find(*governor);
      if (autoWanted != desired_.end() && isAutoOn(*governor, autoWanted->second)) continue;
    }
    // A value the camera refused is not sent again until the user asks for another.
    if (auto refused = refused_.find(id); refused != refused_.end() && refused->second == want->second) continue;
    const std::pair mismatch{want->second, have->second};
    auto memo = unenforceable_.find(id);
    if (memo != unenforceable_.end() && memo->second == mismatch) continue;  // tried once; it did not hold
    unenforceable_[id] = mismatch;
    writes[id] = want->second;
  }
  if (writes.empty()) return writes;
  ControlValues shown = values_;
  for (const auto& [id, v] : writes) shown[id] = v;
  setValues(std::move(shown));
  writer_->enqueue(writes, device, io_);
  return writes;
}

}  // namespace velto
