// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A camera store over the simulated cameras of a SimBus, for tests above the model.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "model/camera_store.h"
#include "sim_fixture.h"

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

}  // namespace velto::testing
