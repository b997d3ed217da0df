// Click-to-set in a closed loop: the simulated C200 takes the calibrator's writes through the
// real store, and the frames the analyzer sees are rendered from the values the camera holds: a
// grey spot under an illuminant, neutral exactly when white balance equals it, as bright as the
// exposure time makes it.
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

  // The spot's colour (0…1) as the camera renders it now.
  std::array<double, 3> spot() {
    const double lnRB = 1.3 * std::log(illuminant / double(camera("whiteBalance")));
    const double level = 0.45 * double(camera("exposure")) / 156.0;
    auto clip = [](double v) { return std::clamp(v, 0.0, 1.0); };
    return {redFree ? 0.0 : clip(level * std::exp(lnRB / 2)), clip(level), clip(level * std::exp(-lnRB / 2))};
  }
  void deliverFrame() {
    const auto c = spot();
    Frame frame = Frame::filled(64, 36, 256);
    for (std::size_t i = 0; i < frame.size(); i += 4) {
      frame.mutablePixels()[i] = static_cast<std::uint8_t>(std::lround(c[2] * 255));
      frame.mutablePixels()[i + 1] = static_cast<std::uint8_t>(std::lround(c[1] * 255));
      frame.mutablePixels()[i + 2] = static_cast<std::uint8_t>(std::lround(c[0] * 255));
    }
    analyzer.queue().post([this, frame] { analyzer.deliver(frame); });
    analyzer.queue().waitUntilIdle();
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
  double illuminant = 4500;
  bool redFree = false;
};

TEST_F(CalibratorTest, WhiteBalanceEndsNearTheIlluminantWithinTwoEndsAndEightProbes) {
  start();
  calibrator.setTool(Tool::whiteBalance);
  for (double light : {3000.0, 6000.0}) {
    illuminant = light;
    const std::size_t before = writes(0x0A);
    calibrator.run({0.5, 0.5}, *store, analyzer);
    runToEnd();
    EXPECT_NEAR(double(camera("whiteBalance")), light, 150);
    EXPECT_EQ(camera("autoWhiteBalance"), 0);
    EXPECT_LE(writes(0x0A) - before, 1u + 2 + 8 + 1) << "hand-over, two ends, eight probes, the result";
    EXPECT_EQ(calibrator.message(), QStringLiteral("White balance set to %1 K").arg(camera("whiteBalance")));
    EXPECT_FALSE(calibrator.point());
  }
}

TEST_F(CalibratorTest, ExposureMeetsEachTarget) {
  start();
  calibrator.setTool(Tool::exposure);
  for (double target : {0.4, 0.5, 0.6}) {
    calibrator.setExposureTarget(target);
    calibrator.run({0.5, 0.5}, *store, analyzer);
    runToEnd();
    const auto c = spot();
    EXPECT_NEAR(0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2], target, 0.05) << target;
    EXPECT_TRUE(calibrator.message()->startsWith("Exposure set to ")) << calibrator.message()->toStdString();
  }
}

TEST_F(CalibratorTest, ASpotWithoutRedCannotBeReadAndAutoStaysOff) {
  start();
  redFree = true;
  calibrator.setTool(Tool::whiteBalance);
  calibrator.run({0.2, 0.3}, *store, analyzer);
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
  calibrator.run({0.9, 0.9}, *store, analyzer);
  EXPECT_EQ(calibrator.point(), QPointF(0.9, 0.9));
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
