// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The picture commands' own rules, on a scripted capture backend and the manual clock: the wait
// for a picture, and a store that goes away while a command still waits.
#include "capture/capture_commands.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "scripted_backend.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "store_fixture.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

class CaptureCommandsTest : public testing::StoreOnC200Test {
 protected:
  CaptureCommandsTest() {
    connectC200();
    auto owned = testing::c200Backend();
    backend = owned.get();
    preview = std::make_unique<PreviewController>(clock, std::move(owned), [] {});
  }
  void run(const CaptureCommand& command) {
    runCapture(clock, *preview, *captureTargetOf(*store), store.get(), &calibrator, command,
               [this](CaptureOutcome o) { outcome = std::move(o); });
    QCoreApplication::processEvents();
  }

  testing::ScriptedBackend* backend = nullptr;
  std::unique_ptr<PreviewController> preview;
  Calibrator calibrator{clock};
  std::optional<CaptureOutcome> outcome;
};

TEST_F(CaptureCommandsTest, APictureThatNeverComesEndsTheCommandAsUnavailable) {
  CaptureCommand stats;
  stats.frames = 3;
  run(stats);
  EXPECT_TRUE(preview->hasClient("cli"));
  backend->frame();
  clock.advance(3900ms);
  EXPECT_FALSE(outcome) << "frames came within the last 4 s";
  clock.advance(4100ms);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->outcome.code, CommandOutcome::unavailable);
  EXPECT_TRUE(outcome->outcome.message.startsWith("the picture of")) << outcome->outcome.message.toStdString();
  EXPECT_FALSE(preview->hasClient("cli"));
}

TEST_F(CaptureCommandsTest, ACameraBusyElsewhereEndsTheCommandNamingTheProgramThatHoldsIt) {
  using Kind = video::SessionError::Kind;
  run(CaptureCommand{});
  backend->error({Kind::busy, "zoom (PID 4242) is using the camera.", {}, video::CameraHolder{4242, "zoom"}});
  QCoreApplication::processEvents();
  clock.advance(100ms);
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->outcome.code, CommandOutcome::unavailable);
  EXPECT_EQ(outcome->outcome.message, "zoom (PID 4242) is using the camera");
}

TEST_F(CaptureCommandsTest, AStoreClosedWhileCalibratingEndsTheCommandWithoutTouchingIt) {
  CaptureCommand calibrate;
  calibrate.kind = CaptureCommand::Kind::calibrate;
  run(calibrate);
  backend->frame();
  clock.advance(100ms);
  QCoreApplication::processEvents();
  ASSERT_TRUE(calibrator.busy());
  store.reset();  // the session's ownership moved on
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->outcome.code, CommandOutcome::cameraFailed);
  EXPECT_FALSE(calibrator.busy());
  clock.advance(10s);  // nothing left that could reach the store
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace velto
