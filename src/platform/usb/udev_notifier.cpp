#include "platform/usb/udev_notifier.h"

#include <QSocketNotifier>
#include <QThread>
#include <cstring>
#include <libudev.h>

namespace velto::usb {

UdevNotifier::UdevNotifier(std::function<void()> onChange) : onChange_(std::move(onChange)) {
  udev_ = udev_new();
  if (udev_ == nullptr) return;
  // "udev" events arrive after udevd has set up the node and its permissions, so a listing made
  // in response already sees a node we may open.
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device") < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "video4linux", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    return;
  }
  const int fd = udev_monitor_get_fd(monitor_);
  if (fd < 0) {
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
}

UdevNotifier::~UdevNotifier() {
  notifier_.reset();
  if (monitor_ != nullptr) udev_monitor_unref(monitor_);
  if (udev_ != nullptr) udev_unref(udev_);
}

void UdevNotifier::drain() {
  Q_ASSERT(QThread::currentThread() == notifier_->thread());
  bool changed = false;
  // The monitor's socket does not block: receiving stops when the queue is empty.
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    const char* action = udev_device_get_action(device);
    if (action != nullptr && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
      changed = true;
    }
    udev_device_unref(device);
  }
  if (changed && onChange_) onChange_();
}

}  // namespace velto::usb
