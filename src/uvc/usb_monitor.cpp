#include "uvc/usb_monitor.h"

#include "platform/usb/sim_watch.h"

namespace velto {

USBMonitor::USBMonitor(std::function<void()> onChange, const std::string& simDirectory)
    : onChange_(std::move(onChange)) {
  auto notify = [this] {
    if (onChange_) onChange_();
  };
  if (!simDirectory.empty()) simWatch_ = std::make_unique<usb::SimWatch>(simDirectory, notify);
}

USBMonitor::~USBMonitor() = default;

}  // namespace velto
