// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The update feed: an RSS "appcast" whose items each describe one release. Parsing is pure (bytes
// in, plain values out, no network, no Qt event loop), so the fuzz target and the tests call it
// directly. Any thread.
//
// An item carries two numbers that are never compared with each other: its build number in a
// `version` element or the enclosure's `version` attribute, and its display version in
// `shortVersionString` (in any namespace prefix, sparkle: included). It may belong to a
// `channel` ("beta"), its notes are inline in `description` or a `releaseNotesLink` (of several,
// the one in the user's language: parseAppcast), and its download is the enclosure's `url`
// (else `link`). Items without either number or without an http(s) download address are left
// out: nothing else is ever opened in the browser.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <vector>

namespace velto {

struct AppcastItem {
  QString title;
  QString version;         // the build number as written ("200", "1.3.0"); may be empty
  QString displayVersion;  // what the user reads: the display version, else the build number,
                           // cut to a readable length (at most kReadableVersionLength)
  QString releaseNotes;    // inline notes, HTML or plain text; may be empty
  QUrl releaseNotesLink;   // http(s) or empty
  QUrl downloadLink;       // always http(s)
  QString pubDate;         // as written in the feed
  QString shortVersion;    // the display version as written ("1.3"); may be empty
  QString channel;         // empty: offered to everyone; else only to those who chose it

  bool operator==(const AppcastItem&) const = default;
};

inline constexpr qsizetype kReadableVersionLength = 20;

// The running program as the feed's items are measured against it.
struct InstalledRelease {
  QString version;       // the display version (PROJECT_VERSION)
  QString build;         // the build number (VELTO_BUILD_NUMBER)
  QStringList channels;  // the channels the user chose, beyond the items of no channel
};

// Whether `item` is a later release than `installed`: its display version against ours when it
// has one (an item with our display version is no news, whatever its build number), otherwise
// its build number against ours.
bool isNewer(const AppcastItem& item, const InstalledRelease& installed);

// Orders two items of a feed: display versions first (an item with one after an item without),
// then build numbers. Returns <0, 0 or >0 like strcmp.
int compareReleases(const AppcastItem& a, const AppcastItem& b);

struct Appcast {
  std::vector<AppcastItem> items;  // in feed order

  // The latest item offered to `installed`: of no channel or of one it chose, and newer than it.
  // None when there is none; ties keep the first.
  std::optional<AppcastItem> newestFor(const InstalledRelease& installed) const;
};

// The feed's items, or why the bytes are not a feed ("line 3: Opening and ending tag mismatch",
// "not an RSS feed"). A well-formed feed without any usable item is an empty Appcast.
struct AppcastResult {
  std::optional<Appcast> appcast;
  QString error;
};
// `language` is the user's ("de_DE", "de-DE" or "de"): of several notes told apart by
// `xml:lang`, those in it are taken, else English ones, else those without `xml:lang`, else the
// first.
AppcastResult parseAppcast(const QByteArray& bytes, const QString& language = QStringLiteral("en"));

// Orders version strings: numeric parts numerically (1.2 < 1.10, 1.0 == 1.0.0), a release after
// its pre-releases (1.0-beta2 < 1.0-rc1 < 1.0; dev < alpha < beta < pre < rc, then other words
// alphabetically), numbers within a pre-release numerically. A leading "v" and build metadata
// after "+" are ignored. Any string is accepted. Returns <0, 0 or >0 like strcmp.
int compareVersions(const QString& a, const QString& b);

}  // namespace velto
