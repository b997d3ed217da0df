// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Stopping a session with a streaming thread stuck in a call that does not return soon (here an
// element sleeping three seconds on a frame in a branch of its own, as a driver that does not
// answer would): stop() returns within its bound, and the pipeline is still released once the
// element lets go.
#include "platform/video/gst_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/serial_queue.h"

namespace velto::video {
namespace {

TEST(GstSessionTest, AWedgedPipelineStopsWithinASecondAndIsReleasedLater) {
  SerialQueue owner("camera.session");
  GstSession::Options options;
  // Frames reach the session through one branch while the other sleeps on its first frame.
  options.testSource =
      "videotestsrc is-live=true ! video/x-raw,width=64,height=48 ! tee name=t"
      " ! queue ! identity sleep-time=3000000 ! fakesink async=false t.";
  options.calls = &usb::SystemCalls::real();
  options.post = [&owner](std::function<void()> task) { owner.post(std::move(task)); };
  // Held by the session's callbacks: it goes when the pipeline and everything it shares go.
  auto sentinel = std::make_shared<int>(0);
  const std::weak_ptr<int> pipelineAlive = sentinel;
  auto frames = std::make_shared<std::atomic<int>>(0);
  GstSession::Callbacks callbacks;
  callbacks.frame = [sentinel, frames](Frame) { ++*frames; };
  CaptureDevice device;
  device.kind = CaptureDevice::Kind::test;
  device.uniqueID = "wedged";

  std::chrono::steady_clock::duration stopping{};
  owner.post([&] {
    GstSession session(device, options, std::move(callbacks));
    ASSERT_TRUE(session.start());
    // Two frames through one branch: the other has had its first frame for a frame's time.
    const auto started = std::chrono::steady_clock::now();
    while (frames->load() < 2 && std::chrono::steady_clock::now() - started < std::chrono::seconds(20)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(frames->load(), 2);
    const auto before = std::chrono::steady_clock::now();
    session.stop();
    stopping = std::chrono::steady_clock::now() - before;
  });
  owner.waitUntilIdle();
  sentinel.reset();
  EXPECT_LT(stopping, std::chrono::milliseconds(2000)) << "bounded, though the element sleeps for three seconds";
  EXPECT_FALSE(pipelineAlive.expired()) << "left to finish on its own while the element sleeps";

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pipelineAlive.expired() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(pipelineAlive.expired()) << "released once the element let go";
}

}  // namespace
}  // namespace velto::video
