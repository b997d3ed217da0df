// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Entry of the umockdev tests: a Qt application object for the udev notifier, and a guard that
// fails the run when umockdev's preload is missing, so these tests can never reach the real
// machine's devices.
#include <QCoreApplication>
#include <unistd.h>

#include <gtest/gtest.h>

#include "umockdev_bench.h"

namespace velto::testing {
namespace {

TEST(UmockdevPreload, IsActive) {
  ASSERT_TRUE(UmockdevBench::preloaded()) << "run under umockdev-wrapper";
  // The emulated sysfs is the one this process sees: a device added to the testbed is listed.
  UmockdevBench bench;
  UmockdevBench::Plug plug;
  plug.uvcvideo = false;
  bench.plug(plug);
  EXPECT_EQ(access("/sys/bus/usb/devices/1-2/idVendor", R_OK), 0);
  EXPECT_EQ(access((bench.sysDir() + "/bus/usb/devices/1-2/idVendor").c_str(), R_OK), 0);
}

}  // namespace
}  // namespace velto::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
