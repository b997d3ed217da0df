// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Feeds arbitrary bytes to the update-feed parser. Beyond memory errors (the fuzzer build runs
// under AddressSanitizer), a finding is an item the updater could not use safely (no version to
// show, one too long for the dialog, a download that is not http(s)), a release order that
// contradicts itself, or an offer that is not newer than what is installed.
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
    if (item.displayVersion.isEmpty() || item.displayVersion.size() > velto::kReadableVersionLength) std::abort();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) std::abort();
    if (velto::compareReleases(item, item) != 0) std::abort();
  }
  for (std::size_t i = 1; i < items.size(); ++i) {
    const int ab = velto::compareReleases(items[i - 1], items[i]);
    const int ba = velto::compareReleases(items[i], items[i - 1]);
    if (ab != -ba) std::abort();
  }
  const velto::InstalledRelease installed{QStringLiteral("1.0"), QStringLiteral("100"), {QStringLiteral("beta")}};
  if (const auto newest = result.appcast->newestFor(installed)) {
    if (!velto::isNewer(*newest, installed)) std::abort();
    for (const velto::AppcastItem& item : items) {
      const bool offered = item.channel.isEmpty() || installed.channels.contains(item.channel);
      if (offered && velto::isNewer(item, installed) && velto::compareReleases(item, *newest) > 0) std::abort();
    }
  }
  return 0;
}
