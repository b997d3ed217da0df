// UVCDevice over the whole stack (cuvc, the sim carrier, a simulated camera), checked on the wire
// through the camera's request log.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

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

TEST_F(UVCDeviceSimTest, TheSimulatedC200LooksLikeTheRealOne) {
  bus.plug(sim::c200Profile(), "c200");
  bus.plug(sim::genericProfile(), "generic");
  auto devices = connected();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]->name(), "Anker PowerConf C200");
  EXPECT_TRUE(devices[0]->isAnkerC200());
  EXPECT_EQ(devices[0]->supported().size(), 22u);
  EXPECT_EQ(devices[0]->registryID(), bus.camera("c200").registryID());
  EXPECT_FALSE(devices[1]->isAnkerC200());
  for (ControlID id : {ControlID::horizontalFlip, ControlID::hdr, ControlID::micPickup, ControlID::fieldOfView,
                       ControlID::pan, ControlID::focus}) {
    EXPECT_FALSE(devices[1]->supports(id)) << rawValue(id);
  }
  const ControlRanges ranges = devices[0]->readRanges();
  EXPECT_EQ(ranges.at(ControlID::autoExposure), (ControlRange{0, 1, 1, 2})) << "no minimum or maximum";
  EXPECT_EQ(ranges.at(ControlID::pan).step, 3600);
  EXPECT_EQ(ranges.at(ControlID::fieldOfView), (ControlRange{65, 95, 1, 78}));
  EXPECT_FALSE(devices[0]->readAll().contains(ControlID::hdr));
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
