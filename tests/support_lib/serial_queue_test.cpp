// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/serial_queue.h"

#include <pthread.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velto {
namespace {

std::string currentThreadName() {
  char name[16] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}

TEST(SerialQueue, RunsTasksInPostedOrderOnItsOwnNamedThread) {
  SerialQueue queue("camera.session");
  std::vector<int> order;
  std::string name;
  bool current = false;
  for (int i = 0; i < 100; ++i) {
    queue.post([&, i] {
      order.push_back(i);
      name = currentThreadName();
      current = queue.isCurrent();
    });
  }
  queue.waitUntilIdle();
  ASSERT_EQ(order.size(), 100u);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(name, "camera.session");
  EXPECT_TRUE(current);
  EXPECT_FALSE(queue.isCurrent());

  // Linux allows 15 characters; a longer name is cut, not refused.
  SerialQueue longName("camera.frames.statistics");
  longName.post([&] { name = currentThreadName(); });
  longName.waitUntilIdle();
  EXPECT_EQ(name, "camera.frames.s");
}

TEST(SerialQueue, UrgentTasksOvertakeWaitingNormalOnesButNotTheRunningOne) {
  SerialQueue queue("camera.io");
  std::promise<void> started;
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::vector<std::string> order;
  queue.post([&, gate] {
    started.set_value();
    gate.wait();
    order.push_back("running");
  });
  started.get_future().wait();
  queue.post([&] { order.push_back("poll 1"); });
  queue.post([&] { order.push_back("poll 2"); });
  queue.post([&] { order.push_back("write 1"); }, SerialQueue::Priority::urgent);
  queue.post([&] { order.push_back("write 2"); }, SerialQueue::Priority::urgent);
  EXPECT_EQ(queue.backlog(), 5u);
  release.set_value();
  queue.waitUntilIdle();
  EXPECT_EQ(order, (std::vector<std::string>{"running", "write 1", "write 2", "poll 1", "poll 2"}));
}

TEST(SerialQueue, TasksFromManyThreadsNeverOverlapAndKeepEachPostersOrder) {
  constexpr int kPosters = 4;
  constexpr int kEach = 250;
  SerialQueue queue("camera.io");
  std::atomic<int> inFlight{0};
  std::atomic<int> overlaps{0};
  int total = 0;  // plain on purpose: an overlap is also a race ThreadSanitizer reports
  std::vector<std::vector<int>> seen(kPosters);
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) {
        queue.post([&, p, i] {
          if (inFlight.fetch_add(1) != 0) {
            overlaps.fetch_add(1);
          }
          ++total;
          seen[p].push_back(i);
          inFlight.fetch_sub(1);
        });
      }
    });
  }
  for (auto& poster : posters) {
    poster.join();
  }
  queue.waitUntilIdle();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(total, kPosters * kEach);
  for (const auto& perPoster : seen) {
    EXPECT_EQ(perPoster.size(), static_cast<std::size_t>(kEach));
    EXPECT_TRUE(std::is_sorted(perPoster.begin(), perPoster.end()));
  }
}

TEST(SerialQueue, IdleMeansTasksPostedByTasksRanAndCapturesWereReleased) {
  SerialQueue queue("camera.io");
  auto device = std::make_shared<int>(0);
  int chained = 0;
  std::function<void()> next = [&] {
    if (++chained < 50) {
      queue.post(next);
    }
  };
  queue.post([device] {});
  queue.post(next);
  queue.waitUntilIdle();
  EXPECT_EQ(chained, 50);
  EXPECT_EQ(queue.backlog(), 0u);
  EXPECT_EQ(device.use_count(), 1) << "an idle queue holds nothing its tasks captured";
}

TEST(SerialQueue, DestructionRunsEverythingAlreadyPosted) {
  std::promise<void> gate;
  int ran = 0;
  std::thread opener;
  {
    SerialQueue queue("camera.io");
    // Everything below queues up behind the first task, which waits until the queue is being
    // (or about to be) destroyed.
    queue.post([future = gate.get_future().share()] { future.wait(); });
    for (int i = 0; i < 20; ++i) {
      queue.post([&] { ++ran; });
    }
    queue.post([&] { queue.post([&] { ++ran; }); });
    EXPECT_GE(queue.backlog(), 20u);
    opener = std::thread([&] { gate.set_value(); });
  }
  opener.join();
  EXPECT_EQ(ran, 21);
}

}  // namespace
}  // namespace velto
