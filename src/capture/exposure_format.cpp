// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/exposure_format.h"

#include <algorithm>
#include <cmath>

namespace velto {

QString ExposureFormat::string(std::int64_t value) {
  const double seconds = static_cast<double>(value) / 10000.0;
  if (seconds >= 0.1) return QString::asprintf("%.2f s", seconds);
  return QStringLiteral("1/%1 s").arg(std::llround(1.0 / std::max(seconds, 0.0001)));
}

}  // namespace velto
