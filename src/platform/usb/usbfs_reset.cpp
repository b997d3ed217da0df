// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/usbfs_reset.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include "support/log.h"

namespace velto::usb {

UsbfsReset::UsbfsReset(SystemCalls& calls, std::string nodePath)
    : calls_(calls), nodePath_(std::move(nodePath)) {}

UsbfsReset::~UsbfsReset() { close(); }

Status UsbfsReset::open() {
  if (fd_ >= 0) return status::success;
  const int fd = calls_.open(nodePath_, O_RDWR);
  if (fd < 0) {
    const int err = errno;
    log::systemCallFailed(log::Layer::usb, "open", nodePath_, err);
    return fromErrno(err);
  }
  fd_ = fd;
  return status::success;
}

Status UsbfsReset::reset() {
  if (fd_ < 0) return status::badArgument;
  if (calls_.ioctl(fd_, USBDEVFS_RESET, nullptr) < 0) {
    const int err = errno;
    log::systemCallFailed(log::Layer::usb, "USBDEVFS_RESET", nodePath_, err);
    return fromErrno(err);
  }
  return status::success;
}

void UsbfsReset::close() {
  if (fd_ < 0) return;
  calls_.close(fd_);
  fd_ = -1;
}

}  // namespace velto::usb
