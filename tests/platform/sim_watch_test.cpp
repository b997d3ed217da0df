// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/sim_watch.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <filesystem>
#include <fstream>

#include "platform/usb/registry.h"
#include "sim_test_server.h"

namespace velto {
namespace {

class SimWatchTest : public ::testing::Test {
 protected:
  // Delivers Qt events until the callback count reaches `count` (or a generous deadline passes),
  // then delivers whatever else is already pending, so that a duplicate call would be seen.
  int waitForCalls(int count) {
    QDeadlineTimer deadline(5000);
    while (calls < count && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    return calls;
  }

  testing::TempDirectory root;
  std::string dir = root.path() + "/velto-simcam";  // does not exist yet
  int calls = 0;
};

TEST_F(SimWatchTest, ReportsEachCameraAppearingAndDisappearingOnce) {
  // A camera already there when watching starts is not reported.
  testing::TestServer present(dir, sim::c200Profile(), "present");
  usb::SimWatch watch(dir, [this] { ++calls; });
  ASSERT_TRUE(watch.isActive());

  {
    testing::TestServer arriving(dir, sim::genericProfile(), "arriving");
    EXPECT_EQ(waitForCalls(1), 1) << "one call for the new camera, none for the present one";
  }
  EXPECT_EQ(waitForCalls(2), 2) << "one call for it leaving";

  present.command("unplug");
  EXPECT_EQ(waitForCalls(3), 3);
  present.command("plug");
  EXPECT_EQ(waitForCalls(4), 4);

  // A re-enumeration leaves and returns: one call each, or one for both when the kernel hands
  // the two changes over together.
  present.command("reenumerate");
  ASSERT_TRUE(testing::eventually([&] {
    QCoreApplication::processEvents();
    return usb::listSimServices(dir).size() == 1 && calls >= 5;
  }));
  EXPECT_LE(waitForCalls(6), 6);
  EXPECT_EQ(usb::listSimServices(dir).size(), 1u);
}

TEST_F(SimWatchTest, CreatesTheDirectoryAndIgnoresOtherFiles) {
  usb::SimWatch watch(dir, [this] { ++calls; });
  EXPECT_TRUE(std::filesystem::is_directory(dir));
  EXPECT_EQ(std::filesystem::status(dir).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  std::ofstream(dir + "/registry-ids") << "12\n";
  std::ofstream(dir + "/.hidden.sock.tmp") << "x";
  std::filesystem::remove(dir + "/registry-ids");
  std::ofstream(dir + "/cam9.sock") << "x";  // something named like a camera: reported
  EXPECT_EQ(waitForCalls(1), 1);
}

TEST_F(SimWatchTest, ADestroyedWatchCallsNothing) {
  {
    usb::SimWatch watch(dir, [this] { ++calls; });
  }
  testing::TestServer camera(dir);
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace velto
