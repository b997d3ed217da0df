// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The udev notifier against umockdev's emulated uevents, under a Qt event loop: plugging and
// unplugging, one call per batch, nothing for what was there before; and a libusb-served camera
// found and lost through it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <functional>

#include "platform/usb/registry.h"
#include "platform/usb/udev_notifier.h"
#include "umockdev_bench.h"
#include "uvc_requests.h"

namespace velto::testing {
namespace {

namespace status = usb::status;

// Runs the event loop until `done` holds; false if it still does not after a generous bound.
// Waits for an event to arrive, never for time to pass.
bool runUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(5000);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return done();
}

// Delivers whatever is already queued, without waiting.
void flushEvents() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

class UdevNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(UmockdevBench::preloaded()); }

  UmockdevBench bench;
  int calls = 0;
};

TEST_F(UdevNotifierTest, NothingForDevicesPresentAtConstructionOneCallPerBatch) {
  bench.plug(UmockdevBench::Plug{});
  usb::UdevNotifier notifier([this] { ++calls; });
  ASSERT_TRUE(notifier.active());
  flushEvents();
  EXPECT_EQ(calls, 0);

  // Device, metadata node and capture node leave in one go: one batch, one call.
  bench.unplug();
  ASSERT_TRUE(runUntil([this] { return calls > 0; }));
  flushEvents();
  EXPECT_EQ(calls, 1);
}

TEST_F(UdevNotifierTest, ALibusbCameraIsFoundAndLost) {
  usb::UdevNotifier notifier([this] { ++calls; });
  ASSERT_TRUE(notifier.active());
  EXPECT_TRUE(usb::listServices(kEmulatedSystem).empty());

  UmockdevBench::Plug plug;
  plug.uvcvideo = false;
  bench.plug(plug);
  ASSERT_TRUE(runUntil([this] { return calls > 0; }));
  flushEvents();
  EXPECT_EQ(calls, 1);
  auto services = usb::listServices(kEmulatedSystem);
  ASSERT_EQ(services.size(), 1u);
  EXPECT_EQ(services[0].carrier, usb::CarrierKind::libusb);
  auto carrier = std::move(services[0].connect().carrier);
  ASSERT_NE(carrier, nullptr);
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::success);

  bench.unplug();
  ASSERT_TRUE(runUntil([this] { return calls > 1; }));
  flushEvents();
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(usb::listServices(kEmulatedSystem).empty());
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::noDevice);
}

}  // namespace
}  // namespace velto::testing
