// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A real store over in-process simulated cameras for the control rows' and sidebar's tests, with
// ways to give a camera the odd ranges the views must cope with.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "store_fixture.h"

namespace velto::testing {

// `profile` with the field `id` answering `range` (and accepting `allowed`, when given).
inline sim::Profile withRange(sim::Profile profile, ControlID id, sim::Range range, std::vector<std::int64_t> allowed = {}) {
  for (sim::WireControl& control : profile.controls) {
    for (sim::Field& field : control.fields) {
      if (field.id != id) continue;
      field.range = range;
      if (!allowed.empty()) field.allowed = allowed;
    }
  }
  return profile;
}

class ViewsTest : public ::testing::Test {
 protected:
  // Plugs `profiles` in (under "cam0", "cam1", ...) and starts the store over them.
  void start(std::vector<sim::Profile> profiles) {
    for (std::size_t i = 0; i < profiles.size(); ++i) bus.plug(std::move(profiles[i]), "cam" + std::to_string(i));
    store = std::make_unique<CameraStore>(clock, defaults, login, storeOptions(bus));
    settle();
  }
  void settle() { testing::settle(*store); }
  // Takes camera `id` off the bus and lets the store notice.
  void unplug(const std::string& id) {
    bus.command(id, "unplug");
    store->rescan();
    settle();
  }

  ManualClock clock;
  SimBus bus{clock};
  UserDefaults defaults{bus.path("velto-camera.conf")};
  LoginItem login{"velto-camera", bus.path("autostart")};
  std::unique_ptr<CameraStore> store;
};

}  // namespace velto::testing
