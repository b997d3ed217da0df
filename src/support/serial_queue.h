// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A named serial worker: one thread that runs posted tasks one at a time, in the order they
// were posted; the thread starts with the first task, so a queue nobody posts to costs none. The
// application has three: "camera.io" (every USB exchange), "camera.session" (device look-ups and
// capture configuration) and "camera.frames" (frame delivery for a receiver that asks for it). Results go back
// to the main thread with postTo / WeakContext (weak_context.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace velto {

class SerialQueue {
 public:
  // The worker thread, started by the first post(), is named after the queue (the first 15
  // characters, the kernel's limit) so it can be told apart in top, gdb and sanitizer reports.
  explicit SerialQueue(std::string name);
  // Drains, then joins: every task posted before, and every task those tasks post, still runs,
  // so a coalesced write already queued reaches the camera. It blocks for as long as they take;
  // owners cancel their long sleeps first. Never destroy a queue from its own thread.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  [[nodiscard]] const std::string& name() const { return name_; }

  // Urgent tasks (a user's change on its way to the camera) run before every normal task that
  // has not started yet (a periodic read-back), in the order they were posted among themselves.
  enum class Priority { normal, urgent };

  // Appends a task; any thread, including the queue's own. Returns at once. A task must not
  // throw: the queue has nobody to report to (failures are values in this code base).
  void post(std::function<void()> task, Priority priority = Priority::normal);

  // Blocks until nothing is queued and no task is running. For tests ("the queue has done what
  // it was given") and orderly shutdown. Any thread but the queue's own, which would wait for
  // itself forever (that is a fatal error). Tasks posted meanwhile from other threads are waited
  // for too.
  void waitUntilIdle();

  // True on the queue's worker thread; for assertions in code that must run there.
  [[nodiscard]] bool isCurrent() const;

  // Tasks queued but not started, plus the one running, if any. A snapshot; any thread.
  [[nodiscard]] std::size_t backlog() const;

 private:
  void run();

  const std::string name_;
  mutable std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> urgent_;  // guarded by mutex_; run before tasks_
  std::deque<std::function<void()>> tasks_;   // guarded by mutex_
  bool busy_ = false;                        // a task is running; guarded by mutex_
  bool stopping_ = false;                    // guarded by mutex_
  std::thread worker_;                       // started by the first post(); guarded by mutex_
  std::atomic<std::thread::id> workerID_{};  // worker_'s, once started
};

}  // namespace velto
