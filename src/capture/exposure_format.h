// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// An exposure value as people read it. The camera's exposure control counts in units of 100 µs:
// 1000 is a tenth of a second ("0.10 s"), 333 is "1/30 s".
#pragma once

#include <QString>
#include <cstdint>

namespace velto {

struct ExposureFormat {
  // "%.2f s" from a tenth of a second up, else "1/N s" with N the nearest whole number (at most
  // 1/10000 s, for values of 1 and below).
  static QString string(std::int64_t value);
};

}  // namespace velto
