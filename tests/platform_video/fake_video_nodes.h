// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Video nodes behind the system-call seam: each refuses open() with an errno, or opens and
// answers VIDIOC_QUERYCAP with its device caps, and the format enumerations (VIDIOC_ENUM_FMT,
// _FRAMESIZES, _FRAMEINTERVALS, discrete only) from its formats, EINVAL past the end as the
// kernel does. Paths it does not know do not exist (ENOENT).
#pragma once

#include <linux/videodev2.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/usb/system_calls.h"

namespace velto::testing {

class FakeVideoNodes final : public usb::SystemCalls {
 public:
  std::map<std::string, int> refuse;          // path -> errno of open()
  std::map<std::string, std::uint32_t> caps;  // path -> device_caps
  struct Size {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> intervals;  // numerator, denominator
  };
  struct Format {
    std::uint32_t pixelformat = 0;
    std::vector<Size> sizes;
  };
  std::map<std::string, std::vector<Format>> formats;  // path -> what it enumerates

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
    if (request == VIDIOC_ENUM_FMT || request == VIDIOC_ENUM_FRAMESIZES || request == VIDIOC_ENUM_FRAMEINTERVALS) {
      return enumerate(formats[it->second], request, arg);
    }
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
  static int enumerate(const std::vector<Format>& list, unsigned long request, void* arg) {
    auto format = [&](std::uint32_t code) -> const Format* {
      for (const Format& f : list) {
        if (f.pixelformat == code) return &f;
      }
      return nullptr;
    };
    if (request == VIDIOC_ENUM_FMT) {
      auto* desc = static_cast<v4l2_fmtdesc*>(arg);
      if (desc->index >= list.size()) return fail(EINVAL);
      desc->pixelformat = list[desc->index].pixelformat;
      return 0;
    }
    if (request == VIDIOC_ENUM_FRAMESIZES) {
      auto* size = static_cast<v4l2_frmsizeenum*>(arg);
      const Format* f = format(size->pixel_format);
      if (f == nullptr || size->index >= f->sizes.size()) return fail(EINVAL);
      size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
      size->discrete = {f->sizes[size->index].width, f->sizes[size->index].height};
      return 0;
    }
    auto* ival = static_cast<v4l2_frmivalenum*>(arg);
    const Format* f = format(ival->pixel_format);
    if (f == nullptr) return fail(EINVAL);
    for (const Size& s : f->sizes) {
      if (s.width != ival->width || s.height != ival->height) continue;
      if (ival->index >= s.intervals.size()) return fail(EINVAL);
      ival->type = V4L2_FRMIVAL_TYPE_DISCRETE;
      ival->discrete = {s.intervals[ival->index].first, s.intervals[ival->index].second};
      return 0;
    }
    return fail(EINVAL);
  }
  static int fail(int err) {
    errno = err;
    return -1;
  }
  std::map<int, std::string> opened_;
  int next_ = 100;
};

}  // namespace velto::testing
