// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Modes as the cameras tell them: read from UVC streaming descriptors and from a V4L2 driver's
// enumeration, put in the order people read them, stored and read back, and picked for a command.
#include "platform/video/capture_mode.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include "fake_video_nodes.h"
#include "platform/video/v4l2_modes.h"
#include "sim/profile.h"

namespace velto::video {
namespace {

const std::uint32_t MJPG = fourccOf("MJPG"), YUY2 = fourccOf("YUY2"), H264 = fourccOf("H264");

TEST(CaptureMode, StreamingDescriptorsOfTheC200) {
  // Written by the simulator from the camera's own table: MJPEG and uncompressed frames keep their
  // interval count at byte 25, the frame-based H.264 frames at 21.
  const std::vector<CaptureMode> modes = modesFromConfiguration(sim::c200Profile().configuration);
  ASSERT_EQ(modes.size(), 22u);
  EXPECT_EQ(modes.front(), (CaptureMode{MJPG, 2560, 1440, 30}));
  EXPECT_EQ(modes[1], (CaptureMode{MJPG, 1920, 1080, 30}));
  EXPECT_EQ(modes[2], (CaptureMode{H264, 1920, 1080, 30}));
  EXPECT_EQ(modes.back(), (CaptureMode{YUY2, 320, 240, 15}));
  EXPECT_NE(std::find(modes.begin(), modes.end(), CaptureMode{MJPG, 848, 480, 15}), modes.end());
  for (const CaptureMode& m : modes) EXPECT_FALSE(m.fourcc == YUY2 && m.width > 640) << describeMode(m);

  // A descriptor cut short ends the walk; what came before it stays.
  std::vector<std::uint8_t> cut = sim::c200Profile().configuration;
  cut.resize(cut.size() / 2);
  const std::vector<CaptureMode> some = modesFromConfiguration(cut);
  EXPECT_FALSE(some.empty());
  EXPECT_LT(some.size(), modes.size());
  EXPECT_TRUE(modesFromConfiguration({}).empty());
}

TEST(CaptureMode, OrderMergeStoreAndPick) {
  const std::vector<CaptureMode> ordered = orderedModes({{YUY2, 640, 480, 30},
                                                        {MJPG, 640, 480, 15},
                                                        {MJPG, 1280, 720, 30},
                                                        {MJPG, 640, 480, 30},
                                                        {YUY2, 640, 480, 30},
                                                        {MJPG, 720, 480, 30}});
  const std::vector<CaptureMode> expected{
      {MJPG, 1280, 720, 30}, {MJPG, 720, 480, 30}, {MJPG, 640, 480, 30}, {YUY2, 640, 480, 30}, {MJPG, 640, 480, 15}};
  EXPECT_EQ(ordered, expected);
  EXPECT_EQ(describeMode(expected[0]), "1280 \u00d7 720 \u00b7 30 fps \u00b7 MJPEG");

  for (const CaptureMode& m : expected) EXPECT_EQ(parseModeKey(modeKey(m)), m);
  EXPECT_EQ(modeKey(expected[0]), "MJPG 1280x720@30");
  for (const char* bad : {"", "MJPG", "MJPG 1280x720", "MJPG 0x720@30", "XXXX 1280x720@30", "MJPG 1280x720@30fps"}) {
    EXPECT_FALSE(parseModeKey(bad)) << bad;
  }
  EXPECT_EQ(formatNamed("yuyv"), YUY2);
  EXPECT_EQ(formatNamed("h.264"), H264);
  EXPECT_EQ(formatNamed("MJPG"), MJPG);
  EXPECT_FALSE(formatNamed("gif"));

  // The largest, fastest fit; every part that is set must match.
  EXPECT_EQ(pickMode(expected, {}), expected[0]);
  EXPECT_EQ(pickMode(expected, {YUY2, std::nullopt, std::nullopt, std::nullopt}), expected[3]);
  EXPECT_EQ(pickMode(expected, {std::nullopt, 640, 480, 15}), expected[4]);
  EXPECT_FALSE(pickMode(expected, {std::nullopt, 640, 360, std::nullopt}));
  EXPECT_FALSE(pickMode(expected, {YUY2, std::nullopt, std::nullopt, 15}));
}

TEST(CaptureMode, CapsHoldTheSessionToTheModeAtTheDriversOwnRate) {
  gst_init(nullptr, nullptr);
  const std::string caps = modeCaps({MJPG, 640, 480, 30});
  GstCaps* wanted = gst_caps_from_string(caps.c_str());
  ASSERT_NE(wanted, nullptr) << caps;
  auto fits = [&](const char* offered) {
    GstCaps* node = gst_caps_from_string(offered);
    const bool can = gst_caps_can_intersect(wanted, node);
    gst_caps_unref(node);
    return can;
  };
  EXPECT_TRUE(fits("image/jpeg,width=640,height=480,framerate=30000/1001"));
  EXPECT_FALSE(fits("image/jpeg,width=640,height=480,framerate=15/1"));
  EXPECT_FALSE(fits("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"));
  EXPECT_FALSE(fits("image/jpeg,width=1280,height=720,framerate=30/1"));
  gst_caps_unref(wanted);
  EXPECT_EQ(modeCaps({fourccOf("GREY"), 640, 480, 30}), "");
}

TEST(CaptureMode, V4l2Enumeration) {
  testing::FakeVideoNodes kernel;
  const std::string node = "/fake/dev/video0";
  kernel.caps[node] = V4L2_CAP_VIDEO_CAPTURE;
  using Size = testing::FakeVideoNodes::Size;
  kernel.formats[node] = {
      {V4L2_PIX_FMT_YUYV, {Size{640, 480, {{1, 30}, {1, 15}}}, Size{320, 240, {{1, 30}}}}},
      // An NTSC rate is 30 fps to people.
      {V4L2_PIX_FMT_MJPEG, {Size{1280, 720, {{1001, 30000}}}}},
      // A format the session cannot ask GStreamer for is left out.
      {v4l2_fourcc('Y', '1', '0', ' '), {Size{640, 480, {{1, 30}}}}},
  };
  const std::vector<CaptureMode> expected{
      {MJPG, 1280, 720, 30}, {YUY2, 640, 480, 30}, {YUY2, 640, 480, 15}, {YUY2, 320, 240, 30}};
  EXPECT_EQ(listV4l2Modes(node, kernel), expected);
  EXPECT_EQ(kernel.openNow(), 0u);
  EXPECT_TRUE(listV4l2Modes("/fake/dev/video7", kernel).empty()) << "a node that does not open offers nothing";
}

}  // namespace
}  // namespace velto::video
