// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The preview end to end: the real GStreamer session streaming from a simulated C200, the
// watchdog on the manual clock. Frames arrive in real time, so waits for them are bounded polls
// for an event; every period of the watchdog passes only when the test advances its clock.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <string>
#include <thread>

#include "capture/preview_controller.h"
#include "platform/video/gst_capture_backend.h"
#include "sim/profile.h"
#include "eventually.h"
#include "sim_fixture.h"
#include "support/manual_clock.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using State = PreviewController::State;
using testing::eventually;
const CameraKey kC200{0x291a, 0x3369};

class PreviewSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus.plug(sim::c200Profile(), "c200");
    video::GstCaptureOptions options;
    options.sysfsRoot.clear();  // simulated cameras only
    options.simDirectory = bus.directory();
    options.watchDevices = false;
    preview = std::make_unique<PreviewController>(clock, std::make_unique<video::GstCaptureBackend>(options),
                                                  [this] { ++resets; });
  }
  void start(CameraKey key = kC200) {
    preview->start("window", std::nullopt, key);
    settle();
  }
  // The device is looked up on the session queue and the answer taken here, and the session asked
  // for in answer has been built.
  void settle() {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::processEvents();
      preview->session().waitUntilIdle();
    }
  }
  bool framesFlow() {
    const std::int64_t before = preview->analyzer().frameCount();
    return eventually([&] { return preview->analyzer().frameCount() > before + 2; });
  }
  // Frames already on their way when the camera froze have arrived.
  void settleFrozen() {
    std::int64_t seen = -1;
    for (int i = 0; i < 100 && preview->analyzer().frameCount() != seen; ++i) {
      seen = preview->analyzer().frameCount();
      std::this_thread::sleep_for(100ms);
    }
  }
  void tick(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock.advance(1s);
      settle();
    }
  }

  ManualClock clock;
  testing::SimBus bus{clock};
  std::unique_ptr<PreviewController> preview;
  int resets = 0;
};

TEST_F(PreviewSessionTest, AFrozenCameraIsRestartedThenResetAndRecoversWhenFramesFlow) {
  start();
  ASSERT_EQ(preview->state(), State::running);
  ASSERT_TRUE(framesFlow());
  ASSERT_TRUE(eventually([&] { return preview->stats().has_value(); }));
  EXPECT_EQ(preview->stats()->size, QSizeF(1280, 720));

  bus.command("c200", "freeze");
  settleFrozen();
  tick(6);
  EXPECT_TRUE(preview->recovering());
  EXPECT_EQ(preview->sessionRestarts(), 1);
  EXPECT_EQ(resets, 0);
  tick(5);
  EXPECT_EQ(resets, 1) << "a USB reset is asked for about 5 s after the restart";

  bus.command("c200", "thaw");
  ASSERT_TRUE(framesFlow());
  tick(1);
  EXPECT_FALSE(preview->recovering());
  EXPECT_EQ(preview->state(), State::running);
}

TEST_F(PreviewSessionTest, ACameraBusyElsewhereNamesTheProgramIsNeverResetAndShowsWithinASecondOnceFree) {
  // Another program, its name "zoom" (a link's name becomes the program's), holds the node open
  // as its standard input. Killed at the latest when the test ends.
  const QString program = bus.path("zoom");
  ASSERT_TRUE(QFile::link("/bin/sleep", program));
  QProcess zoom;
  zoom.setStandardInputFile(QString::fromStdString(bus.camera("c200").nodePath()));
  zoom.start(program, {"60"});
  ASSERT_TRUE(zoom.waitForStarted());
  bus.command("c200", "busy");
  start();
  ASSERT_TRUE(eventually([&] { return preview->problem().has_value(); }));
  EXPECT_EQ(preview->problem()->kind, video::SessionError::Kind::busy);
  EXPECT_EQ(preview->problem()->text, "zoom (PID " + std::to_string(zoom.processId()) + ") is using the camera.");
  EXPECT_TRUE(preview->inUseByAnotherApplication());
  tick(16);
  EXPECT_EQ(resets, 0);
  EXPECT_GE(preview->sessionRestarts(), 2);

  // The last try has been refused and the controller heard of it.
  ASSERT_TRUE(eventually([&] { return !preview->session().isSessionRunning(); }));
  QCoreApplication::processEvents();
  zoom.kill();
  ASSERT_TRUE(zoom.waitForFinished());
  bus.command("c200", "free");
  tick(1);  // the next try finds the camera free
  ASSERT_TRUE(framesFlow());
  EXPECT_TRUE(eventually([&] { return !preview->problem().has_value(); })) << "shown without another tick";
  EXPECT_FALSE(preview->recovering());
  EXPECT_FALSE(preview->inUseByAnotherApplication());
}

TEST_F(PreviewSessionTest, ACameraThatVanishesIsLookedForUntilItReturns) {
  start(CameraKey{0x046d, 0x085e});
  EXPECT_EQ(preview->state(), State::noCamera) << "no video device of that model";
  preview->stop("window");

  start();
  ASSERT_TRUE(framesFlow());
  bus.command("c200", "unplug");
  ASSERT_TRUE(eventually([&] { return preview->problem().has_value(); }));
  EXPECT_EQ(preview->problem()->kind, video::SessionError::Kind::vanished);
  tick(6);
  EXPECT_EQ(preview->state(), State::noCamera);
  bus.command("c200", "plug");
  tick(5);
  EXPECT_EQ(preview->state(), State::running);
  ASSERT_TRUE(framesFlow());
}

}  // namespace
}  // namespace velto
