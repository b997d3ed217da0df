// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The preview controller's own logic against a scripted capture backend: clients, device lookup
// (answers that come late), access, and the watchdog's recovery ladder on the manual clock. The
// real GStreamer path with a simulated camera is covered end to end in preview_session_test.cpp.
#include "capture/preview_controller.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>

#include "platform/session/user_defaults.h"
#include "scripted_backend.h"
#include "support/manual_clock.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using State = PreviewController::State;
using video::CaptureDevice;
using testing::ScriptedBackend;
using testing::device;

const CaptureDevice kC200 = device("0x1100000291a3369", "UVC Camera VendorID_10522 ProductID_13161");

class PreviewControllerTest : public ::testing::Test {
 protected:
  PreviewControllerTest() {
    auto owned = std::make_unique<ScriptedBackend>();
    backend = owned.get();
    const auto start = clock.monotonicNow();
    backend->now = [this, start] { return std::chrono::duration<double>(clock.monotonicNow() - start).count(); };
    backend->present = {kC200};
    preview = std::make_unique<PreviewController>(clock, std::move(owned), [this] { resets.push_back(backend->now()); });
  }
  void start(const QString& client = "window") {
    preview->start(client, 0x01100000, CameraKey{0x291a, 0x3369});
    QCoreApplication::processEvents();
  }
  void tick(int seconds = 1) {
    for (int i = 0; i < seconds; ++i) {
      clock.advance(1s);
      QCoreApplication::processEvents();
    }
  }

  ManualClock clock;
  ScriptedBackend* backend = nullptr;
  std::unique_ptr<PreviewController> preview;
  std::vector<double> resets;
};

TEST(CaptureDeviceLookup, LocationFirstCaseInsensitiveAsAPrefixThenModel) {
  const CaptureDevice other = device("0x1200000291a3369", "UVC Camera VendorID_10522 ProductID_13161");
  const CaptureDevice upper = device("0X14200000291A3369", "Cam VendorID_10522 ProductID_13161");
  const CaptureDevice middle = device("usb-0x15000000-291a3369", "Cam VendorID_1 ProductID_2");
  const std::vector<CaptureDevice> all{other, upper, middle};
  const CameraKey c200{0x291a, 0x3369};

  EXPECT_EQ(PreviewController::captureDevice(all, 0x14200000, c200), upper);
  // Of two identical cameras the model match is only the fallback: the first of the model.
  EXPECT_EQ(PreviewController::captureDevice(all, 0x16000000, c200), other);
  EXPECT_EQ(PreviewController::captureDevice(all, 0x15000000, std::nullopt), std::nullopt);
  EXPECT_EQ(PreviewController::captureDevice(all, std::nullopt, CameraKey{1, 2}), middle);
  EXPECT_EQ(PreviewController::captureDevice(all, std::nullopt, std::nullopt), std::nullopt);
}

TEST_F(PreviewControllerTest, CaptureRunsWhileAnyClientWantsIt) {
  start("window");
  start("menu");
  EXPECT_EQ(preview->state(), State::running);
  EXPECT_EQ(backend->configures, 1) << "the same camera again only re-asserts running";

  backend->frame();
  preview->stop("window");
  EXPECT_EQ(preview->state(), State::running);
  EXPECT_TRUE(backend->running);
  EXPECT_NE(preview->analyzer().latest().pixels(), nullptr);
  preview->stop("menu");
  EXPECT_EQ(preview->state(), State::idle);
  EXPECT_FALSE(backend->running);
  EXPECT_EQ(preview->analyzer().latest().pixels(), nullptr) << "the last picture goes with the last client";
  backend->frame();
  EXPECT_EQ(preview->analyzer().latest().pixels(), nullptr) << "nor is one a stopping session still sends kept";
  tick(30);
  EXPECT_EQ(backend->configures, 1) << "no watchdog without clients";
  start("window");
  backend->frame();
  EXPECT_NE(preview->analyzer().latest().pixels(), nullptr);
}

TEST_F(PreviewControllerTest, AClientLeavingBeforeAccessIsGrantedStartsNothing) {
  preview->start("window", 0x01100000, std::nullopt);
  preview->stop("window");
  QCoreApplication::processEvents();
  EXPECT_EQ(preview->state(), State::idle);
  EXPECT_EQ(backend->configures, 0);
}

TEST_F(PreviewControllerTest, OnlyTheNewestLookUpActsAndOnlyWhileClientsRemain) {
  const CaptureDevice other = device("0x1200000291a3369", "UVC Camera VendorID_10522 ProductID_13161");
  backend->present = {kC200, other};
  backend->holdLookUps = true;
  start();
  preview->stop("window");
  ASSERT_EQ(backend->held.size(), 1u);
  backend->held[0]();
  QCoreApplication::processEvents();
  EXPECT_EQ(preview->state(), State::idle);
  EXPECT_EQ(backend->configures, 0) << "answered after the last client left";

  start();
  preview->start("window", 0x01200000, CameraKey{0x291a, 0x3369});  // the store moved on meanwhile
  QCoreApplication::processEvents();
  ASSERT_EQ(backend->held.size(), 3u);
  backend->held[2]();
  backend->held[1]();  // the older answer comes last
  QCoreApplication::processEvents();
  EXPECT_EQ(backend->configures, 1);
  EXPECT_EQ(backend->configured, other);
  EXPECT_EQ(preview->state(), State::running);
}

TEST_F(PreviewControllerTest, DeniedAccessIsUnauthorizedWithoutWatchdog) {
  backend->denied = true;
  start();
  EXPECT_EQ(preview->state(), State::unauthorized);
  tick(20);
  EXPECT_EQ(backend->configures, 0);
  EXPECT_FALSE(preview->recovering());

  // Permissions fixed and the camera plugged in again.
  backend->denied = false;
  backend->plugIn(device("0x1300000291a3369", "x"));
  EXPECT_EQ(preview->state(), State::running);
}

TEST_F(PreviewControllerTest, WithoutAMatchingDeviceTheWatchdogKeepsLooking) {
  backend->present.clear();
  preview->start("window", std::nullopt, std::nullopt);
  QCoreApplication::processEvents();
  EXPECT_EQ(preview->state(), State::noCamera);

  start();  // the store found its camera, the video device is not there yet
  EXPECT_EQ(preview->state(), State::noCamera);
  tick(5);
  EXPECT_TRUE(preview->recovering());
  EXPECT_TRUE(resets.empty()) << "nothing to reset while the device is missing";
  backend->present = {kC200};
  tick(5);
  EXPECT_EQ(preview->state(), State::running) << "a recovery step found the device";
  backend->frame();
  tick();
  EXPECT_FALSE(preview->recovering());
}

TEST_F(PreviewControllerTest, TheRecoveryLadderRestartsThenResetsAtMostEveryThirtySeconds) {
  start();
  backend->frame();
  tick();  // t = 1: frames advanced, the last seen now
  tick(59);
  EXPECT_EQ(backend->restarts, (std::vector<double>{6, 20, 25, 30, 35, 40, 54, 59}));
  EXPECT_EQ(resets, (std::vector<double>{11, 45}));

  backend->frame();
  tick();
  EXPECT_FALSE(preview->recovering());
  EXPECT_EQ(preview->sessionRestarts(), 0);
}

TEST_F(PreviewControllerTest, ACameraInUseElsewhereIsOnlyRestarted) {
  start();
  backend->busy = true;
  tick(40);
  EXPECT_TRUE(resets.empty());
  EXPECT_EQ(backend->restarts, (std::vector<double>{5, 10, 15, 20, 25, 30, 35, 40}));
  EXPECT_TRUE(preview->recovering());
}

TEST_F(PreviewControllerTest, ACameraBusyElsewhereIsTriedEverySecondAndShowsWithItsFirstFrames) {
  start();
  backend->busy = true;
  for (int i = 0; i < 3; ++i) {
    backend->error({video::SessionError::Kind::busy, "zoom (PID 4242) is using the camera.", {}, {}});
    QCoreApplication::processEvents();
    tick();
  }
  EXPECT_EQ(backend->restarts, (std::vector<double>{1, 2, 3}));
  ASSERT_TRUE(preview->problem());

  // The other program let go; the try at t = 3 streams. The picture shows before the next tick.
  backend->busy = false;
  for (int i = 0; i < 6; ++i) backend->frame();
  QCoreApplication::processEvents();
  EXPECT_FALSE(preview->problem());
  EXPECT_FALSE(preview->recovering());
}

TEST_F(PreviewControllerTest, ARuntimeErrorMakesTheNextTickRecoverUnlessFramesFlowed) {
  start();
  backend->frame();
  backend->error();
  QCoreApplication::processEvents();
  ASSERT_TRUE(preview->problem());
  tick();
  EXPECT_TRUE(backend->restarts.empty()) << "frames advanced since the previous check";
  EXPECT_FALSE(preview->problem());

  backend->error();
  QCoreApplication::processEvents();
  tick();
  EXPECT_EQ(backend->restarts, (std::vector<double>{2}));
}

TEST_F(PreviewControllerTest, FramesAreMadeForTheLargestWatchingView) {
  QObject window, panel;
  preview->watchFrames(&window, QSize(760, 428));
  preview->watchFrames(&panel, QSize(584, 900));
  EXPECT_EQ(backend->pictureSize, std::make_pair(760, 900)) << "covers both";
  preview->watchFrames(&panel, QSize(292, 164));  // resized
  EXPECT_EQ(backend->pictureSize, std::make_pair(760, 428));
  preview->unwatchFrames(&window);
  preview->unwatchFrames(&window);  // twice is harmless
  EXPECT_EQ(backend->pictureSize, std::make_pair(292, 164));
  preview->unwatchFrames(&panel);
  EXPECT_EQ(backend->pictureSize, std::make_pair(0, 0)) << "no view: the backend's own default";
}

TEST_F(PreviewControllerTest, FramesAreAnnouncedOnTheMainThreadOneNoticeAtATime) {
  start();
  int notices = 0;
  QObject::connect(preview.get(), &PreviewController::frameReady, [&] { ++notices; });
  backend->frame();
  QCoreApplication::processEvents();
  EXPECT_EQ(notices, 0) << "nobody watches";

  preview->watchFrames(preview.get(), QSize(100, 50));
  for (int i = 0; i < 3; ++i) backend->frame();
  EXPECT_EQ(notices, 0) << "announced on the main thread, not on the frame queue";
  QCoreApplication::processEvents();
  EXPECT_EQ(notices, 1) << "three frames before the main thread looked share one notice";
  backend->frame();
  QCoreApplication::processEvents();
  EXPECT_EQ(notices, 2) << "a frame after the notice was taken gets its own";
  tick(3);
  EXPECT_EQ(notices, 2) << "a frozen camera announces nothing";
  preview->unwatchFrames(preview.get());
}

TEST_F(PreviewControllerTest, StatisticsReachTheMainThreadEverySixthFrame) {
  start();
  for (int i = 0; i < 6; ++i) backend->frame();
  EXPECT_FALSE(preview->stats());
  QCoreApplication::processEvents();
  ASSERT_TRUE(preview->stats());
  EXPECT_EQ(preview->stats()->size, QSizeF(8, 8));
}

}  // namespace
}  // namespace velto

namespace velto {
namespace {

TEST_F(PreviewControllerTest, AChosenModeIsStreamedRememberedPerModelAndDroppedWhenNotOffered) {
  const video::CaptureMode hd{video::fourccOf("MJPG"), 1280, 720, 15};
  const video::CaptureMode vga{video::fourccOf("YUY2"), 640, 480, 30};
  backend->offered = {hd, vga};
  QTemporaryDir dir;
  UserDefaults defaults(dir.filePath("velto.conf"));
  preview->rememberModesIn(defaults);
  start();
  EXPECT_EQ(preview->modes(), backend->offered);
  EXPECT_TRUE(backend->modesSet.empty()) << "automatic until a mode is chosen";

  preview->chooseMode(hd);
  ASSERT_EQ(backend->modesSet.size(), 1u);
  EXPECT_EQ(backend->modesSet.back(), hd);
  EXPECT_EQ(backend->configures, 2) << "the session is configured anew in the mode";
  EXPECT_EQ(defaults.data("captureMode/291a_3369"), QByteArray("MJPG 1280x720@15"));

  // A velto-ctl snapshot's own mode wins while it runs, and gives the choice back when it ends.
  preview->setClientMode("cli", vga);
  start("cli");
  EXPECT_EQ(backend->modesSet.back(), vga);
  preview->stop("cli");
  EXPECT_EQ(backend->modesSet.back(), hd);

  // The next run of the same model starts in it; a camera that no longer offers it streams
  // automatically and keeps the choice.
  preview->stop("window");
  auto owned = std::make_unique<ScriptedBackend>();
  backend = owned.get();
  backend->present = {kC200};
  backend->offered = {vga};
  preview = std::make_unique<PreviewController>(clock, std::move(owned), [] {});
  preview->rememberModesIn(defaults);
  start();
  EXPECT_EQ(preview->chosenMode(), hd);
  EXPECT_TRUE(backend->modesSet.empty()) << "not offered: automatic";
  EXPECT_EQ(preview->streamedMode(), std::nullopt);
  preview->chooseMode(std::nullopt);
  EXPECT_FALSE(defaults.data("captureMode/291a_3369"));
}

}  // namespace
}  // namespace velto
