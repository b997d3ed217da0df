// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// UVCDevice over the whole stack (cuvc, the sim carrier, a simulated camera), checked on the wire
// through the camera's request log.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <set>
#include <tuple>

#include "platform/usb/registry.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "uvc/usb_monitor.h"
#include "uvc/uvc_device.h"

namespace velto {
namespace {

constexpr int kCT = 1, kXU = 6;

class UVCDeviceSimTest : public ::testing::Test {
 protected:
  std::vector<std::shared_ptr<UVCDevice>> connected() {
    usb::RegistryOptions options;
    options.simDirectory = bus.directory();
    return UVCDevice::connected(options);
  }
  std::shared_ptr<UVCDevice> only() {
    auto devices = connected();
    EXPECT_EQ(devices.size(), 1u);
    return devices.empty() ? nullptr : devices.front();
  }

  ManualClock clock;
  testing::SimBus bus{clock};
};

// The controls a simulated profile answers, by name.
std::set<ControlID> answered(const sim::Profile& profile) {
  std::set<ControlID> ids;
  for (const sim::WireControl& w : profile.controls) {
    for (const sim::Field& f : w.fields) ids.insert(f.id);
  }
  return ids;
}

TEST_F(UVCDeviceSimTest, TheDeviceOffersWhatTheCameraAdvertises) {
  bus.plug(sim::c200Profile(), "c200");
  bus.plug(sim::genericProfile(), "generic");
  auto devices = connected();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]->name(), "Anker PowerConf C200");
  EXPECT_TRUE(devices[0]->isAnkerC200());
  EXPECT_EQ(devices[0]->registryID(), bus.camera("c200").registryID());
  EXPECT_FALSE(devices[1]->isAnkerC200());
  // From the descriptors' bmControls and the vendor unit: exactly what each camera answers
  // (the C200 has no gain or backlight compensation, the other camera no vendor controls).
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const std::vector<ControlID>& offered = devices[i]->supported();
    const sim::Profile profile = i == 0 ? sim::c200Profile() : sim::genericProfile();
    EXPECT_EQ(std::set<ControlID>(offered.begin(), offered.end()), answered(profile)) << profile.name;
  }
  const ControlRanges ranges = devices[0]->readRanges();
  const ControlRange& mode = ranges.at(ControlID::autoExposure);
  EXPECT_EQ(std::tuple(mode.min, mode.max, mode.step, mode.defaultValue), std::tuple(0, 1, 1, 2))
      << "no minimum or maximum";
  EXPECT_EQ(ranges.at(ControlID::pan).step, 3600);
  const ControlRange& fov = ranges.at(ControlID::fieldOfView);
  EXPECT_EQ(std::tuple(fov.min, fov.max, fov.step, fov.defaultValue), std::tuple(65, 95, 1, 78));
  EXPECT_FALSE(devices[0]->readAll().contains(ControlID::hdr));
}

// Each control the C200 has, written through the whole stack on its own, must land in the
// camera under its own name with the value written (not in a neighbour's selector or bytes) and
// read back: the catalogue's layout checked against the camera's.
TEST_F(UVCDeviceSimTest, EveryControlWrittenLandsUnderItsOwnNameAndReadsBack) {
  bus.plug(sim::c200Profile(), "c200");
  auto camera = only();
  ASSERT_NE(camera, nullptr);
  const sim::Profile profile = sim::c200Profile();
  int checked = 0;
  // Catalogue order: the auto modes go to manual before the controls they govern.
  for (ControlID id : camera->supported()) {
    const sim::Field& field = *profile.field(id);
    const std::int64_t before = bus.state("c200").at(std::string(rawValue(id)));
    // A value away from the current one, negative where the field is signed; for a choice, the
    // allowed value furthest from the current one (manual for the auto modes).
    std::int64_t value = field.isSigned ? field.range.min + field.range.step : field.range.max - field.range.step;
    if (!field.allowed.empty()) value = before == field.allowed.front() ? field.allowed.back() : field.allowed.front();
    if (value == before) value = before == field.range.max ? field.range.min : field.range.max;
    ASSERT_NE(value, before) << rawValue(id);
    EXPECT_TRUE(camera->write({{id, value}}).empty()) << rawValue(id);
    EXPECT_EQ(bus.state("c200").at(std::string(rawValue(id))), value) << rawValue(id);
    if (spec(id).readable) {
      EXPECT_EQ(camera->read(id), value) << rawValue(id);
    }
    ++checked;
  }
  EXPECT_EQ(checked, 20);
}

TEST_F(UVCDeviceSimTest, PanAloneIsReadModifyWriteOfTheSharedPayload) {
  bus.plug(sim::c200Profile(), "c200");
  bus.command("c200", "set tilt -3600");
  auto camera = only();
  EXPECT_TRUE(camera->write({{ControlID::pan, 7200}}).empty());
  EXPECT_EQ(bus.setRequests("c200", kCT, 0x0D), std::vector<std::string>{"201c0000f0f1ffff"});
  EXPECT_EQ(bus.state("c200").at("tilt"), -3600);

  // Refused: both controls of the request are reported.
  bus.command("c200", "refuse pan");
  EXPECT_EQ(camera->write({{ControlID::tilt, 0}}), (std::vector<ControlID>{ControlID::tilt}));
  EXPECT_EQ(camera->write({{ControlID::pan, 0}, {ControlID::tilt, 0}}),
            (std::vector<ControlID>{ControlID::pan, ControlID::tilt}));
}

TEST_F(UVCDeviceSimTest, MicPickupAndFieldOfViewShareOneRequest) {
  bus.plug(sim::c200Profile(), "c200");
  auto camera = only();
  EXPECT_TRUE(camera->write({{ControlID::micPickup, 0}, {ControlID::fieldOfView, 78}}).empty());
  const auto sets = bus.setRequests("c200", kXU, 0x10);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].substr(0, 12), "00014e000000") << "00 01, 78 little-endian, 0, pickup 0";
  EXPECT_EQ(sets[0].size(), 120u) << "the whole 60-byte payload";
  EXPECT_EQ(bus.state("c200").at("micPickup"), 0);
  EXPECT_EQ(camera->read(ControlID::fieldOfView), 78);
}

TEST_F(UVCDeviceSimTest, AHungCameraAnswersWithinOneTimeOut) {
  bus.plug(sim::c200Profile(), "c200");
  auto camera = only();
  bus.command("c200", "hang");
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(camera->readAll().empty());
  EXPECT_LT(timer.elapsed(), 1500);
  usb::Status status = usb::status::success;
  EXPECT_EQ(camera->read(ControlID::brightness, &status), std::nullopt);
  EXPECT_EQ(status, usb::status::timeout);
}

TEST_F(UVCDeviceSimTest, ReenumerationLeavesTheOldHandleStale) {
  bus.plug(sim::c200Profile(), "c200", 10);
  auto camera = only();
  const auto before = camera->registryID();
  EXPECT_EQ(camera->reenumerate(), usb::status::success);
  EXPECT_TRUE(camera->readAll().empty());
  ASSERT_TRUE(bus.waitUntilPlugged("c200", before));
  auto again = only();
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again->registryID(), before);
}

TEST_F(UVCDeviceSimTest, TheMonitorReportsPlugAndUnplugButNotWhatWasThere) {
  bus.plug(sim::c200Profile(), "present");
  int calls = 0;
  usb::RegistryOptions options;
  options.simDirectory = bus.directory();
  USBMonitor monitor([&] { ++calls; }, options);
  auto waitForCall = [&](int atLeast) {
    QElapsedTimer timer;
    timer.start();
    while (calls < atLeast && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return calls >= atLeast;
  };
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, 0) << "cameras present at construction";
  bus.plug(sim::genericProfile(), "new");
  ASSERT_TRUE(waitForCall(1));
  const int afterPlug = calls;
  bus.command("new", "unplug");
  ASSERT_TRUE(waitForCall(afterPlug + 1));
}

}  // namespace
}  // namespace velto
