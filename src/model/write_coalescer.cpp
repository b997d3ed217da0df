#include "model/write_coalescer.h"

#include "support/serial_queue.h"
#include "uvc/uvc_device.h"

namespace velto {

std::shared_ptr<WriteCoalescer> WriteCoalescer::create() {
  return std::shared_ptr<WriteCoalescer>(new WriteCoalescer());
}

void WriteCoalescer::enqueue(const ControlValues& changes, std::shared_ptr<UVCDevice> device,
                             SerialQueue& queue) {
  bool wasScheduled = false;
  {
    std::lock_guard guard(lock_);
    for (const auto& [id, value] : changes) pending_[id] = value;
    wasScheduled = scheduled_;
    scheduled_ = true;
  }
  if (wasScheduled) return;  // the flush already queued carries these values
  queue.post([self = shared_from_this(), device = std::move(device)] { self->flush(device); });
}

void WriteCoalescer::flush(const std::shared_ptr<UVCDevice>& device) {
  ControlValues batch;
  {
    std::lock_guard guard(lock_);
    batch.swap(pending_);
    scheduled_ = false;
  }
  if (!device) return;
  std::vector<usb::Status> statuses;
  const std::vector<ControlID> failed = device->write(batch, &statuses);
  if (failed.empty() || !onFailure_) return;
  std::vector<WriteFailure> failures;
  for (std::size_t i = 0; i < failed.size(); ++i) failures.push_back({failed[i], statuses[i]});
  onFailure_(std::move(failures));
}

}  // namespace velto
