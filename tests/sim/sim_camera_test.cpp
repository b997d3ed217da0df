// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/sim_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "cuvc/descriptor_walk.h"
#include "platform/usb/status.h"
#include "sim/profile.h"
#include "sim_test_util.h"

namespace velto::sim {
namespace {

using namespace testing;
namespace status = usb::status;
constexpr std::uint8_t CT = 1, PU = 2, XU = 6;

class C200Test : public ::testing::Test {
 protected:
  std::int64_t value(ControlID id) { return camera.value(id).value(); }
  TestClock time;
  SimCamera camera{c200Profile(), time.clock()};
};

// The frames of each VideoStreaming format in `config`: (format subtype, width, height).
std::vector<std::tuple<int, int, int>> streamingFrames(const std::vector<std::uint8_t>& config) {
  std::vector<std::tuple<int, int, int>> frames;
  int format = 0;
  bool streaming = false;
  for (std::size_t i = 0; i + 2 < config.size() && config[i] >= 3; i += config[i]) {
    const std::uint8_t* d = &config[i];
    if (d[1] == 0x04 && i + 9 <= config.size()) streaming = d[5] == 0x0E && d[6] == 0x02;
    if (d[1] != 0x24 || !streaming) continue;
    if (d[2] == 0x04 || d[2] == 0x06 || d[2] == 0x10) format = d[2];
    if ((d[2] == 0x05 || d[2] == 0x07 || d[2] == 0x11) && i + 9 <= config.size()) {
      frames.emplace_back(format, d[5] | d[6] << 8, d[7] | d[8] << 8);
    }
  }
  return frames;
}

TEST(ProfileTest, C200DescribesItselfAsTheRealOneDoes) {
  const Profile p = c200Profile();
  EXPECT_EQ(p.vendorID, 0x291A);
  EXPECT_EQ(p.productID, 0x3369);
  EXPECT_EQ(p.productName, "Anker PowerConf C200");
  cuvc_info info{};
  ASSERT_TRUE(cuvc::walkDescriptors(p.configuration, info));
  EXPECT_EQ(info.interfaceNumber, 0);
  EXPECT_EQ(info.cameraTerminalID, CT);
  EXPECT_EQ(info.processingUnitID, PU);
  EXPECT_EQ(info.extensionUnitID, XU);
  EXPECT_EQ(0, std::memcmp(info.extensionGUID, kAnkerExtensionGUID, 16));
  // bmControls as firmware 1.05 reports them: 2A 8A 02, 7F 14 (no gain, no backlight
  // compensation), 00 F8 27.
  EXPECT_EQ(info.cameraControls, 0x028A2Au);
  EXPECT_EQ(info.processingControls, 0x147Fu);
  EXPECT_EQ(info.extensionControls, 0x27F800u);
  // wTotalLength is the length of the whole descriptor.
  EXPECT_EQ(p.configuration[2] | p.configuration[3] << 8, static_cast<int>(p.configuration.size()));
  const std::vector<std::uint8_t> header = {0x01, 0x10, 0x01};  // VC_HEADER, bcdUVC 1.10
  EXPECT_NE(std::search(p.configuration.begin(), p.configuration.end(), header.begin(), header.end()),
            p.configuration.end());
  const std::vector<std::uint8_t> outputTerminal = {9, 0x24, 0x03, 3, 0x01, 0x01, 0, 4, 0};
  EXPECT_NE(std::search(p.configuration.begin(), p.configuration.end(), outputTerminal.begin(),
                        outputTerminal.end()),
            p.configuration.end())
      << "the output terminal names unit 4, which does not exist";

  constexpr int mjpeg = 0x06, yuy2 = 0x04, frameBased = 0x10;
  const std::vector<std::tuple<int, int, int>> expected = {
      {mjpeg, 2560, 1440}, {mjpeg, 1920, 1080}, {mjpeg, 1280, 720}, {mjpeg, 960, 540},
      {mjpeg, 848, 480},   {mjpeg, 640, 480},   {mjpeg, 640, 360},  {mjpeg, 320, 240},
      {yuy2, 640, 480},    {yuy2, 640, 360},    {yuy2, 320, 240},   {frameBased, 1920, 1080},
      {frameBased, 1280, 720}};
  EXPECT_EQ(streamingFrames(p.configuration), expected);
  const std::vector<std::uint8_t> h264 = {'H', '2', '6', '4', 0x00, 0x00, 0x10, 0x00};
  EXPECT_NE(std::search(p.configuration.begin(), p.configuration.end(), h264.begin(), h264.end()),
            p.configuration.end());

  SimCamera camera(p, [] { return 0; });
  EXPECT_EQ(get(camera, kGetCur, PU, 0x04, 2).status, status::pipeStalled) << "no gain";
  EXPECT_EQ(get(camera, kGetCur, PU, 0x01, 2).status, status::pipeStalled) << "no backlight compensation";
  EXPECT_FALSE(camera.set(ControlID::gain, 1));
}

TEST(ProfileTest, GenericHasNoVendorUnitFocusOrPanTilt) {
  const Profile p = genericProfile();
  EXPECT_NE(p.vendorID, 0x291A);
  cuvc_info info{};
  ASSERT_TRUE(cuvc::walkDescriptors(p.configuration, info));
  EXPECT_EQ(info.extensionUnitID, 0);
  EXPECT_EQ(info.cameraControls, 1u << 1 | 1u << 3) << "auto-exposure mode and exposure time only";
  // Bits 0-6, backlight compensation 8, gain 9, power line 10, white balance auto 12.
  EXPECT_EQ(info.processingControls, 0x177Fu);
  for (ControlID id : {ControlID::focus, ControlID::autoFocus, ControlID::pan, ControlID::tilt,
                       ControlID::zoom, ControlID::fieldOfView, ControlID::hdr}) {
    EXPECT_EQ(p.find(id), nullptr) << rawValue(id);
  }
  EXPECT_FALSE(streamingFrames(p.configuration).empty());
  SimCamera camera(p, [] { return 0; });
  EXPECT_EQ(get(camera, kGetCur, 6, 0x10, 60).status, status::pipeStalled);
  EXPECT_EQ(get(camera, kGetCur, 3, 0x02, 2).status, status::success) << "brightness on unit 3";
  EXPECT_EQ(get(camera, kGetCur, 3, 0x04, 2).status, status::success) << "gain";
}

TEST(ProfileTest, ProfilesByName) {
  EXPECT_EQ(profileNamed("c200")->name, "c200");
  EXPECT_EQ(profileNamed("generic")->name, "generic");
  EXPECT_FALSE(profileNamed("C200"));
}

TEST_F(C200Test, AutoExposureModeHasNoMinimumOrMaximum) {
  EXPECT_EQ(get(camera, kGetCur, CT, 0x02, 1).data, std::vector<std::uint8_t>{2});
  EXPECT_EQ(get(camera, kGetDef, CT, 0x02, 1).data, std::vector<std::uint8_t>{2});
  EXPECT_EQ(get(camera, kGetRes, CT, 0x02, 1).data, std::vector<std::uint8_t>{0x0B});
  EXPECT_EQ(get(camera, kGetMin, CT, 0x02, 1).status, status::pipeStalled);
  EXPECT_EQ(get(camera, kGetMax, CT, 0x02, 1).status, status::pipeStalled);
  // Only supported modes are taken.
  EXPECT_EQ(set(camera, CT, 0x02, {4}).status, status::pipeStalled);
  EXPECT_EQ(set(camera, CT, 0x02, {1}).status, status::success);
  EXPECT_EQ(value(ControlID::autoExposure), 1);
}

TEST_F(C200Test, RangesAreAnsweredInThePayloadLayout) {
  EXPECT_EQ(get(camera, kGetMin, PU, 0x02, 2).data, le(-64, 2)) << "signed brightness";
  EXPECT_EQ(get(camera, kGetMax, PU, 0x02, 2).data, le(64, 2));
  EXPECT_EQ(get(camera, kGetMin, CT, 0x04, 4).data, le(1, 4)) << "exposure in 100 us, at least 1";
  EXPECT_EQ(get(camera, kGetRes, PU, 0x0A, 2).data, le(10, 2)) << "white balance step";
  EXPECT_EQ(get(camera, kGetDef, CT, 0x0B, 2).data, le(100, 2)) << "zoom starts at 100";
  std::vector<std::uint8_t> panTiltRes = le(3600, 4);
  const std::vector<std::uint8_t> tiltRes = le(3600, 4);
  panTiltRes.insert(panTiltRes.end(), tiltRes.begin(), tiltRes.end());
  EXPECT_EQ(get(camera, kGetRes, CT, 0x0D, 8).data, panTiltRes);
  EXPECT_EQ(get(camera, kGetMin, PU, 0x06, 2).data, le(-180, 2)) << "signed hue";
  EXPECT_EQ(get(camera, kGetLen, XU, 0x10, 2).data, le(60, 2));
  EXPECT_EQ(get(camera, kGetInfo, XU, 0x10, 1).data, std::vector<std::uint8_t>{0x03});
}

TEST_F(C200Test, RequestsItCannotServeStall) {
  EXPECT_EQ(get(camera, kGetCur, PU, 0x02, 1).status, status::pipeStalled) << "wrong length";
  EXPECT_EQ(get(camera, kGetCur, 9, 0x02, 2).status, status::pipeStalled) << "no such unit";
  EXPECT_EQ(get(camera, kGetCur, PU, 0x1F, 2).status, status::pipeStalled) << "no such selector";
  EXPECT_EQ(set(camera, PU, 0x02, {1}).status, status::pipeStalled) << "short SET_CUR";
  EXPECT_EQ(get(camera, kGetCur, XU, 0x10, 59).status, status::pipeStalled) << "vendor length";
  EXPECT_EQ(set(camera, XU, 0x11, std::vector<std::uint8_t>(61)).status, status::pipeStalled);
  // Another interface number in wIndex.
  const sim::Setup other{0xA1, kGetCur, 0x0200, 0x0201, 2};
  EXPECT_EQ(camera.handle(other, {})->status, status::pipeStalled);
}

TEST_F(C200Test, SetCurRoundTripsAndOutOfRangeStalls) {
  EXPECT_EQ(set(camera, PU, 0x02, le(-10, 2)).status, status::success);
  EXPECT_EQ(get(camera, kGetCur, PU, 0x02, 2).data, le(-10, 2));
  EXPECT_EQ(value(ControlID::brightness), -10);
  EXPECT_EQ(set(camera, PU, 0x02, le(65, 2)).status, status::pipeStalled);
  EXPECT_EQ(set(camera, CT, 0x04, le(0, 4)).status, status::pipeStalled) << "exposure minimum is 1";
  EXPECT_EQ(value(ControlID::brightness), -10) << "a stalled write changes nothing";
}

TEST_F(C200Test, PanAndTiltShareOnePayload) {
  std::vector<std::uint8_t> payload = le(7200, 4);
  const std::vector<std::uint8_t> tilt = le(-3600, 4);
  payload.insert(payload.end(), tilt.begin(), tilt.end());
  EXPECT_EQ(set(camera, CT, 0x0D, payload).status, status::success);
  EXPECT_EQ(get(camera, kGetCur, CT, 0x0D, 8).data, payload);
  EXPECT_EQ(value(ControlID::pan), 7200);
  EXPECT_EQ(value(ControlID::tilt), -3600);
  payload[7] = 0x7F;  // tilt far out of range: the whole write stalls
  EXPECT_EQ(set(camera, CT, 0x0D, payload).status, status::pipeStalled);
}

TEST_F(C200Test, VendorPayloadLayoutAndKeptBytes) {
  const Reply fov = get(camera, kGetCur, XU, 0x10, 60);
  ASSERT_EQ(fov.data.size(), 60u);
  EXPECT_EQ(fov.data[0], 0x00);
  EXPECT_EQ(fov.data[1], 0x01);
  EXPECT_EQ(fov.data[2] | fov.data[3] << 8, 95);
  EXPECT_EQ(fov.data[4], 0);
  EXPECT_EQ(fov.data[5], 90);

  std::vector<std::uint8_t> write(60, 0xEE);  // garbage where the layout names nothing
  write[2] = 65;
  write[3] = 0;
  write[5] = 0;
  EXPECT_EQ(set(camera, XU, 0x10, write).status, status::success);
  const Reply after = get(camera, kGetCur, XU, 0x10, 60);
  EXPECT_EQ(after.data[2], 65);
  EXPECT_EQ(after.data[5], 0);
  for (std::size_t i : {0u, 1u, 4u, 6u, 7u, 30u, 59u}) {
    EXPECT_EQ(after.data[i], fov.data[i]) << "byte " << i << " is the camera's own";
  }

  // Only the three fields of view and the two pickup patterns exist.
  write = after.data;
  write[2] = 70;
  EXPECT_EQ(set(camera, XU, 0x10, write).status, status::pipeStalled);
  write = after.data;
  write[5] = 45;
  EXPECT_EQ(set(camera, XU, 0x10, write).status, status::pipeStalled);

  std::vector<std::uint8_t> flip = get(camera, kGetCur, XU, 0x11, 60).data;
  flip[0] = 1;
  EXPECT_EQ(set(camera, XU, 0x11, flip).status, status::success);
  EXPECT_EQ(value(ControlID::horizontalFlip), 1);
  EXPECT_EQ(get(camera, kGetCur, XU, 0x0A, 60).status, status::success);
  EXPECT_EQ(get(camera, kGetCur, XU, 0x12, 60).status, status::success);
}

TEST_F(C200Test, HdrReadsBackOne) {
  std::vector<std::uint8_t> hdr(60, 0);
  EXPECT_EQ(set(camera, XU, 0x13, hdr).status, status::success);
  EXPECT_EQ(get(camera, kGetCur, XU, 0x13, 60).data[0], 1);
  EXPECT_EQ(value(ControlID::hdr), 0) << "the state shows what was written";
}

TEST_F(C200Test, FieldOfViewMovesZoomAMomentLater) {
  std::vector<std::uint8_t> payload = get(camera, kGetCur, XU, 0x10, 60).data;
  for (const auto& [degrees, zoom] : {std::pair{78, 175}, std::pair{65, 295}, std::pair{95, 100}}) {
    const std::int64_t before = value(ControlID::zoom);
    payload[2] = static_cast<std::uint8_t>(degrees);
    ASSERT_EQ(set(camera, XU, 0x10, payload).status, status::success);
    EXPECT_EQ(value(ControlID::zoom), before) << "not at once";
    time.now += SimCamera::kZoomDelayMs - 1;
    EXPECT_EQ(get(camera, kGetCur, CT, 0x0B, 2).data, le(before, 2));
    time.now += 1;
    EXPECT_EQ(get(camera, kGetCur, CT, 0x0B, 2).data, le(zoom, 2)) << degrees << " degrees";
    time.now += 300;  // within the store's 0.3 s re-read, with room
  }
}

TEST_F(C200Test, AutoFocusSwitchedBackOnSearchesAnew) {
  EXPECT_EQ(set(camera, CT, 0x08, {0}).status, status::success);
  EXPECT_EQ(set(camera, CT, 0x06, le(100, 2)).status, status::success);
  time.now += 1000;
  EXPECT_EQ(value(ControlID::focus), 100) << "manual focus stays";
  EXPECT_EQ(set(camera, CT, 0x08, {1}).status, status::success);
  std::vector<std::int64_t> seen;
  for (int t = 0; t <= SimCamera::kFocusSearchMs + 200; t += 50) {
    camera.state();
    seen.push_back(value(ControlID::focus));
    time.now += 50;
  }
  EXPECT_GT(std::count_if(seen.begin(), seen.end(), [&](std::int64_t f) { return f != seen.back(); }), 5)
      << "focus moves during the search";
  EXPECT_GT(*std::max_element(seen.begin(), seen.end()), 340) << "it hunts past the target";
  EXPECT_NEAR(static_cast<double>(seen.back()), 340, 10) << "and settles on the scene";
}

TEST_F(C200Test, AutoModesDriftWhileStreamingRestWhileIdleAndManualModesHold) {
  camera.state();
  const std::int64_t idleExposure = value(ControlID::exposure), idleFocus = value(ControlID::focus);
  time.now += 5000;
  camera.state();
  EXPECT_EQ(value(ControlID::exposure), idleExposure) << "no frames, nothing to meter";
  EXPECT_EQ(value(ControlID::focus), idleFocus);

  camera.setStreaming(true);
  std::set<std::int64_t> exposures, balances;
  for (int i = 0; i < 20; ++i) {
    camera.state();
    exposures.insert(value(ControlID::exposure));
    balances.insert(value(ControlID::whiteBalance));
    time.now += 700;
  }
  EXPECT_GT(exposures.size(), 3u);
  EXPECT_GT(balances.size(), 3u);
  for (std::int64_t wb : balances) EXPECT_EQ(wb % 10, 0) << "on the white balance step";

  ASSERT_EQ(set(camera, CT, 0x02, {1}).status, status::success);  // manual exposure
  ASSERT_EQ(set(camera, PU, 0x0B, {0}).status, status::success);  // manual white balance
  ASSERT_EQ(set(camera, CT, 0x04, le(300, 4)).status, status::success);
  const std::int64_t wb = value(ControlID::whiteBalance);
  time.now += 5000;
  camera.state();
  EXPECT_EQ(value(ControlID::exposure), 300);
  EXPECT_EQ(value(ControlID::whiteBalance), wb) << "the last automatic value stays";
}

TEST_F(C200Test, AutoModesSteerTowardTheSceneAndGetCurReportsTheValueInUse) {
  camera.setStreaming(true);
  for (const Lighting light : {Lighting{3200, 9}, Lighting{6000, 5}}) {
    camera.setLighting(light);
    time.now += 3000;  // 90 frames
    camera.state();
    EXPECT_NEAR(meanLuma(camera.sceneSettings(), light), SimCamera::kAutoExposureTarget, 0.03) << light.ev;
    EXPECT_NEAR(double(value(ControlID::whiteBalance)), light.illuminantK, 100);
    const Reply exposure = get(camera, kGetCur, CT, 0x04, 4);
    EXPECT_EQ(exposure.data[0] | exposure.data[1] << 8, value(ControlID::exposure));
  }
  // A brighter light needed a shorter exposure: the loop followed it, not a fixed swing.
  camera.setLighting({4500, 10});
  time.now += 3000;
  EXPECT_LT(value(ControlID::exposure), 60);
}

TEST_F(C200Test, WithTheQuirkAFlipWrittenWhileNotStreamingIsDropped) {
  const std::vector<std::uint8_t> flip = [] {
    std::vector<std::uint8_t> p(60, 0);
    p[0] = 1;
    return p;
  }();
  camera.setFlipNeedsStream(true);
  EXPECT_EQ(set(camera, XU, 0x11, flip).status, status::success);
  EXPECT_EQ(value(ControlID::horizontalFlip), 0);
  camera.setStreaming(true);
  EXPECT_EQ(set(camera, XU, 0x11, flip).status, status::success);
  EXPECT_EQ(value(ControlID::horizontalFlip), 1);
}

TEST_F(C200Test, FaultsActOnTheHostOnly) {
  camera.setRefused(ControlID::brightness, true);
  EXPECT_EQ(set(camera, PU, 0x02, le(5, 2)).status, status::pipeStalled);
  EXPECT_TRUE(camera.set(ControlID::brightness, 7)) << "another application still can";
  EXPECT_EQ(value(ControlID::brightness), 7);
  camera.setRefused(ControlID::brightness, false);
  EXPECT_EQ(set(camera, PU, 0x02, le(5, 2)).status, status::success);
  EXPECT_EQ(value(ControlID::brightness), 5);

  camera.setIgnored(ControlID::contrast, true);
  EXPECT_EQ(set(camera, PU, 0x03, le(10, 2)).status, status::success);
  EXPECT_EQ(value(ControlID::contrast), 50) << "accepted, not taken";
  EXPECT_TRUE(camera.set(ControlID::contrast, 20));
  EXPECT_EQ(value(ControlID::contrast), 20);

  camera.setHung(true);
  EXPECT_FALSE(camera.handle(sim::Setup{0xA1, kGetCur, 0x0200, 0x0200, 2}, {}).has_value());
  camera.setHung(false);
  EXPECT_TRUE(camera.handle(sim::Setup{0xA1, kGetCur, 0x0200, 0x0200, 2}, {}).has_value());
}

TEST_F(C200Test, SetChecksWhatTheCameraAccepts) {
  std::string error;
  EXPECT_FALSE(camera.set(ControlID::brightness, 65, &error));
  EXPECT_EQ(error, "brightness: 65 is not accepted (-64..64)");
  EXPECT_FALSE(camera.set(ControlID::fieldOfView, 80, &error));
  EXPECT_EQ(error, "fieldOfView: 80 is not accepted (one of 65, 78, 95)");
  EXPECT_TRUE(camera.set(ControlID::fieldOfView, 78));
  time.now += SimCamera::kZoomDelayMs;
  EXPECT_EQ(value(ControlID::zoom), 175) << "the firmware reacts to any writer";

  SimCamera generic(genericProfile(), time.clock());
  EXPECT_FALSE(generic.set(ControlID::focus, 1, &error));
  EXPECT_EQ(error, "this camera has no control focus");
}

TEST_F(C200Test, SleepForgetsEverything) {
  ASSERT_TRUE(camera.set(ControlID::brightness, 30));
  ASSERT_TRUE(camera.set(ControlID::hdr, 0));
  ASSERT_TRUE(camera.set(ControlID::fieldOfView, 65));
  camera.resetToDefaults();
  time.now += 1000;
  EXPECT_EQ(value(ControlID::brightness), 0);
  EXPECT_EQ(value(ControlID::hdr), 1);
  EXPECT_EQ(value(ControlID::fieldOfView), 95);
  EXPECT_EQ(value(ControlID::zoom), 100) << "the pending zoom was forgotten too";
}

TEST_F(C200Test, StateListsTheProfilesControls) {
  EXPECT_EQ(camera.state().size(), 20u);
  SimCamera generic(genericProfile(), time.clock());
  EXPECT_EQ(generic.state().size(), 13u);
}

TEST_F(C200Test, AnswersStandardDescriptorRequests) {
  const Reply config = *camera.handle(sim::Setup{0x80, 0x06, 0x0200, 0, 9}, {});
  EXPECT_EQ(config.data.size(), 9u);
  EXPECT_EQ(config.data[1], 0x02);
  const Reply device = *camera.handle(sim::Setup{0x80, 0x06, 0x0100, 0, 18}, {});
  ASSERT_EQ(device.data.size(), 18u);
  EXPECT_EQ(device.data[8] | device.data[9] << 8, 0x291A);
}

}  // namespace
}  // namespace velto::sim
