// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The update feed: an RSS "appcast" whose items each describe one release. Parsing is pure (bytes
// in, plain values out, no network, no Qt event loop), so the fuzz target and the tests call it
// directly. Any thread.
//
// An item carries its version in a `version` element or in the enclosure's `version` attribute
// (in any namespace prefix, sparkle: included), its display version in `shortVersionString`
// (else the version itself), its notes inline in `description` or as a `releaseNotesLink`, and
// its download in the enclosure's `url` (else `link`). Items without a version or without an
// http(s) download address are left out: nothing else is ever opened in the browser.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>
#include <vector>

namespace velto {

struct AppcastItem {
  QString title;
  QString version;         // what is compared ("1.3.0", "1.4-rc1")
  QString displayVersion;  // what the user reads
  QString releaseNotes;    // inline notes, HTML or plain text; may be empty
  QUrl releaseNotesLink;   // http(s) or empty
  QUrl downloadLink;       // always http(s)
  QString pubDate;         // as written in the feed

  bool operator==(const AppcastItem&) const = default;
};

struct Appcast {
  std::vector<AppcastItem> items;  // in feed order

  // The item with the highest version; none for an empty feed. Ties keep the first.
  std::optional<AppcastItem> newest() const;
};

// The feed's items, or why the bytes are not a feed ("line 3: Opening and ending tag mismatch",
// "not an RSS feed"). A well-formed feed without any usable item is an empty Appcast.
struct AppcastResult {
  std::optional<Appcast> appcast;
  QString error;
};
AppcastResult parseAppcast(const QByteArray& bytes);

// Orders version strings: numeric parts numerically (1.2 < 1.10, 1.0 == 1.0.0), a release after
// its pre-releases (1.0-beta2 < 1.0-rc1 < 1.0; dev < alpha < beta < pre < rc, then other words
// alphabetically), numbers within a pre-release numerically. A leading "v" and build metadata
// after "+" are ignored. Any string is accepted. Returns <0, 0 or >0 like strcmp.
int compareVersions(const QString& a, const QString& b);

}  // namespace velto
