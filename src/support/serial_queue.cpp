// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/serial_queue.h"

#include <QtGlobal>

#include <pthread.h>

#include <utility>

namespace velto {

SerialQueue::SerialQueue(std::string name) : name_(std::move(name)) {}

SerialQueue::~SerialQueue() {
  if (isCurrent()) {
    qFatal("SerialQueue \"%s\" destroyed from its own thread", name_.c_str());
  }
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  workAvailable_.notify_one();
  if (worker_.joinable()) worker_.join();
}

void SerialQueue::post(std::function<void()> task, Priority priority) {
  {
    std::lock_guard lock(mutex_);
    (priority == Priority::urgent ? urgent_ : tasks_).push_back(std::move(task));
    if (!worker_.joinable()) {
      // The first task starts the worker; it waits for this lock before it looks for work.
      worker_ = std::thread([this] { run(); });
      workerID_.store(worker_.get_id());
    }
  }
  workAvailable_.notify_one();
}

void SerialQueue::waitUntilIdle() {
  if (isCurrent()) {
    qFatal("SerialQueue \"%s\" waited for itself from its own thread", name_.c_str());
  }
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return urgent_.empty() && tasks_.empty() && !busy_; });
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == workerID_.load(); }

std::size_t SerialQueue::backlog() const {
  std::lock_guard lock(mutex_);
  return urgent_.size() + tasks_.size() + (busy_ ? 1 : 0);
}

void SerialQueue::run() {
  // 15 characters and the terminator: Linux refuses longer thread names outright.
  const std::string threadName = name_.substr(0, 15);
  pthread_setname_np(pthread_self(), threadName.c_str());

  std::unique_lock lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [this] { return !urgent_.empty() || !tasks_.empty() || stopping_; });
    if (urgent_.empty() && tasks_.empty()) {
      return;  // stopping, and everything posted has run
    }
    auto& from = urgent_.empty() ? tasks_ : urgent_;
    auto task = std::move(from.front());
    from.pop_front();
    busy_ = true;
    lock.unlock();
    task();
    // Captures are released before the queue reports idle, so a test that waits for idleness
    // also sees what the task held (a device, a result) let go.
    task = nullptr;
    lock.lock();
    busy_ = false;
    if (urgent_.empty() && tasks_.empty()) {
      idle_.notify_all();
    }
  }
}

}  // namespace velto
