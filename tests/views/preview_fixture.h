// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A store over an in-process simulated C200 and a preview controller over a scripted capture
// backend, on the manual clock: what the window and the pane are built on in their tests. Frames
// are handed to the analyzer as the session would, so statistics arrive as they do in a run.
#pragma once

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

#include "capture/calibrator.h"
#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "store_fixture.h"

namespace velto::testing {

class ScriptedCapture final : public video::CaptureBackend {
 public:
  void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  std::vector<video::CaptureDevice> devices() override { return present; }
  video::Access access(const video::CaptureDevice&) override {
    return denied ? video::Access::denied : video::Access::granted;
  }
  bool isInUseByAnotherApplication(const video::CaptureDevice&) override { return false; }
  void configure(const video::CaptureDevice&, bool) override { running = true; }
  void stopSession() override { running = false; }
  bool isSessionRunning() const override { return running; }
  void waitUntilIdle() override {}

  // Hands `frame` over off the main thread, as the session's streaming thread does, and waits
  // until it is taken.
  void deliver(Frame frame) {
    streaming_.post([this, frame] { handlers_.frame(frame); });
    streaming_.waitUntilIdle();
  }
  void fail(video::SessionError error) { handlers_.runtimeError(error); }

  static video::CaptureDevice c200() {
    video::CaptureDevice d;
    d.uniqueID = "0xfeed0000291a3369";
    d.modelID = "Anker PowerConf C200 VendorID_10522 ProductID_13161";
    d.name = "Anker PowerConf C200";
    d.path = "/dev/video0";
    return d;
  }

  // The simulated C200 as a video device, found by its model.
  std::vector<video::CaptureDevice> present{c200()};
  bool denied = false;
  bool running = false;

 private:
  Handlers handlers_;
  SerialQueue streaming_{"test.stream"};  // stands in for the session's streaming thread
};

class PreviewFixture : public ::testing::Test {
 protected:
  PreviewFixture() {
    auto capture = std::make_unique<ScriptedCapture>();
    this->capture = capture.get();
    preview = std::make_unique<PreviewController>(clock, std::move(capture), [] {});
  }
  ~PreviewFixture() override { calibrator.cancel(); }

  void startStore(bool withCamera = true) {
    if (withCamera) bus.plug(sim::c200Profile(), "c200");
    store = std::make_unique<CameraStore>(clock, defaults, login, storeOptions(bus));
    settle();
  }
  void settle() {
    testing::settle(*store);
    QCoreApplication::processEvents();
  }
  // Six frames of `frame`: the analyzer publishes statistics for every sixth.
  void frames(const Frame& frame) {
    for (int i = 0; i < 6; ++i) capture->deliver(frame);
    QCoreApplication::processEvents();
  }

  ManualClock clock;
  SimBus bus{clock};
  UserDefaults defaults{bus.path("velto-camera.conf")};
  LoginItem login{"velto-camera", bus.path("autostart")};
  std::unique_ptr<CameraStore> store;
  ScriptedCapture* capture = nullptr;
  std::unique_ptr<PreviewController> preview;
  Calibrator calibrator{clock};
};

}  // namespace velto::testing
