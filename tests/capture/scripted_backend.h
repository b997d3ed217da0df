// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A capture backend the test scripts: the devices present, access, busy, and frames delivered on
// request through the real frame queue; it records each session (re)start with its time. Look-ups
// are answered at once, or held until the test answers them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/video/capture_backend.h"
#include "support/serial_queue.h"

namespace velto::testing {

inline video::CaptureDevice device(std::string uniqueID, std::string modelID) {
  video::CaptureDevice d;
  d.uniqueID = std::move(uniqueID);
  d.modelID = std::move(modelID);
  d.path = "/dev/video0";
  return d;
}

class ScriptedBackend final : public video::CaptureBackend {
 public:
  void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  void lookUp(LookUp request, std::function<void(LookUpResult)> done) override {
    if (!holdLookUps) return done(lookUpNow(request));
    held.push_back([this, request = std::move(request), done = std::move(done)] { done(lookUpNow(request)); });
  }
  std::vector<video::CaptureDevice> devices() override { return present; }
  video::Access access(const video::CaptureDevice&) override { return denied ? video::Access::denied : video::Access::granted; }
  bool isInUseByAnotherApplication(const video::CaptureDevice&) override { return busy; }
  std::vector<video::CaptureMode> modes(const video::CaptureDevice&) override { return offered; }
  void setCaptureMode(std::optional<video::CaptureMode> mode) override { modesSet.push_back(mode); }
  void configure(const video::CaptureDevice& d, bool restart) override {
    ++configures;
    configured = d;
    if (restart) restarts.push_back(now());
    running = true;
  }
  void stopSession() override { running = false; }
  void setPictureSize(int width, int height) override { pictureSize = {width, height}; }
  bool isSessionRunning() const override { return running; }
  void waitUntilIdle() override {}

  void frame() {
    // Off the main thread, as the session's streaming thread delivers them.
    streaming_.post([this] { handlers_.frame(Frame::filled(8, 8, 32, 128)); });
    streaming_.waitUntilIdle();
  }
  void error(video::SessionError error = {video::SessionError::Kind::failed, "stream error", {}, {}}) {
    handlers_.runtimeError(error);
  }
  void plugIn(video::CaptureDevice d) {
    present.push_back(std::move(d));
    handlers_.deviceConnected();
  }

  bool holdLookUps = false;
  std::vector<std::function<void()>> held;  // answers each held look-up with what is present then
  std::function<double()> now = [] { return 0.0; };
  std::vector<video::CaptureDevice> present;
  bool denied = false;
  bool busy = false;
  bool running = false;
  std::pair<int, int> pictureSize{0, 0};
  std::vector<video::CaptureMode> offered;                   // what every device offers
  std::vector<std::optional<video::CaptureMode>> modesSet;  // each mode the sessions were given
  int configures = 0;
  video::CaptureDevice configured;
  std::vector<double> restarts;  // seconds since the test began

 private:
  Handlers handlers_;
  SerialQueue streaming_{"test.stream"};  // stands in for the session's streaming thread
};

// A backend where the simulated C200's video device is present.
inline std::unique_ptr<ScriptedBackend> c200Backend() {
  auto backend = std::make_unique<ScriptedBackend>();
  backend->present = {device("0x1100000291a3369", "C200 VendorID_10522 ProductID_13161")};
  return backend;
}

}  // namespace velto::testing
