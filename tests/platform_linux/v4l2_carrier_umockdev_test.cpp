// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The v4l2 carrier with real open and ioctl calls against umockdev's emulated V4L2 nodes, a
// uvcvideo stand-in in front of the simulated C200 answering them: ranges, pan/tilt, the exposure
// menu, signed values, vendor pass-through, inactive controls, a rebound node and a reset.
#include <gtest/gtest.h>

#include <algorithm>

#include "cuvc/cuvc.h"
#include "platform/usb/registry.h"
#include "platform/usb/v4l2_carrier.h"
#include "umockdev_bench.h"
#include "uvc_requests.h"

namespace velto::testing {
namespace {

namespace status = usb::status;
using Bytes = std::vector<std::uint8_t>;

class V4l2UmockdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UmockdevBench::preloaded());
    bench.plug(UmockdevBench::Plug{});
    auto services = usb::listServices(kEmulatedSystem);
    ASSERT_EQ(services.size(), 1u);
    service = services.front();
    auto connected = service.connect();
    carrier.reset(dynamic_cast<usb::V4l2Carrier*>(connected.carrier.release()));
    ASSERT_NE(carrier, nullptr);
  }

  std::int64_t value(ControlID id) {
    return bench.withCamera([id](sim::SimCamera& c) { return c.value(id).value_or(-999999); });
  }

  UmockdevBench bench;
  usb::Service service;
  std::unique_ptr<usb::V4l2Carrier> carrier;
};

TEST_F(V4l2UmockdevTest, RegistryChoosesV4l2AndTheCaptureNode) {
  EXPECT_EQ(service.carrier, usb::CarrierKind::v4l2);
  EXPECT_EQ(service.productName, "Anker PowerConf C200");
  EXPECT_EQ(service.locationID, 0x01200000u);
  // video0 is uvcvideo's metadata node; the capture node is the one served.
  EXPECT_EQ(carrier->nodePath(), "/dev/video1");
  std::vector<std::uint8_t> config;
  ASSERT_EQ(carrier->configurationDescriptor(config), status::success);
  EXPECT_EQ(config, sim::c200Profile().configuration);
}

TEST_F(V4l2UmockdevTest, RangesComeFromQueryctrl) {
  EXPECT_EQ(get(*carrier, kGetMin, 2, 0x02, 2).data, (Bytes{0xC0, 0xFF}));  // brightness -64
  EXPECT_EQ(get(*carrier, kGetMax, 2, 0x02, 2).data, (Bytes{0x40, 0x00}));
  EXPECT_EQ(get(*carrier, kGetRes, 2, 0x02, 2).data, (Bytes{0x01, 0x00}));
  EXPECT_EQ(get(*carrier, kGetDef, 2, 0x02, 2).data, (Bytes{0x00, 0x00}));
  EXPECT_EQ(get(*carrier, kGetRes, 2, 0x0A, 2).data, (Bytes{10, 0}));        // temperature step
  EXPECT_EQ(get(*carrier, kGetMax, 1, 0x04, 4).data, (Bytes{0x88, 0x13, 0, 0}));  // exposure 5000
  EXPECT_EQ(get(*carrier, kGetMin, 2, 0x06, 2).data, (Bytes{0x4C, 0xFF}));   // hue -180
}

TEST_F(V4l2UmockdevTest, PanAndTiltPackBothWays) {
  Answer min = get(*carrier, kGetMin, 1, 0x0D, 8);
  ASSERT_EQ(min.status, status::success);
  EXPECT_EQ(min.data, (Bytes{0x60, 0x73, 0xFF, 0xFF, 0x60, 0x73, 0xFF, 0xFF}));  // -36000 twice
  // One SET_CUR moves both: pan +3600 and tilt -7200.
  const Bytes both{0x10, 0x0E, 0x00, 0x00, 0xE0, 0xE3, 0xFF, 0xFF};
  ASSERT_EQ(set(*carrier, 1, 0x0D, both), status::success);
  EXPECT_EQ(value(ControlID::pan), 3600);
  EXPECT_EQ(value(ControlID::tilt), -7200);
  EXPECT_EQ(get(*carrier, kGetCur, 1, 0x0D, 8).data, both);
}

TEST_F(V4l2UmockdevTest, AutoExposureModeBitsAndMenu) {
  EXPECT_EQ(get(*carrier, kGetCur, 1, 0x02, 1).data, Bytes{2});
  EXPECT_EQ(get(*carrier, kGetDef, 1, 0x02, 1).data, Bytes{2});
  EXPECT_EQ(get(*carrier, kGetRes, 1, 0x02, 1).data, Bytes{0x0B});  // manual, auto, aperture
  EXPECT_EQ(get(*carrier, kGetMin, 1, 0x02, 1).status, status::pipeStalled);
  EXPECT_EQ(get(*carrier, kGetMax, 1, 0x02, 1).status, status::pipeStalled);
  ASSERT_EQ(set(*carrier, 1, 0x02, {8}), status::success);
  EXPECT_EQ(value(ControlID::autoExposure), 8);
  ASSERT_EQ(set(*carrier, 1, 0x02, {1}), status::success);
  EXPECT_EQ(value(ControlID::autoExposure), 1);
  EXPECT_EQ(get(*carrier, kGetCur, 1, 0x02, 1).data, Bytes{1});
  // Shutter priority is a mode this camera lacks: the camera refuses it.
  EXPECT_EQ(set(*carrier, 1, 0x02, {4}), status::badArgument);
  EXPECT_EQ(value(ControlID::autoExposure), 1);
}

TEST_F(V4l2UmockdevTest, SignedValuesKeepTheirSign) {
  ASSERT_EQ(set(*carrier, 2, 0x02, {0xFB, 0xFF}), status::success);
  EXPECT_EQ(value(ControlID::brightness), -5);
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).data, (Bytes{0xFB, 0xFF}));
  ASSERT_EQ(set(*carrier, 2, 0x06, {0x4C, 0xFF}), status::success);
  EXPECT_EQ(value(ControlID::hue), -180);
  // An unsigned control with the same bytes is a large value, out of range.
  EXPECT_EQ(set(*carrier, 2, 0x03, {0xFB, 0xFF}), status::badArgument);
}

TEST_F(V4l2UmockdevTest, VendorRequestsPassThroughWithSixtyBytes) {
  Answer fov = get(*carrier, kGetCur, 6, 0x10, 60);
  ASSERT_EQ(fov.status, status::success);
  ASSERT_EQ(fov.data.size(), 60u);
  EXPECT_EQ(fov.data[0], 0x00);
  EXPECT_EQ(fov.data[1], 0x01);
  EXPECT_EQ(fov.data[2], 95);
  EXPECT_EQ(fov.data[4], 0);
  fov.data[2] = 78;
  ASSERT_EQ(set(*carrier, 6, 0x10, fov.data), status::success);
  EXPECT_EQ(value(ControlID::fieldOfView), 78);
  Bytes flip(60, 0);
  flip[0] = 1;
  flip[1] = 0x01;
  flip[3] = 0x10;
  ASSERT_EQ(set(*carrier, 6, 0x11, flip), status::success);
  EXPECT_EQ(value(ControlID::horizontalFlip), 1);
  // The driver passes only the control's exact length.
  EXPECT_EQ(get(*carrier, kGetCur, 6, 0x10, 59).status, status::badArgument);
  EXPECT_EQ(get(*carrier, kGetCur, 6, 0x13, 60).data.at(0), 1) << "HDR always reads 1";
}

TEST_F(V4l2UmockdevTest, WritingAnInactiveControlIsNotPrivileged) {
  // Auto exposure is on, so the exposure time belongs to the camera.
  const auto before = value(ControlID::exposure);
  EXPECT_EQ(set(*carrier, 1, 0x04, {100, 0, 0, 0}), status::notPrivileged);
  EXPECT_EQ(value(ControlID::exposure), before);
  ASSERT_EQ(set(*carrier, 1, 0x02, {1}), status::success);
  EXPECT_EQ(set(*carrier, 1, 0x04, {100, 0, 0, 0}), status::success);
  EXPECT_EQ(value(ControlID::exposure), 100);
}

TEST_F(V4l2UmockdevTest, AReboundNodeIsFoundAgain) {
  bench.rebindCaptureNode("video2");
  Answer a = get(*carrier, kGetCur, 2, 0x02, 2);
  EXPECT_EQ(a.status, status::success);
  EXPECT_EQ(carrier->nodePath(), "/dev/video2");
  bench.unplug();
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::noDevice);
}

// Subscribed on the node the carrier holds; changes made through other handles come back as the
// (unit, selector) a request would name, one per shared payload; they end with the node.
TEST_F(V4l2UmockdevTest, ControlEventsNameWhatAnotherProgramChanged) {
  const usb::NoticeSource source = carrier->noticeSource();
  ASSERT_GE(source.fd, 0);
  EXPECT_TRUE(source.priority);
  // The driver's controls are told of; the vendor unit's (ID 6) have no events.
  EXPECT_FALSE(source.coversAll);
  EXPECT_NE(std::find(source.covers.begin(), source.covers.end(), usb::ControlNotice{1, 0x0D}), source.covers.end());
  EXPECT_TRUE(std::none_of(source.covers.begin(), source.covers.end(), [](auto c) { return c.unit == 6; }));
  EXPECT_TRUE(carrier->takeNotices().changed.empty());

  bench.changeElsewhere(ControlID::brightness, 20);
  bench.changeElsewhere(ControlID::pan, 3600);
  bench.changeElsewhere(ControlID::tilt, -3600);
  const usb::Notices notices = carrier->takeNotices();
  EXPECT_FALSE(notices.ended);
  EXPECT_EQ(notices.changed, (std::vector<usb::ControlNotice>{{2, 0x02}, {1, 0x0D}}));
  EXPECT_TRUE(carrier->takeNotices().changed.empty()) << "each event is taken once";

  bench.unplug();
  EXPECT_TRUE(carrier->takeNotices().ended);
}

TEST_F(V4l2UmockdevTest, ResetGoesToTheUsbfsNode) {
  cuvc_info info;
  cuvc_handle* handle = cuvc_open(&service, &info);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(cuvc_reenumerate(handle), status::success);
  EXPECT_EQ(bench.resets(), 1);
  cuvc_close(handle);
}

}  // namespace
}  // namespace velto::testing
