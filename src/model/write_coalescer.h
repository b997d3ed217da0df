// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Merges control changes into as few device writes as the I/O queue can absorb. A slider drag
// hands in a change per mouse move; at most one flush per camera waits in the queue at any time
// and it carries the newest value of each control. No timer, no delay of its own: a batch goes out
// as soon as the queue reaches it, and whatever arrives until then joins it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/usb/status.h"
#include "support/cancel_token.h"
#include "uvc/controls.h"

namespace velto {

class SerialQueue;
class UVCDevice;

struct WriteFailure {
  ControlID id;
  std::int64_t value;  // what was written
  usb::Status status;
  friend bool operator==(const WriteFailure&, const WriteFailure&) = default;
};

class WriteCoalescer : public std::enable_shared_from_this<WriteCoalescer> {
 public:
  // Told, on the queue's thread after each batch, which of its controls the camera refused.
  using FailureHandler = std::function<void(const std::shared_ptr<UVCDevice>&, std::vector<WriteFailure>)>;

  // Once `closing` is cancelled (the owner is going away), batches for a camera that has just let
  // a request time out are dropped instead of waiting out another time-out each.
  static std::shared_ptr<WriteCoalescer> create(CancelToken closing = CancelToken());

  // Merges `changes` into the values pending for `device` and, unless a flush for that device is
  // already waiting, queues one on `queue` (urgent: it overtakes queued read-backs). Values only
  // ever reach the device they were enqueued for. Returns at once; never waits for USB. Any thread.
  void enqueue(const ControlValues& changes, std::shared_ptr<UVCDevice> device, SerialQueue& queue);

  // Set it before the first enqueue; none by default (drift is the poll's business).
  void setFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }

 private:
  explicit WriteCoalescer(CancelToken closing) : closing_(std::move(closing)) {}
  void flush(const std::shared_ptr<UVCDevice>& device);

  struct Pending {
    std::shared_ptr<UVCDevice> device;
    ControlValues values;  // at most one value per control, the newest
  };
  std::mutex lock_;                // guards pending_; never held during USB traffic
  std::vector<Pending> pending_;   // one entry per device whose flush is queued and has not taken it
  CancelToken closing_;
  FailureHandler onFailure_;       // set before use, then only read on the queue
};

}  // namespace velto
