// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Video nodes behind the system-call seam: each refuses open() with an errno, or opens and
// answers VIDIOC_QUERYCAP with its device caps. Paths it does not know do not exist (ENOENT).
#pragma once

#include <linux/videodev2.h>

#include <cerrno>
#include <map>
#include <string>

#include "platform/usb/system_calls.h"

namespace velto::testing {

class FakeVideoNodes final : public usb::SystemCalls {
 public:
  std::map<std::string, int> refuse;          // path -> errno of open()
  std::map<std::string, std::uint32_t> caps;  // path -> device_caps

  int open(const std::string& path, int) override {
    if (auto it = refuse.find(path); it != refuse.end()) return fail(it->second);
    if (caps.count(path) == 0) return fail(ENOENT);
    opened_[next_] = path;
    return next_++;
  }
  int close(int fd) override { return opened_.erase(fd) == 1 ? 0 : fail(EBADF); }
  int ioctl(int fd, unsigned long request, void* arg) override {
    auto it = opened_.find(fd);
    if (it == opened_.end()) return fail(EBADF);
    if (request != VIDIOC_QUERYCAP) return fail(ENOTTY);
    auto* cap = static_cast<v4l2_capability*>(arg);
    *cap = {};
    cap->capabilities = V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE;
    cap->device_caps = caps.at(it->second);
    return 0;
  }
  ssize_t read(int, void*, std::size_t) override { return fail(EINVAL); }
  std::size_t openNow() const { return opened_.size(); }

 private:
  static int fail(int err) {
    errno = err;
    return -1;
  }
  std::map<int, std::string> opened_;
  int next_ = 100;
};

}  // namespace velto::testing
