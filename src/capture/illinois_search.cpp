// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/illinois_search.h"

#include <cmath>

namespace velto {

IllinoisSearch::IllinoisSearch(double lo, double hi, double valueTolerance, double positionTolerance)
    : lo_(lo), hi_(hi), valueTolerance_(valueTolerance), positionTolerance_(positionTolerance) {}

std::optional<double> IllinoisSearch::next() const {
  switch (phase_) {
    case Phase::lowEnd: return lo_;
    case Phase::highEnd: return hi_;
    case Phase::probing: return probe_;
    case Phase::done: return std::nullopt;
  }
  return std::nullopt;
}

void IllinoisSearch::nextProbe() {
  probe_ = fhi_ == flo_ ? (lo_ + hi_) / 2 : (lo_ * fhi_ - hi_ * flo_) / (fhi_ - flo_);
}

void IllinoisSearch::measured(double f) {
  switch (phase_) {
    case Phase::lowEnd:
      flo_ = f;
      phase_ = Phase::highEnd;
      return;
    case Phase::highEnd:
      fhi_ = f;
      if (flo_ * fhi_ > 0) {
        result_ = std::fabs(flo_) < std::fabs(fhi_) ? lo_ : hi_;
        phase_ = Phase::done;
        return;
      }
      phase_ = Phase::probing;
      nextProbe();
      return;
    case Phase::probing: {
      ++probes_;
      if (std::fabs(f) < valueTolerance_ || std::fabs(hi_ - lo_) < positionTolerance_ || probes_ == kMaxProbes) {
        result_ = probe_;
        phase_ = Phase::done;
        return;
      }
      // Halving the value kept at the end that stayed put twice is Illinois' cure for false
      // position's one-sided crawl.
      if (f * fhi_ > 0) {
        hi_ = probe_;
        fhi_ = f;
        if (replaced_ == End::hi) flo_ /= 2;
        replaced_ = End::hi;
      } else {
        lo_ = probe_;
        flo_ = f;
        if (replaced_ == End::lo) fhi_ /= 2;
        replaced_ = End::lo;
      }
      nextProbe();
      return;
    }
    case Phase::done: return;
  }
}

}  // namespace velto
