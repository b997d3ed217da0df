// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Click-to-set in a closed loop: the simulated C200 takes the calibrator's writes through the
// real store, and the frames the analyzer sees are the simulator's own chart, rendered from the
// values the camera holds now.
#include "capture/calibrator.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cmath>

#include "capture/frame_analyzer.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "qt_printers.h"
#include "sim/profile.h"
#include "sim/scene.h"
#include "sim_fixture.h"
#include "store_fixture.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using Tool = Calibrator::Tool;

class CalibratorTest : public ::testing::Test {
 protected:
  void start(bool withCamera = true) {
    if (withCamera) bus.plug(sim::c200Profile(), "c200");
    store = std::make_unique<CameraStore>(clock, defaults, login, testing::storeOptions(bus));
    settle();
  }
  void settle() { testing::settle(*store); }
  std::int64_t camera(const std::string& name) { return bus.state("c200").at(name); }

  void deliverFrame() {
    std::vector<std::pair<ControlID, std::int64_t>> values;
    for (const auto& [name, v] : bus.state("c200")) {
      if (auto id = controlFromRawValue(name)) values.emplace_back(*id, v);
    }
    // Rows padded past 4 × width, as GStreamer may hand them over.
    Frame frame = Frame::filled(320, 180, 320 * 4 + 64);
    sim::renderScene(sim::sceneSettings(sim::c200Profile(), values), light, frameIndex++, 320, 180,
                     frame.bytesPerRow(), frame.mutablePixels());
    analyzer.queue().post([this, frame] { analyzer.deliver(frame); });
    analyzer.queue().waitUntilIdle();
  }
  // The centre of the chart's patch called `name`.
  static QPointF centreOf(std::string_view name) {
    for (const sim::Patch& p : sim::chart()) {
      if (p.name == name) return {p.x + p.width / 2, p.y + p.height / 2};
    }
    ADD_FAILURE() << "no patch " << name;
    return {};
  }
  double measuredLuma(QPointF point) {
    const auto c = analyzer.averageColor(point, 0.03);
    return c ? 0.2126 * (*c)[0] + 0.7152 * (*c)[1] + 0.0722 * (*c)[2] : -1;
  }
  // Lets a search run to its end: 10 ms at a time, a fresh frame each step, like a 100 fps camera.
  void runToEnd() {
    for (int i = 0; i < 20000 && calibrator.busy(); ++i) {
      deliverFrame();
      clock.advance(10ms);
      settle();
    }
    ASSERT_FALSE(calibrator.busy()) << "the search did not end";
  }
  std::size_t writes(int selector) { return bus.setRequests("c200", 2, selector).size() + bus.setRequests("c200", 1, selector).size(); }

  ManualClock clock;
  testing::SimBus bus{clock};
  UserDefaults defaults{bus.path("velto-camera.conf")};
  LoginItem login{"velto-camera", bus.path("autostart")};
  std::unique_ptr<CameraStore> store;
  FrameAnalyzer analyzer;
  Calibrator calibrator{clock};
  sim::Lighting light;
  std::uint64_t frameIndex = 0;
};

TEST_F(CalibratorTest, WhiteBalanceEndsNearTheIlluminantWithinTwoEndsAndEightProbes) {
  start();
  calibrator.setTool(Tool::whiteBalance);
  for (double kelvin : {3000.0, 6000.0}) {
    light.illuminantK = kelvin;
    const std::size_t before = writes(0x0A);
    calibrator.run(centreOf("mid-grey"), *store, analyzer);
    runToEnd();
    EXPECT_NEAR(double(camera("whiteBalance")), kelvin, 150);
    EXPECT_EQ(camera("autoWhiteBalance"), 0);
    EXPECT_LE(writes(0x0A) - before, 1u + 2 + 8 + 1) << "hand-over, two ends, eight probes, the result";
    EXPECT_EQ(calibrator.message(), QStringLiteral("White balance set to %1 K").arg(camera("whiteBalance")));
    EXPECT_FALSE(calibrator.point());
  }
}

// A result that no longer holds is not left on screen.
TEST_F(CalibratorTest, TheResultGoesWhenItsValueOrTheToolChanges) {
  start();
  calibrator.setTool(Tool::whiteBalance);
  auto calibrate = [&] {
    calibrator.run(centreOf("mid-grey"), *store, analyzer);
    runToEnd();
    ASSERT_TRUE(calibrator.message());
  };
  calibrate();
  clock.advance(3s);  // read-backs of the same value keep it
  settle();
  EXPECT_TRUE(calibrator.message());
  store->set(ControlID::whiteBalance, store->value(ControlID::whiteBalance) + 100);  // a slider, a preset, ...
  EXPECT_FALSE(calibrator.message());

  calibrate();
  bus.command("c200", "set whiteBalance 5000");  // another program
  clock.advance(3s);
  settle();
  EXPECT_FALSE(calibrator.message());

  calibrate();
  calibrator.setTool(Tool::exposure);
  EXPECT_FALSE(calibrator.message());

  calibrate();
  bus.command("c200", "unplug");
  store->rescan();
  settle();
  EXPECT_FALSE(calibrator.message()) << "the camera it spoke of is gone";
}

TEST_F(CalibratorTest, ExposureMeetsEachTarget) {
  start();
  calibrator.setTool(Tool::exposure);
  for (double target : {0.4, 0.5, 0.6}) {
    calibrator.setExposureTarget(target);
    const std::size_t before = writes(0x04);
    calibrator.run({0.5, 0.5}, *store, analyzer);  // mid grey lies under the centre
    runToEnd();
    deliverFrame();
    EXPECT_NEAR(measuredLuma({0.5, 0.5}), target, 0.05) << target;
    EXPECT_LE(writes(0x04) - before, 1u + 2 + 8 + 1) << "hand-over, two ends, eight probes, the result";
    EXPECT_TRUE(calibrator.message()->startsWith("Exposure set to ")) << calibrator.message()->toStdString();
  }
}

TEST_F(CalibratorTest, ATargetOutOfReachEndsAtTheBetterEndAfterTheTwoEnds) {
  start();
  light.ev -= 6;  // a dim room: black stays far below the target even at the longest exposure
  calibrator.setTool(Tool::exposure);
  calibrator.setExposureTarget(0.6);
  const std::size_t before = writes(0x04);
  calibrator.run(centreOf("black"), *store, analyzer);
  runToEnd();
  EXPECT_EQ(camera("exposure"), 5000) << "the longest exposure comes closest";
  EXPECT_LE(writes(0x04) - before, 1u + 2 + 1) << "hand-over, the two ends and the result, no probes";
  EXPECT_TRUE(calibrator.message()->startsWith("Exposure set to ")) << calibrator.message()->toStdString();
}

TEST_F(CalibratorTest, ASpotWithoutRedCannotBeReadAndAutoStaysOff) {
  start();
  calibrator.setTool(Tool::whiteBalance);
  calibrator.run(centreOf("blue"), *store, analyzer);
  runToEnd();
  EXPECT_EQ(calibrator.message(), "Couldn't read that spot — pick a brighter neutral area.");
  EXPECT_EQ(camera("autoWhiteBalance"), 0);
}

TEST_F(CalibratorTest, ASecondClickStopsTheFirstSearchWithoutAMessage) {
  start();
  calibrator.setTool(Tool::whiteBalance);
  calibrator.run({0.1, 0.1}, *store, analyzer);
  for (int i = 0; i < 40; ++i) {
    deliverFrame();
    clock.advance(10ms);
    settle();
  }
  ASSERT_TRUE(calibrator.busy());
  calibrator.run(centreOf("light-grey"), *store, analyzer);
  EXPECT_EQ(calibrator.point(), centreOf("light-grey"));
  EXPECT_FALSE(calibrator.message());
  runToEnd();
  EXPECT_TRUE(calibrator.message()->startsWith("White balance set to"));

  calibrator.run({0.5, 0.5}, *store, analyzer);
  calibrator.cancel();
  EXPECT_FALSE(calibrator.busy());
  EXPECT_FALSE(calibrator.point());
}

TEST_F(CalibratorTest, WithoutTheControlThereIsNothingToSearch) {
  start(false);
  calibrator.setTool(Tool::exposure);
  calibrator.run({0.5, 0.5}, *store, analyzer);
  EXPECT_EQ(calibrator.message(), "This camera has no manual exposure.");
  EXPECT_FALSE(calibrator.busy());
  calibrator.setTool(Tool::none);
  calibrator.run({0.4, 0.4}, *store, analyzer);
  EXPECT_FALSE(calibrator.message());
  EXPECT_EQ(calibrator.point(), QPointF(0.4, 0.4)) << "the marker stays; nothing starts";
}

}  // namespace
}  // namespace velto
