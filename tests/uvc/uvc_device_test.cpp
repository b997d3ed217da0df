// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uvc/uvc_device.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <tuple>

#include "fixtures/descriptors.h"
#include "scripted_carrier.h"

namespace velto {
namespace {

using testing::Answer;
using testing::ScriptedDevice;
using testing::SentRequest;
using Bytes = std::vector<std::uint8_t>;

// GET_CURs of a whole reading: 21 readable controls (all but hdr) in 19 requests, since pan and
// tilt share one and so do the field of view and the microphone pickup.
constexpr std::size_t kReadAllRequests = 19;

// A camera as a table of answers: (request, unit, selector) -> payload; anything missing stalls.
struct Registers {
  std::map<std::tuple<int, int, int>, Bytes> answers;
  std::map<std::tuple<int, int>, usb::Status> setStatus;  // (unit, selector) -> SET_CUR status

  void operator()(std::uint8_t request, std::uint8_t unit, std::uint8_t selector, Bytes bytes) {
    answers[{request, unit, selector}] = std::move(bytes);
  }
  Answer answer(const SentRequest& s) const {
    const int unit = s.setup.wIndex >> 8;
    const int selector = s.setup.wValue >> 8;
    if (s.setup.bRequest == CUVC_SET_CUR) {
      auto it = setStatus.find({unit, selector});
      return Answer{it == setStatus.end() ? usb::status::success : it->second, {}};
    }
    auto it = answers.find({s.setup.bRequest, unit, selector});
    if (it == answers.end()) return Answer{usb::status::pipeStalled, {}};
    return Answer{usb::status::success, it->second};
  }
};

class UVCDeviceTest : public ::testing::Test {
 protected:
  std::shared_ptr<UVCDevice> open(const Bytes& descriptor = fixtures::c200Configuration()) {
    device->descriptor = descriptor;
    device->answer = [this](const SentRequest& s) { return registers.answer(s); };
    service = testing::scriptedService(device);
    service.productName = productName;
    return UVCDevice::create(service);
  }
  // The (request code, unit, selector) of every request sent so far.
  std::vector<std::tuple<int, int, int>> wire() const {
    std::vector<std::tuple<int, int, int>> out;
    for (const SentRequest& s : device->requests) out.emplace_back(s.setup.bRequest, s.setup.wIndex >> 8, s.setup.wValue >> 8);
    return out;
  }

  std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
  usb::Service service;
  Registers registers;
  std::optional<std::string> productName = "Anker PowerConf C200";
};

TEST_F(UVCDeviceTest, TheC200OffersEveryControl) {
  auto camera = open();
  ASSERT_NE(camera, nullptr);
  EXPECT_EQ(camera->name(), "Anker PowerConf C200");
  EXPECT_EQ(camera->key(), (CameraKey{0x291A, 0x3369}));
  EXPECT_EQ(camera->registryID(), 42u);
  EXPECT_EQ(camera->locationID(), 0x01120000u);
  EXPECT_TRUE(camera->isAnkerC200());
  EXPECT_EQ(camera->supported(), std::vector<ControlID>(allControls().begin(), allControls().end()));
}

TEST_F(UVCDeviceTest, VendorControlsNeedTheModelAndTheGuid) {
  // Right GUID, another product.
  device->productID = 0x3370;
  auto other = open();
  EXPECT_FALSE(other->isAnkerC200());
  EXPECT_FALSE(other->supports(ControlID::fieldOfView));
  EXPECT_TRUE(other->supports(ControlID::pan));

  // Right model, but its first extension unit has another GUID.
  device->productID = 0x3369;
  Bytes descriptor = fixtures::c200Configuration();
  descriptor[73] = 0x00;  // first GUID byte (the extension unit starts at offset 69)
  auto wrongGuid = open(descriptor);
  EXPECT_FALSE(wrongGuid->isAnkerC200());
  for (ControlID id : {ControlID::horizontalFlip, ControlID::hdr, ControlID::micPickup, ControlID::fieldOfView}) {
    EXPECT_FALSE(wrongGuid->supports(id)) << rawValue(id);
  }
}

TEST_F(UVCDeviceTest, SupportFollowsTheControlBitmaps) {
  Bytes descriptor = fixtures::c200Configuration();
  descriptor[55] &= ~0x08;  // camera terminal bmControls byte 1: clear bit 11 (pan/tilt)
  auto camera = open(descriptor);
  EXPECT_FALSE(camera->supports(ControlID::pan));
  EXPECT_FALSE(camera->supports(ControlID::tilt));
  EXPECT_TRUE(camera->supports(ControlID::zoom));

  productName.reset();
  device->vendorID = 0x046d;
  device->productID = 0x0825;
  auto generic = open(fixtures::genericConfiguration());
  EXPECT_EQ(generic->name(), "UVC Camera 046d:0825");
  EXPECT_EQ(generic->supported(), (std::vector<ControlID>{ControlID::autoExposure, ControlID::exposure,
                                                          ControlID::autoWhiteBalance, ControlID::whiteBalance,
                                                          ControlID::brightness, ControlID::contrast,
                                                          ControlID::saturation, ControlID::zoom}));
}

TEST_F(UVCDeviceTest, NameFallsBackToTheIdsInLowerCaseHex) {
  productName.reset();
  EXPECT_EQ(open()->name(), "UVC Camera 291a:3369");
}

TEST_F(UVCDeviceTest, OpeningFailsWithoutVideoControl) {
  EXPECT_EQ(open(fixtures::audioOnlyConfiguration()), nullptr);
  auto listed = UVCDevice::connected(std::vector<usb::Service>{service, testing::scriptedService(device)});
  EXPECT_TRUE(listed.empty());
}

TEST_F(UVCDeviceTest, RangesFollowTheRequestRules) {
  auto camera = open();
  // brightness: everything answers; GET_RES of 1 means step 1.
  registers(CUVC_GET_DEF, 2, 0x02, {0x00, 0x00});
  registers(CUVC_GET_MIN, 2, 0x02, {0xC0, 0xFF});
  registers(CUVC_GET_MAX, 2, 0x02, {0x40, 0x00});
  registers(CUVC_GET_RES, 2, 0x02, {0x01, 0x00});
  // contrast: GET_DEF fails, so the default is the minimum; GET_RES 0 means step 1.
  registers(CUVC_GET_MIN, 2, 0x03, {0x05, 0x00});
  registers(CUVC_GET_MAX, 2, 0x03, {0x64, 0x00});
  registers(CUVC_GET_RES, 2, 0x03, {0x00, 0x00});
  // white balance: a real step.
  registers(CUVC_GET_DEF, 2, 0x0A, {0xF8, 0x11});
  registers(CUVC_GET_MIN, 2, 0x0A, {0xF0, 0x0A});
  registers(CUVC_GET_MAX, 2, 0x0A, {0x64, 0x19});
  registers(CUVC_GET_RES, 2, 0x0A, {0x0A, 0x00});
  // auto-exposure mode: no minimum or maximum, only a default.
  registers(CUVC_GET_DEF, 1, 0x02, {0x02});
  registers(CUVC_GET_RES, 1, 0x02, {0x0B});
  // gain: only GET_MAX answers: no range.
  registers(CUVC_GET_MAX, 2, 0x04, {0x64, 0x00});

  const ControlRanges ranges = camera->readRanges();
  EXPECT_EQ(ranges.at(ControlID::brightness), (ControlRange{-64, 64, 1, 0}));
  EXPECT_EQ(ranges.at(ControlID::contrast), (ControlRange{5, 100, 1, 5}));
  EXPECT_EQ(ranges.at(ControlID::whiteBalance), (ControlRange{2800, 6500, 10, 4600}));
  EXPECT_EQ(ranges.at(ControlID::autoExposure), (ControlRange{0, 1, 1, 2, 0x0B})) << "with the modes it offers";
  EXPECT_FALSE(ranges.contains(ControlID::gain));
  // Vendor ranges are fixed and never asked for.
  EXPECT_EQ(ranges.at(ControlID::hdr), (ControlRange{0, 1, 1, 1}));
  EXPECT_EQ(ranges.at(ControlID::micPickup), (ControlRange{0, 90, 90, 90}));
  EXPECT_EQ(ranges.at(ControlID::fieldOfView), (ControlRange{65, 95, 1, 78}));
  EXPECT_EQ(ranges.at(ControlID::horizontalFlip), (ControlRange{0, 1, 1, 0}));
  for (const SentRequest& s : device->requests) EXPECT_NE(s.setup.wIndex >> 8, 6) << "vendor unit asked";

  // GET_MAX only after GET_MIN succeeded, GET_RES only after both (or, for the auto-exposure mode,
  // for its mode bitmap), in the order DEF, MIN, MAX, RES.
  std::vector<std::tuple<int, int, int>> aeRequests, gainRequests;
  for (const auto& r : wire()) {
    if (std::get<1>(r) == 1 && std::get<2>(r) == 0x02) aeRequests.push_back(r);
    if (std::get<1>(r) == 2 && std::get<2>(r) == 0x04) gainRequests.push_back(r);
  }
  EXPECT_EQ(aeRequests, (std::vector<std::tuple<int, int, int>>{{0x87, 1, 2}, {0x82, 1, 2}, {0x84, 1, 2}}));
  EXPECT_EQ(gainRequests, (std::vector<std::tuple<int, int, int>>{{0x87, 2, 4}, {0x82, 2, 4}}));
  // Every request asks for the control's whole payload.
  for (const SentRequest& s : device->requests) {
    const UnitKind unit = (s.setup.wIndex >> 8) == 1 ? UnitKind::cameraTerminal : UnitKind::processingUnit;
    for (ControlID id : allControls()) {
      if (spec(id).unit == unit && spec(id).selector == (s.setup.wValue >> 8)) {
        EXPECT_EQ(s.setup.wLength, spec(id).length) << rawValue(id);
      }
    }
  }
}

TEST_F(UVCDeviceTest, ReadAllSkipsHdrAndFailedReads) {
  auto camera = open();
  registers(CUVC_GET_CUR, 2, 0x02, {0xFF, 0xFF});  // brightness -1
  registers(CUVC_GET_CUR, 1, 0x0D, {0x10, 0x0E, 0x00, 0x00, 0xF0, 0xF1, 0xFF, 0xFF});  // pan/tilt
  Bytes vendor(60, 0);
  vendor[1] = 0x01;
  vendor[2] = 65;
  vendor[5] = 90;
  registers(CUVC_GET_CUR, 6, 0x10, vendor);
  registers(CUVC_GET_CUR, 6, 0x13, Bytes(60, 1));

  const ControlValues values = camera->readAll();
  EXPECT_EQ(values, (ControlValues{{ControlID::brightness, -1}, {ControlID::micPickup, 90},
                                   {ControlID::fieldOfView, 65}, {ControlID::pan, 3600}, {ControlID::tilt, -3600}}));
  for (const auto& r : wire()) EXPECT_NE(std::get<2>(r), 0x13) << "hdr is never read";
  // One GET_CUR per request: shared ones (pan and tilt, field of view and pickup) are read once.
  EXPECT_EQ(device->requests.size(), kReadAllRequests);
}

TEST_F(UVCDeviceTest, AnUnpluggedCameraReadsNothing) {
  auto camera = open();
  registers(CUVC_GET_CUR, 2, 0x02, {0x01, 0x00});
  device->answer = [](const SentRequest&) { return Answer{usb::status::noDevice, {}}; };
  EXPECT_TRUE(camera->readAll().empty());
  EXPECT_EQ(camera->read(ControlID::brightness), std::nullopt);
}

TEST_F(UVCDeviceTest, PanAloneKeepsTheCurrentTilt) {
  auto camera = open();
  registers(CUVC_GET_CUR, 1, 0x0D, {0x00, 0x00, 0x00, 0x00, 0x10, 0x0E, 0x00, 0x00});  // tilt 3600
  EXPECT_TRUE(camera->write({{ControlID::pan, -3600}}).empty());
  ASSERT_EQ(wire(), (std::vector<std::tuple<int, int, int>>{{0x81, 1, 0x0D}, {0x01, 1, 0x0D}}));
  EXPECT_EQ(device->requests[1].outData, (Bytes{0xF0, 0xF1, 0xFF, 0xFF, 0x10, 0x0E, 0x00, 0x00}));

  // When the current payload cannot be read, nothing is sent: tilt would go out as an invented
  // zero. The group fails with the read's status.
  device->requests.clear();
  registers.answers.clear();
  std::vector<usb::Status> statuses;
  EXPECT_EQ(camera->write({{ControlID::pan, 7200}}, &statuses), (std::vector<ControlID>{ControlID::pan}));
  EXPECT_EQ(wire(), (std::vector<std::tuple<int, int, int>>{{0x81, 1, 0x0D}}));
  EXPECT_EQ(statuses, (std::vector<usb::Status>{usb::status::pipeStalled}));
}

TEST_F(UVCDeviceTest, SharedVendorRequestIsOneReadAndOneWrite) {
  auto camera = open();
  Bytes current(60, 0);
  current[0] = 0x00;
  current[1] = 0x01;
  current[2] = 78;
  current[40] = 0x77;  // a byte the application knows nothing about
  registers(CUVC_GET_CUR, 6, 0x10, current);
  EXPECT_TRUE(camera->write({{ControlID::fieldOfView, 95}, {ControlID::micPickup, 0}}).empty());
  ASSERT_EQ(wire(), (std::vector<std::tuple<int, int, int>>{{0x81, 6, 0x10}, {0x01, 6, 0x10}}));
  Bytes expected = current;
  expected[2] = 95;
  expected[5] = 0;
  EXPECT_EQ(device->requests[1].outData, expected);
  EXPECT_EQ(device->requests[1].setup.wLength, 60);
}

TEST_F(UVCDeviceTest, BatchesGoOutInCatalogueOrderAndReportFailedGroups) {
  auto camera = open();
  registers(CUVC_GET_CUR, 6, 0x13, Bytes(60, 0));
  registers(CUVC_GET_CUR, 1, 0x0D, Bytes(8, 0));
  registers.setStatus[{1, 0x0D}] = usb::status::pipeStalled;
  registers.setStatus[{2, 0x03}] = usb::status::ioError;
  const auto failed = camera->write({{ControlID::tilt, 10}, {ControlID::pan, 20}, {ControlID::exposure, 300},
                                     {ControlID::contrast, 50}, {ControlID::autoExposure, 1}, {ControlID::hdr, 0}});
  EXPECT_EQ(failed, (std::vector<ControlID>{ControlID::contrast, ControlID::pan, ControlID::tilt}));
  std::vector<std::tuple<int, int, int>> sets;
  for (const auto& r : wire()) if (std::get<0>(r) == CUVC_SET_CUR) sets.push_back(r);
  EXPECT_EQ(sets, (std::vector<std::tuple<int, int, int>>{
                      {1, 1, 0x02}, {1, 1, 0x04}, {1, 2, 0x03}, {1, 6, 0x13}, {1, 1, 0x0D}}));
  // Whole-payload controls need no preparatory read; hdr's 60-byte payload does.
  std::vector<std::tuple<int, int, int>> reads;
  for (const auto& r : wire()) if (std::get<0>(r) == CUVC_GET_CUR) reads.push_back(r);
  EXPECT_EQ(reads, (std::vector<std::tuple<int, int, int>>{{0x81, 6, 0x13}, {0x81, 1, 0x0D}}));
}

TEST_F(UVCDeviceTest, UnsupportedControlsAreNeitherSentNorReported) {
  productName.reset();
  auto generic = open(fixtures::genericConfiguration());
  EXPECT_TRUE(generic->write({{ControlID::pan, 100}, {ControlID::fieldOfView, 65}, {ControlID::focus, 3}}).empty());
  EXPECT_TRUE(device->requests.empty());
  EXPECT_EQ(generic->read(ControlID::focus), std::nullopt);
  EXPECT_TRUE(device->requests.empty());
}

TEST_F(UVCDeviceTest, AHungCameraCostsOneTimeOutPerOperation) {
  auto camera = open();
  device->answer = [](const SentRequest&) { return Answer{usb::status::timeout, {}}; };
  EXPECT_TRUE(camera->readAll().empty());
  EXPECT_EQ(device->requests.size(), 1u);
  device->requests.clear();
  const ControlRanges ranges = camera->readRanges();
  EXPECT_EQ(device->requests.size(), 1u);
  EXPECT_FALSE(ranges.contains(ControlID::autoExposure));
  device->requests.clear();
  std::vector<usb::Status> statuses;
  const auto failed = camera->write({{ControlID::brightness, 1}, {ControlID::contrast, 2}, {ControlID::pan, 3}}, &statuses);
  EXPECT_EQ(device->requests.size(), 1u);
  EXPECT_EQ(failed, (std::vector<ControlID>{ControlID::brightness, ControlID::contrast, ControlID::pan}));
  EXPECT_EQ(statuses, std::vector<usb::Status>(3, usb::status::timeout));

  // Other failures are per control: a stall does not stop the rest.
  device->requests.clear();
  device->answer = [](const SentRequest&) { return Answer{usb::status::pipeStalled, {}}; };
  EXPECT_TRUE(camera->readAll().empty());
  EXPECT_EQ(device->requests.size(), kReadAllRequests);
}

TEST_F(UVCDeviceTest, OperationsFromSeveralThreadsNeverInterleaveOnTheWire) {
  auto camera = open();
  registers(CUVC_GET_CUR, 1, 0x0D, Bytes(8, 0));
  // The fake carrier itself has no lock: only the device's lock keeps its wire log consistent,
  // which the ThreadSanitizer build checks.
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) camera->write({{ControlID::pan, i}});
  });
  std::thread reader([&] {
    for (int i = 0; i < 20; ++i) camera->readAll();
  });
  writer.join();
  reader.join();
  const auto w = wire();
  int setCount = 0;
  for (std::size_t k = 0; k < w.size(); ++k) {
    if (std::get<0>(w[k]) != CUVC_SET_CUR) continue;
    ++setCount;
    ASSERT_GT(k, 0u);
    EXPECT_EQ(w[k - 1], (std::tuple<int, int, int>{CUVC_GET_CUR, 1, 0x0D})) << "read-modify-write split at " << k;
  }
  EXPECT_EQ(setCount, 200);
  EXPECT_EQ(w.size(), 200u * 2 + 20u * kReadAllRequests);
}

TEST_F(UVCDeviceTest, ReenumerationGoesThroughTheTransport) {
  auto camera = open();
  device->openStatus = usb::status::notPrivileged;
  EXPECT_EQ(camera->reenumerate(), usb::status::notPrivileged);
  device->openStatus = usb::status::success;
  EXPECT_EQ(camera->reenumerate(), usb::status::success);
  camera.reset();
  EXPECT_EQ(device->calls.back(), "destroy") << "the handle is closed with the device";
}

}  // namespace
}  // namespace velto
