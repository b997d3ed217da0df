// Merges control changes into as few device writes as the I/O queue can absorb. A slider drag
// hands in a change per mouse move; at most one flush waits in the queue at any time and it
// carries the newest value of each control. No timer, no delay of its own: a batch goes out as
// soon as the queue reaches it, and whatever arrives until then joins it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/usb/status.h"
#include "uvc/controls.h"

namespace velto {

class SerialQueue;
class UVCDevice;

struct WriteFailure {
  ControlID id;
  usb::Status status;
  friend bool operator==(const WriteFailure&, const WriteFailure&) = default;
};

class WriteCoalescer : public std::enable_shared_from_this<WriteCoalescer> {
 public:
  using FailureHandler = std::function<void(std::vector<WriteFailure>)>;
  static std::shared_ptr<WriteCoalescer> create();

  // Merges `changes` into the pending values and, unless a flush is already waiting, queues one
  // on `queue` that writes them to `device`. Returns at once; never waits for USB. Any thread.
  // Values merged while a flush waits go to the device of the call that queued it.
  void enqueue(const ControlValues& changes, std::shared_ptr<UVCDevice> device, SerialQueue& queue);

  // Told about the controls of a batch that the camera refused, on the queue's thread, after the
  // batch. Set it before the first enqueue; none by default (drift is the poll's business).
  void setFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }

 private:
  WriteCoalescer() = default;
  void flush(const std::shared_ptr<UVCDevice>& device);

  std::mutex lock_;          // guards pending_ and scheduled_; never held during USB traffic
  ControlValues pending_;    // at most one value per control, the newest
  bool scheduled_ = false;   // a flush is queued and has not yet taken pending_
  FailureHandler onFailure_;  // set before use, then only read on the queue
};

}  // namespace velto
