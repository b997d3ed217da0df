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
#include "platform/video/sim_stream.h"
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

// Another program of this user that holds the camera's node has it: the preview lets the camera
// go (or never takes it), names the program, restarts and resets nothing meanwhile, and takes the
// camera back once nobody else has held the node for a second.
TEST_F(PreviewSessionTest, AnotherProgramHoldingTheCameraGetsItAndThePreviewTakesItBackOnceFree) {
  // "zoom" (a link's name becomes the program's) holds the node open as its standard input.
  const QString program = bus.path("zoom");
  ASSERT_TRUE(QFile::link("/bin/sleep", program));
  auto holdNode = [&](QProcess& zoom) {
    zoom.setStandardInputFile(QString::fromStdString(bus.camera("c200").nodePath()));
    zoom.start(program, {"60"});
    ASSERT_TRUE(zoom.waitForStarted());
  };
  auto pausedFor = [&](const QProcess& zoom) {
    return eventually([&] {
      settle();
      return preview->pausedFor() == video::CameraHolder{static_cast<pid_t>(zoom.processId()), "zoom"};
    });
  };
  auto giveBack = [&](QProcess& zoom) {
    zoom.kill();
    ASSERT_TRUE(zoom.waitForFinished());
    ASSERT_TRUE(eventually([&] {
      clock.advance(0ms);
      settle();
      return !preview->session().isSessionRunning();
    }));
    for (int quarter = 0; quarter < 3; ++quarter) {
      clock.advance(250ms);
      settle();
    }
    EXPECT_TRUE(preview->pausedFor().has_value()) << "not taken back before a second without another holder";
    for (int quarter = 0; quarter < 4 && preview->pausedFor(); ++quarter) {
      clock.advance(250ms);
      settle();
    }
    EXPECT_FALSE(preview->pausedFor().has_value());
    ASSERT_TRUE(framesFlow());
  };

  // Streaming already when the preview starts: the busy camera names its holder.
  QProcess zoom;
  holdNode(zoom);
  bus.command("c200", "busy");
  start();
  ASSERT_TRUE(pausedFor(zoom));
  EXPECT_EQ(preview->state(), State::running);
  EXPECT_FALSE(preview->problem().has_value()) << "a pause is no problem";
  tick(16);
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(preview->sessionRestarts(), 0);
  EXPECT_FALSE(preview->recovering());
  bus.command("c200", "free");
  giveBack(zoom);

  // Opening the node while the preview streams: the camera is let go for the other program.
  QProcess caller;
  holdNode(caller);
  ASSERT_TRUE(pausedFor(caller));
  {
    video::SimStream call;
    std::string error;
    EXPECT_EQ(call.open(bus.camera("c200").socketPath(), 640, 480, &error), video::SimStream::Result::frame) << error;
    tick(6);
    EXPECT_EQ(resets, 0);
    EXPECT_FALSE(preview->recovering());
  }
  giveBack(caller);
}

}  // namespace
}  // namespace velto
