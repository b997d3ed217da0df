// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The simulated camera's logic: it answers default-pipe control requests (a setup packet and its
// data) with a status and data, holds the control state, and behaves like the firmware the
// application relies on: the field of view moves zoom a moment later, switching
// auto focus on searches anew, HDR reads back 1, auto exposure and auto white balance steer
// toward the scene (sim/scene.h) frame by frame, out-of-range writes stall.
// Faults (hung, refusing, ignoring) are switched on and off by its owner.
//
// The bus (plugging, re-enumeration, sockets, latency) is not here: SimServer puts this camera
// behind a socket, and a later carrier can put it behind emulated usbfs.
//
// Time comes from the injected clock (monotonic milliseconds); every effect that takes time is
// computed from timestamps when the camera is next asked, so a test moves time by advancing its
// clock. Not thread-safe: one owner serialises every call.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/usb/status.h"
#include "sim/profile.h"
#include "sim/scene.h"

namespace velto::sim {

struct Setup {
  std::uint8_t bmRequestType = 0;
  std::uint8_t bRequest = 0;
  std::uint16_t wValue = 0;
  std::uint16_t wIndex = 0;
  std::uint16_t wLength = 0;
};

struct Reply {
  usb::Status status = usb::status::success;
  std::vector<std::uint8_t> data;  // IN requests: what the camera answered
};

class SimCamera {
 public:
  using Clock = std::function<std::int64_t()>;  // monotonic milliseconds

  // How long the firmware takes to move zoom after a field-of-view change, and to search focus.
  static constexpr std::int64_t kZoomDelayMs = 150;
  static constexpr std::int64_t kFocusSearchMs = 700;
  // The auto modes take one step per frame period on the camera's clock while it streams; without
  // frames to meter they rest (continuous auto focus too, but a focus search runs to its end).
  static constexpr std::int64_t kAutoStepMs = 33;
  // The mean luma auto exposure aims for.
  static constexpr double kAutoExposureTarget = 0.45;

  SimCamera(Profile profile, Clock clock);

  const Profile& profile() const { return profile_; }

  // Answers one request from the camera's USB host. None while the camera is hung: the request
  // is swallowed and never answered. `out` is the data of an OUT request.
  std::optional<Reply> handle(const Setup& setup, std::span<const std::uint8_t> out);

  // The current value of every control the profile has, in catalogue order (hdr: as written).
  std::vector<std::pair<ControlID, std::int64_t>> state();
  std::optional<std::int64_t> value(ControlID id);

  // Changes a control as another application would: refuse and ignore do not apply, the firmware
  // effects do. Fails with a message when the camera has no such control or the value is not one
  // it accepts.
  bool set(ControlID id, std::int64_t value, std::string* error = nullptr);

  // Every control back to its default (what a sleeping camera forgets).
  void resetToDefaults();

  // Faults, all off at first.
  void setHung(bool hung) { hung_ = hung; }
  bool hung() const { return hung_; }
  void setRefused(ControlID id, bool refused);  // SET_CUR of the control stalls
  void setIgnored(ControlID id, bool ignored);  // SET_CUR succeeds, the value stays

  // The light on the scene, which the auto modes follow. Default: Lighting{}.
  void setLighting(const Lighting& light) { light_ = light; }
  const Lighting& lighting() const { return light_; }
  // Whether frames are being sent: the auto modes run only then. With the flip quirk on (off at
  // first), a horizontal flip the host writes while the camera does not stream is acknowledged
  // and dropped, as the C200 does.
  void setStreaming(bool streaming) { streaming_ = streaming; }
  void setFlipNeedsStream(bool on) { flipNeedsStream_ = on; }

  // What the picture looks like now: the scene settings of the current values.
  SceneSettings sceneSettings();

 private:
  struct Control {
    const WireControl* wire;
    std::vector<std::uint8_t> current;
  };

  Control* find(std::uint8_t unit, std::uint8_t selector);
  Control* find(ControlID id);
  Reply get(Control& control, std::uint8_t request, std::uint16_t length);
  Reply setCur(Control& control, std::span<const std::uint8_t> data);
  bool acceptable(const Field& field, std::int64_t value) const;
  // Stores `value` for `id` and starts the firmware's reaction to it.
  void store(Control& control, const Field& field, std::int64_t value);
  // Brings time-driven state up to now: pending zoom, focus search, auto modes.
  void settle();
  // One frame's step of auto exposure and auto white balance, at camera time `at`.
  void autoStep(std::int64_t at);
  // The current values, without settling first.
  std::vector<std::pair<ControlID, std::int64_t>> rawState();
  bool autoOn(ControlID autoControl);
  std::vector<std::uint8_t> payloadOf(const WireControl& wire, std::int64_t Range::*member) const;

  Profile profile_;
  Clock clock_;
  std::vector<Control> controls_;
  bool hung_ = false;
  std::set<ControlID> refused_;
  std::set<ControlID> ignored_;
  std::optional<std::pair<std::int64_t, std::int64_t>> pendingZoom_;  // (due, value)
  std::optional<std::int64_t> focusSearchStart_;
  std::int64_t focusSearchFrom_ = 0;
  Lighting light_;
  bool streaming_ = false;
  bool flipNeedsStream_ = false;
  std::int64_t lastAutoStep_ = -1;  // camera time of the last auto step
  // The auto loops' own values between grid steps; dropped when the stored value is changed
  // from outside.
  std::optional<double> autoExposure_;
  std::optional<double> autoWhiteBalance_;
};

}  // namespace velto::sim
