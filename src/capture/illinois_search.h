// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The search behind click-to-set: the Illinois variant of false position (regula falsi) over a
// measured error function f on [lo, hi]. It says where to measure next; the caller writes that
// position to the camera, measures f there and hands the value back. Both ends are measured first;
// when f has the same sign at both, there is no crossing and the end with the smaller |f| wins
// (the upper one on a tie). Otherwise it probes, at most eight times, until |f| is below the
// value tolerance or the bracket is narrower than the position tolerance. Pure; any thread.
#pragma once

#include <optional>

namespace velto {

class IllinoisSearch {
 public:
  static constexpr int kMaxProbes = 8;

  IllinoisSearch(double lo, double hi, double valueTolerance, double positionTolerance);

  // Where f is wanted next; none once the search has its result.
  std::optional<double> next() const;
  // f at the position next() gave.
  void measured(double f);

  std::optional<double> result() const { return result_; }
  int probes() const { return probes_; }  // measurements between the ends

 private:
  enum class Phase { lowEnd, highEnd, probing, done };
  enum class End { none, lo, hi };
  void nextProbe();

  double lo_, hi_;
  double flo_ = 0, fhi_ = 0;
  double valueTolerance_, positionTolerance_;
  Phase phase_ = Phase::lowEnd;
  End replaced_ = End::none;  // the end the previous probe replaced
  double probe_ = 0;
  int probes_ = 0;
  std::optional<double> result_;
};

}  // namespace velto
