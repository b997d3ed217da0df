// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/cancel_token.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(CancelToken, WakesEachLiveSubscriptionOnceAndLateOnesAtOnce) {
  CancelToken sleeper;
  const CancelToken canceller = sleeper;  // copies share one state
  int live = 0;
  int dropped = 0;
  CancelToken::Subscription kept;
  {
    auto original = sleeper.onCancel([&] { ++live; });
    kept = std::move(original);  // the moved-from one must not unregister when destroyed
    const auto gone = sleeper.onCancel([&] { ++dropped; });
  }
  canceller.cancel();
  canceller.cancel();
  EXPECT_TRUE(sleeper.isCancelled());
  EXPECT_EQ(live, 1);
  EXPECT_EQ(dropped, 0);

  bool late = false;
  const auto subscription = sleeper.onCancel([&] { late = true; });
  EXPECT_TRUE(late);
}

}  // namespace
}  // namespace velto
