// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/write_coalescer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "fixtures/descriptors.h"
#include "scripted_carrier.h"
#include "support/serial_queue.h"
#include "uvc/uvc_device.h"

namespace velto {
namespace {

using testing::Answer;
using testing::ScriptedDevice;
using testing::SentRequest;

// A one-shot signal between the test thread and the queue's worker.
class Signal {
 public:
  void raise() {
    std::lock_guard guard(mutex_);
    raised_ = true;
    cv_.notify_all();
  }
  void wait() {
    std::unique_lock guard(mutex_);
    cv_.wait(guard, [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool raised_ = false;
};

class WriteCoalescerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device->descriptor = fixtures::c200Configuration();
    service = testing::scriptedService(device);
    camera = UVCDevice::create(service);
    ASSERT_NE(camera, nullptr);
  }
  // The SET_CUR requests that reached the camera, as (selector, first payload byte). Read only
  // once the queue is idle, which orders it after the worker's writes.
  std::vector<std::pair<int, int>> writes() {
    std::vector<std::pair<int, int>> out;
    for (const SentRequest& s : device->requests) {
      if (s.setup.bRequest == 0x01) out.emplace_back(s.setup.wValue >> 8, s.outData.at(0));
    }
    return out;
  }
  // Holds the queue until the returned signal is raised.
  std::shared_ptr<Signal> blockQueue() {
    auto gate = std::make_shared<Signal>();
    queue.post([gate] { gate->wait(); });
    return gate;
  }

  std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
  usb::Service service;
  std::shared_ptr<UVCDevice> camera;
  SerialQueue queue{"camera.io"};
  std::shared_ptr<WriteCoalescer> writer = WriteCoalescer::create();
};

constexpr int kBrightness = 0x02;
constexpr int kContrast = 0x03;

TEST_F(WriteCoalescerTest, ChangesBeforeTheQueueRunsBecomeOneWriteOfTheNewest) {
  auto gate = blockQueue();
  writer->enqueue({{ControlID::brightness, 10}}, camera, queue);
  writer->enqueue({{ControlID::brightness, 20}}, camera, queue);
  writer->enqueue({{ControlID::brightness, 30}}, camera, queue);
  gate->raise();
  queue.waitUntilIdle();
  EXPECT_EQ(writes(), (std::vector<std::pair<int, int>>{{kBrightness, 30}}));
}

TEST_F(WriteCoalescerTest, DifferentControlsJoinOneBatchInCatalogueOrder) {
  auto gate = blockQueue();
  // Contrast first: a batch per call would write contrast first; one batch writes in catalogue
  // order, brightness first.
  writer->enqueue({{ControlID::contrast, 7}}, camera, queue);
  writer->enqueue({{ControlID::brightness, 5}}, camera, queue);
  gate->raise();
  queue.waitUntilIdle();
  EXPECT_EQ(writes(), (std::vector<std::pair<int, int>>{{kBrightness, 5}, {kContrast, 7}}));
}

TEST_F(WriteCoalescerTest, AChangeDuringAFlushSchedulesExactlyOneMore) {
  Signal writing, resume;
  int setCount = 0;
  device->answer = [&](const SentRequest& s) {
    if (s.setup.bRequest == 0x01 && ++setCount == 1) {
      writing.raise();
      resume.wait();
    }
    return Answer{};
  };
  writer->enqueue({{ControlID::brightness, 1}, {ControlID::contrast, 1}}, camera, queue);
  writing.wait();  // the first batch has been taken and is on the wire
  writer->enqueue({{ControlID::contrast, 2}}, camera, queue);
  writer->enqueue({{ControlID::contrast, 3}}, camera, queue);
  resume.raise();
  queue.waitUntilIdle();
  EXPECT_EQ(writes(), (std::vector<std::pair<int, int>>{{kBrightness, 1}, {kContrast, 1}, {kContrast, 3}}));

  // Everything was taken: the next change schedules a flush of its own.
  writer->enqueue({{ControlID::brightness, 9}}, camera, queue);
  queue.waitUntilIdle();
  EXPECT_EQ(writes().back(), (std::pair<int, int>{kBrightness, 9}));
}

TEST_F(WriteCoalescerTest, ConcurrentProducersLoseNoControl) {
  // Many threads hand in changes while the queue flushes; every control ends at its last value.
  constexpr int kRounds = 200;
  std::vector<std::thread> producers;
  const std::vector<ControlID> ids = {ControlID::brightness, ControlID::contrast, ControlID::saturation, ControlID::gain};
  for (ControlID id : ids) {
    producers.emplace_back([&, id] {
      for (int v = 1; v <= kRounds; ++v) writer->enqueue({{id, v}}, camera, queue);
    });
  }
  for (auto& t : producers) t.join();
  queue.waitUntilIdle();
  std::map<int, int> last;
  for (const auto& [selector, value] : writes()) last[selector] = value;
  EXPECT_EQ(last.size(), ids.size());
  for (const auto& [selector, value] : last) EXPECT_EQ(value, kRounds) << "selector " << selector;
}

TEST_F(WriteCoalescerTest, ValuesReachOnlyTheCameraTheyWereMadeFor) {
  auto otherDevice = std::make_shared<ScriptedDevice>();
  otherDevice->descriptor = fixtures::c200Configuration();
  const usb::Service otherService = testing::scriptedService(otherDevice);
  auto other = UVCDevice::create(otherService);
  ASSERT_NE(other, nullptr);
  auto gate = blockQueue();
  writer->enqueue({{ControlID::brightness, 10}}, camera, queue);
  writer->enqueue({{ControlID::contrast, 20}}, other, queue);  // the store moved on meanwhile
  writer->enqueue({{ControlID::brightness, 11}}, camera, queue);
  gate->raise();
  queue.waitUntilIdle();
  EXPECT_EQ(writes(), (std::vector<std::pair<int, int>>{{kBrightness, 11}}));
  std::vector<std::pair<int, int>> otherWrites;
  for (const SentRequest& r : otherDevice->requests) {
    if (r.setup.bRequest == 0x01) otherWrites.emplace_back(r.setup.wValue >> 8, r.outData.at(0));
  }
  EXPECT_EQ(otherWrites, (std::vector<std::pair<int, int>>{{kContrast, 20}}));
}

}  // namespace
}  // namespace velto
