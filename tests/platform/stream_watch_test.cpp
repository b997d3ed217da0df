// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/stream_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <fstream>

#include "sim_test_server.h"
#include "support/manual_clock.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

class StreamWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(node).flush();
    setting(0);
  }
  void setting(int value) { std::ofstream(alternateSetting) << ' ' << value << '\n'; }
  // Delivers the node's inotify events, then lets `d` pass in steps the watch's looks fit in.
  void pass(Clock::Duration d) {
    QCoreApplication::processEvents();
    for (Clock::Duration done{}; done < d; done += usb::StreamWatch::kEagerLook) {
      clock.advance(usb::StreamWatch::kEagerLook);
      QCoreApplication::processEvents();
    }
  }
  std::unique_ptr<usb::StreamWatch> watch() {
    return usb::StreamWatch::create(clock, {node, alternateSetting}, [this] { ++starts; });
  }

  testing::TempDirectory root;
  std::string node = root.path() + "/video0";
  std::string alternateSetting = root.path() + "/bAlternateSetting";
  ManualClock clock;
  int starts = 0;
};

TEST_F(StreamWatchTest, ASettingThatLeavesZeroAfterAnOpenOfTheNodeIsOneStart) {
  setting(1);
  auto w = watch();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->streaming()) << "a stream already running is seen";
  pass(1s);
  EXPECT_EQ(starts, 0) << "but is no start";
  setting(0);

  // A program opens the node and streams shortly after: one start, however long it streams.
  const int holder = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
  pass(500ms);
  EXPECT_EQ(starts, 0);
  setting(1);
  pass(usb::StreamWatch::kEagerLook);
  EXPECT_EQ(starts, 1);
  pass(usb::StreamWatch::kEagerSpan);
  EXPECT_EQ(starts, 1);

  // It stops but keeps the node open, and streams again long after: seen while it holds the node.
  setting(0);
  pass(usb::StreamWatch::kHeldLook);
  EXPECT_FALSE(w->streaming());
  pass(1min);
  setting(1);
  pass(usb::StreamWatch::kHeldLook);
  EXPECT_EQ(starts, 2);

  // Once it lets the node go, nothing is looked at until the next open.
  setting(0);
  ::close(holder);
  pass(usb::StreamWatch::kEagerLook);
  EXPECT_FALSE(w->streaming()) << "the close is looked at at once";
  EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

TEST_F(StreamWatchTest, WatchesNothingWithoutANodeAndStopsWhenTheNodeGoes) {
  EXPECT_EQ(usb::StreamWatch::create(clock, {root.path() + "/missing", alternateSetting}, [] {}), nullptr);
  EXPECT_EQ(usb::StreamWatch::create(clock, {}, [] {}), nullptr);

  auto w = watch();
  ASSERT_NE(w, nullptr);
  const int holder = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
  ::close(holder);
  ::unlink(node.c_str());
  ::unlink(alternateSetting.c_str());
  pass(1s);
  EXPECT_EQ(starts, 0) << "an unreadable setting is no change";
  EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

}  // namespace
}  // namespace velto
