// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/udev_notifier.h"

#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <libudev.h>

#include "support/log.h"

namespace velto::usb {

UdevNotifier::UdevNotifier(std::function<void()> onChange) : onChange_(std::move(onChange)) {
  // Each step that fails leaves the notifier inert, logged once with its errno; the listing still
  // works, only hot-plug goes unnoticed.
  auto failed = [this](const char* call, int err) {
    log::systemCallFailed(log::Layer::usb, call, "udev", err);
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
  };
  udev_ = udev_new();
  if (udev_ == nullptr) {
    failed("udev_new", errno);
    return;
  }
  // "udev" events arrive after udevd has set up the node and its permissions, so a listing made
  // in response already sees a node we may open.
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ == nullptr) {
    failed("udev_monitor_new_from_netlink", errno);
    return;
  }
  int r = udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device");
  if (r >= 0) r = udev_monitor_filter_add_match_subsystem_devtype(monitor_, "video4linux", nullptr);
  if (r < 0) {
    failed("udev_monitor_filter_add_match_subsystem_devtype", -r);
    return;
  }
  r = udev_monitor_enable_receiving(monitor_);
  if (r < 0) {
    failed("udev_monitor_enable_receiving", -r);
    return;
  }
  const int fd = udev_monitor_get_fd(monitor_);
  if (fd < 0) {
    failed("udev_monitor_get_fd", -fd);
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
