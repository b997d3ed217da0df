// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/weak_context.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

#include "support/serial_queue.h"

namespace velto {
namespace {

// Delivers what was queued to this (the main) thread, including deferred deletions.
void deliverPosted() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(PostTo, RunsLaterOnTheContextsThreadUnlessTheContextIsGone) {
  QObject context;
  auto doomed = std::make_unique<QObject>();
  auto captured = std::make_shared<int>(0);
  bool ran = false;
  bool orphanRan = false;
  postTo(&context, [&] { ran = true; });
  postTo(doomed.get(), [&orphanRan, captured] { orphanRan = true; });
  EXPECT_FALSE(ran) << "never inline";
  doomed.reset();
  EXPECT_EQ(captured.use_count(), 1) << "the dropped call is destroyed with its context";
  deliverPosted();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(orphanRan);
}

TEST(WeakContext, BringsResultsBackFromAQueueInOrderOnTheContextsThread) {
  SerialQueue io("camera.io");
  QObject store;
  const WeakContext weak(&store);
  std::vector<int> results;
  std::vector<QThread*> threads;
  for (int i = 0; i < 10; ++i) {
    io.post([weak, i, &results, &threads] {
      weak.post([i, &results, &threads] {
        results.push_back(i);
        threads.push_back(QThread::currentThread());
      });
    });
  }
  io.waitUntilIdle();
  EXPECT_TRUE(results.empty()) << "nothing runs before the context's thread delivers it";
  deliverPosted();
  ASSERT_EQ(results, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  for (QThread* thread : threads) {
    EXPECT_EQ(thread, store.thread());
  }
}

TEST(WeakContext, DropsResultsWhenTheContextGoesWhileTheWorkRuns) {
  SerialQueue io("camera.io");
  auto store = std::make_unique<QObject>();
  std::promise<void> storeGone;
  auto captured = std::make_shared<int>(0);
  bool ranLate = false;
  bool ranQueued = false;
  {
    const WeakContext weak(store.get());
    // Posted before the store goes, delivered after.
    io.post([weak, &ranQueued] { weak.post([&ranQueued] { ranQueued = true; }); });
    io.waitUntilIdle();
    // Posted after the store has gone; the worker holds the last WeakContext.
    io.post([weak, gone = storeGone.get_future().share(), captured, &ranLate] {
      gone.wait();
      weak.post([captured, &ranLate] { ranLate = true; });
    });
  }
  store.reset();
  storeGone.set_value();
  io.waitUntilIdle();
  deliverPosted();
  EXPECT_FALSE(ranQueued);
  EXPECT_FALSE(ranLate);
  EXPECT_EQ(captured.use_count(), 1) << "dropped calls release what they captured";

  bool ranDefault = false;
  WeakContext().post([&] { ranDefault = true; });
  deliverPosted();
  EXPECT_FALSE(ranDefault);
}

}  // namespace
}  // namespace velto
