// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Feeds arbitrary bytes to the update-feed parser. Beyond memory errors (the fuzzer build runs
// under AddressSanitizer), a finding is an item the updater could not use safely (no version, a
// download that is not http(s)) or a version order that contradicts itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/appcast.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const velto::AppcastResult result = velto::parseAppcast(bytes);
  if (result.appcast.has_value() == !result.error.isEmpty()) std::abort();
  if (!result.appcast) return 0;
  const auto& items = result.appcast->items;
  for (const velto::AppcastItem& item : items) {
    const QString scheme = item.downloadLink.scheme();
    if (item.version.isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) std::abort();
    if (velto::compareVersions(item.version, item.version) != 0) std::abort();
  }
  for (std::size_t i = 1; i < items.size(); ++i) {
    const int ab = velto::compareVersions(items[i - 1].version, items[i].version);
    const int ba = velto::compareVersions(items[i].version, items[i - 1].version);
    if (ab != -ba) std::abort();
  }
  if (const auto newest = result.appcast->newest()) {
    for (const velto::AppcastItem& item : items) {
      if (velto::compareVersions(item.version, newest->version) > 0) std::abort();
    }
  }
  return 0;
}
