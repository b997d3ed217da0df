// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/v4l2_modes.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cmath>

#include "platform/video/v4l2_devices.h"
#include "support/log.h"

namespace velto::video {
namespace {

// A driver that never answers EINVAL would keep an enumeration going for ever; real cameras list
// a handful of each.
constexpr unsigned kMaxEntries = 64;

// V4L2's code for a format, in the code the modes use.
std::uint32_t ourCode(std::uint32_t pixelformat) {
  if (pixelformat == V4L2_PIX_FMT_YUYV) return fourccOf("YUY2");
  if (pixelformat == V4L2_PIX_FMT_MJPEG || pixelformat == V4L2_PIX_FMT_JPEG) return fourccOf("MJPG");
  return pixelformat;
}

int fpsOf(const v4l2_fract& interval) {
  if (interval.numerator == 0 || interval.denominator == 0) return 0;
  return static_cast<int>(std::lround(double(interval.denominator) / interval.numerator));
}

void addRates(int fd, std::uint32_t pixelformat, std::uint32_t code, int width, int height, usb::SystemCalls& calls,
              std::vector<CaptureMode>& modes) {
  for (unsigned i = 0; i < kMaxEntries; ++i) {
    v4l2_frmivalenum ival{};
    ival.index = i;
    ival.pixel_format = pixelformat;
    ival.width = static_cast<std::uint32_t>(width);
    ival.height = static_cast<std::uint32_t>(height);
    if (calls.ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &ival) != 0) return;
    if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      if (const int fps = fpsOf(ival.discrete); fps > 0) modes.push_back({code, width, height, fps});
      continue;
    }
    // The shortest interval is the fastest rate.
    for (const v4l2_fract& f : {ival.stepwise.min, ival.stepwise.max}) {
      if (const int fps = fpsOf(f); fps > 0) modes.push_back({code, width, height, fps});
    }
    return;
  }
}

}  // namespace

std::vector<CaptureMode> listV4l2Modes(const std::string& path, usb::SystemCalls& calls) {
  errno = 0;
  const int fd = calls.open(path, videoNodeOpenFlags());
  if (fd < 0) {
    log::systemCallFailed(log::Layer::capture, "open", path, errno != 0 ? errno : EIO);
    return {};
  }
  std::vector<CaptureMode> modes;
  for (unsigned f = 0; f < kMaxEntries; ++f) {
    v4l2_fmtdesc desc{};
    desc.index = f;
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (calls.ioctl(fd, VIDIOC_ENUM_FMT, &desc) != 0) {
      // EINVAL ends the list; anything else is a failure worth a line.
      if (errno != EINVAL) log::systemCallFailed(log::Layer::capture, "VIDIOC_ENUM_FMT", path, errno);
      break;
    }
    const std::uint32_t code = ourCode(desc.pixelformat);
    if (formatInfo(code) == nullptr) continue;
    for (unsigned s = 0; s < kMaxEntries; ++s) {
      v4l2_frmsizeenum size{};
      size.index = s;
      size.pixel_format = desc.pixelformat;
      if (calls.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
      if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        addRates(fd, desc.pixelformat, code, static_cast<int>(size.discrete.width), static_cast<int>(size.discrete.height),
                 calls, modes);
        continue;
      }
      addRates(fd, desc.pixelformat, code, static_cast<int>(size.stepwise.max_width),
               static_cast<int>(size.stepwise.max_height), calls, modes);
      break;
    }
  }
  calls.close(fd);
  return orderedModes(std::move(modes));
}

}  // namespace velto::video
