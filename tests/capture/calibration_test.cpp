// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "capture/exposure_format.h"
#include "capture/illinois_search.h"

namespace velto {
namespace {

TEST(ExposureFormat, TenthsOfASecondAndFractions) {
  EXPECT_EQ(ExposureFormat::string(1000), "0.10 s");
  EXPECT_EQ(ExposureFormat::string(5000), "0.50 s");
  EXPECT_EQ(ExposureFormat::string(999), "1/10 s");
  EXPECT_EQ(ExposureFormat::string(333), "1/30 s");
  EXPECT_EQ(ExposureFormat::string(156), "1/64 s");
  EXPECT_EQ(ExposureFormat::string(1), "1/10000 s");
  EXPECT_EQ(ExposureFormat::string(0), "1/10000 s");
  EXPECT_EQ(ExposureFormat::string(-5), "1/10000 s");
}

// Runs a search against `f`; the positions it measured, in order.
std::vector<double> search(IllinoisSearch& s, const std::function<double(double)>& f) {
  std::vector<double> measured;
  while (auto x = s.next()) {
    measured.push_back(*x);
    s.measured(f(*x));
  }
  return measured;
}

TEST(IllinoisSearch, FindsACrossingWithinItsTolerancesAndProbeLimit) {
  // Like white balance: ln(R/B) falls as the colour temperature set rises; neutral at 4700 K.
  auto wb = [](double kelvin) { return std::log(4700.0 / kelvin) * 1.3; };
  IllinoisSearch s(2800, 6500, 0.01, 25);
  const auto measured = search(s, wb);
  ASSERT_TRUE(s.result());
  EXPECT_NEAR(*s.result(), 4700, 50);
  EXPECT_LE(s.probes(), IllinoisSearch::kMaxProbes);
  EXPECT_EQ(measured[0], 2800);
  EXPECT_EQ(measured[1], 6500);

  // A steep, one-sided function: plain false position would crawl from one end; Illinois halves
  // the stale end's value and still gets there within eight probes.
  // (Without the halving, this one ends its eight probes at 2.72.)
  auto steep = [](double x) { return std::exp(x) - 20.0; };
  IllinoisSearch t(0, 5, 0.03, 0.02);
  search(t, steep);
  EXPECT_NEAR(*t.result(), std::log(20.0), 0.01);
  EXPECT_EQ(t.probes(), 7);
}

TEST(IllinoisSearch, WithoutACrossingTheBetterEndAfterTwoMeasurements) {
  IllinoisSearch reddish(2800, 6500, 0.01, 25);
  const auto measured = search(reddish, [](double k) { return 2.0 + k / 10000; });  // positive everywhere
  EXPECT_EQ(measured.size(), 2u);
  EXPECT_EQ(reddish.result(), 2800.0) << "the smaller |f|";
  IllinoisSearch tie(0, 1, 0.01, 0.01);
  search(tie, [](double) { return 1.0; });
  EXPECT_EQ(tie.result(), 1.0) << "the upper end on a tie";
}

TEST(IllinoisSearch, StopsAtTheEighthProbeOrANarrowBracket) {
  // Never within the value tolerance (a jump at 0.5): the probe limit ends it.
  IllinoisSearch jump(0, 1, 1e-9, 1e-12);
  const auto measured = search(jump, [](double x) { return x < 0.5 ? -1.0 : 1.0; });
  EXPECT_EQ(jump.probes(), 8);
  EXPECT_EQ(measured.size(), 10u) << "two ends and eight probes";
  // A bracket already narrower than the position tolerance: the first probe is the result.
  IllinoisSearch narrow(0, 0.01, 1e-9, 0.02);
  search(narrow, [](double x) { return x - 0.004; });
  EXPECT_EQ(narrow.probes(), 1);
}

}  // namespace
}  // namespace velto
