// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The high preset as picked from what a camera's node offers in READY.
#include "platform/video/gst_runtime.h"

#include <gtest/gtest.h>

namespace velto::video {
namespace {

TEST(HighPreset, LargestSizeUpTo1080pAtItsBestRateRawBeforeCompressedOnATie) {
  // As uvcvideo describes a C200: raw 1080p is slow over USB 2, MJPEG also goes above 1080p.
  const std::string c200 =
      "video/x-raw, format=YUY2, width=1920, height=1080, framerate=5/1; "
      "video/x-raw, format=YUY2, width=640, height=480, framerate={ 30/1, 15/1 }; "
      "image/jpeg, width=2560, height=1440, framerate=30/1; "
      "image/jpeg, width=1920, height=1080, framerate={ 15/1, 30/1, 25/1 }; "
      "image/jpeg, width=1280, height=720, framerate=60/1";
  EXPECT_EQ(highPresetCaps(c200), "image/jpeg,width=1920,height=1080,framerate=30/1");

  EXPECT_EQ(highPresetCaps("image/jpeg, width=1280, height=720, framerate=30/1; "
                           "video/x-raw, format=NV12, width=1280, height=720, framerate=30/1"),
            "video/x-raw,format=NV12,width=1280,height=720,framerate=30/1");
  // Stepwise sizes and continuous rates are clamped to what fits.
  EXPECT_EQ(highPresetCaps("video/x-raw, format=YUY2, width=[ 160, 4096, 16 ], height=[ 120, 2160, 8 ], "
                           "framerate=[ 1/1, 60/1 ]"),
            "video/x-raw,format=YUY2,width=1920,height=1080,framerate=60/1");
  EXPECT_EQ(highPresetCaps("image/jpeg, width=3840, height=2160, framerate=30/1"), "");
  EXPECT_EQ(highPresetCaps("not caps at all"), "");
}

}  // namespace
}  // namespace velto::video
