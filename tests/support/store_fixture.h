// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A camera store over the simulated cameras of a SimBus, for tests above the model.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "support/manual_clock.h"

namespace velto::testing {

// The bus's cameras and nothing of this machine's; no hot-plug, wake or change notices unless a
// test asks for them, so that only the test decides when to look for cameras and read them back.
inline CameraStore::Options storeOptions(const SimBus& bus) {
  CameraStore::Options options;
  options.registry.simDirectory = bus.directory();
  options.registry.sysfsRoot.clear();
  options.watchHotplug = false;
  options.watchWake = false;
  options.followNotices = false;
  return options;
}

// Lets the store finish what it started: its USB work and the results coming back. The queue may
// have finished before the first look, with its results still to be delivered: always wait and
// deliver once.
inline void settle(CameraStore& store) {
  QElapsedTimer guard;
  guard.start();
  do {
    store.io().waitUntilIdle();
    QCoreApplication::processEvents();
  } while (store.isBusy() && guard.elapsed() < 20000);
  ASSERT_FALSE(store.isBusy()) << "the store did not settle";
}

// A test whose store, on a manual clock, is connected to a simulated C200 once it has called
// connectC200().
class StoreOnC200Test : public ::testing::Test {
 protected:
  void connectC200() {
    bus.plug(sim::c200Profile(), "c200");
    store = std::make_unique<CameraStore>(clock, defaults, login, storeOptions(bus));
    settle(*store);
  }

  ManualClock clock;
  SimBus bus{clock};
  UserDefaults defaults{bus.path("velto-camera.conf")};
  LoginItem login{"velto-camera", bus.path("autostart")};
  std::unique_ptr<CameraStore> store;
};

}  // namespace velto::testing
