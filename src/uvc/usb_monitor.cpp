// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uvc/usb_monitor.h"

#include "platform/usb/registry.h"
#include "platform/usb/sim_watch.h"
#include "platform/usb/udev_notifier.h"

namespace velto {

USBMonitor::USBMonitor(std::function<void()> onChange, const usb::RegistryOptions& options)
    : onChange_(std::move(onChange)) {
  auto notify = [this] {
    if (onChange_) onChange_();
  };
  if (!options.simDirectory.empty()) simWatch_ = std::make_unique<usb::SimWatch>(options.simDirectory, notify);
  if (!options.sysfsRoot.empty()) udev_ = std::make_unique<usb::UdevNotifier>(notify);
}

USBMonitor::~USBMonitor() = default;

}  // namespace velto
