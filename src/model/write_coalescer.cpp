// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/write_coalescer.h"

#include <algorithm>

#include "support/serial_queue.h"
#include "uvc/uvc_device.h"

namespace velto {

std::shared_ptr<WriteCoalescer> WriteCoalescer::create(CancelToken closing) {
  return std::shared_ptr<WriteCoalescer>(new WriteCoalescer(std::move(closing)));
}

void WriteCoalescer::enqueue(const ControlValues& changes, std::shared_ptr<UVCDevice> device,
                             SerialQueue& queue) {
  {
    std::lock_guard guard(lock_);
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.device == device; });
    if (it != pending_.end()) {
      // The flush already queued for this camera carries these values.
      for (const auto& [id, value] : changes) it->values[id] = value;
      return;
    }
    pending_.push_back({device, changes});
  }
  queue.post([self = shared_from_this(), device = std::move(device)] { self->flush(device); },
             SerialQueue::Priority::urgent);
}

void WriteCoalescer::flush(const std::shared_ptr<UVCDevice>& device) {
  ControlValues batch;
  {
    std::lock_guard guard(lock_);
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.device == device; });
    if (it == pending_.end()) return;
    batch.swap(it->values);
    pending_.erase(it);
  }
  if (!device) return;
  if (closing_.isCancelled() && device->unresponsive()) return;
  std::vector<usb::Status> statuses;
  const std::vector<ControlID> failed = device->write(batch, &statuses);
  if (failed.empty() || !onFailure_) return;
  std::vector<WriteFailure> failures;
  for (std::size_t i = 0; i < failed.size(); ++i) failures.push_back({failed[i], batch.at(failed[i]), statuses[i]});
  onFailure_(device, std::move(failures));
}

}  // namespace velto
