#include "support/cancel_token.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(CancelToken, CopiesShareOneStateAndWakeEachSubscriberOnce) {
  CancelToken sleeper;
  const CancelToken canceller = sleeper;
  int wakes = 0;
  const auto subscription = sleeper.onCancel([&] { ++wakes; });
  EXPECT_FALSE(sleeper.isCancelled());

  canceller.cancel();
  canceller.cancel();
  EXPECT_TRUE(sleeper.isCancelled());
  EXPECT_EQ(wakes, 1);
  EXPECT_FALSE(CancelToken().isCancelled()) << "a new token starts fresh";
}

TEST(CancelToken, SubscribingToACancelledTokenWakesAtOnce) {
  CancelToken token;
  token.cancel();
  bool woken = false;
  const auto subscription = token.onCancel([&] { woken = true; });
  EXPECT_TRUE(woken);
}

TEST(CancelToken, OnlyLiveSubscriptionsAreWoken) {
  CancelToken token;
  int gone = 0;
  int moved = 0;
  { const auto dropped = token.onCancel([&] { ++gone; }); }
  CancelToken::Subscription kept;
  {
    auto original = token.onCancel([&] { ++moved; });
    kept = std::move(original);  // the moved-from one must not unregister on destruction
  }
  token.cancel();
  EXPECT_EQ(gone, 0);
  EXPECT_EQ(moved, 1);
}

}  // namespace
}  // namespace velto
