// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/appcast.h"

#include <QCoreApplication>
#include <QStringView>
#include <QXmlStreamReader>
#include <algorithm>

namespace velto {
namespace {

QUrl webUrl(const QString& text) {
  const QUrl url(text.trimmed(), QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return {};
  if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) return {};
  return url;
}

QString text(QXmlStreamReader& xml) {
  return xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
}

// How well a text in `tag` (its xml:lang, empty when it has none) suits a reader of `language`:
// the higher the better.
int languageRank(QStringView tag, QStringView language) {
  const auto primary = [](QStringView t) {
    qsizetype end = 0;
    while (end < t.size() && t[end] != u'-' && t[end] != u'_') ++end;
    return t.left(end);
  };
  const auto same = [](QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive) == 0; };
  if (tag.isEmpty()) return 1;  // the feed's own language: after English, before the rest
  if (same(tag.toString().replace(u'_', u'-'), language.toString().replace(u'_', u'-'))) return 4;
  if (same(primary(tag), primary(language))) return 3;
  if (same(primary(tag), u"en")) return 2;
  return 0;
}

// Of several elements told apart by xml:lang, finds the one that suits the reader best (the first
// of the best).
struct LocalizedChoice {
  int rank = -1;

  // True when the element the reader stands on suits better than every one before it.
  bool better(const QXmlStreamReader& xml, QStringView language) {
    const QStringView tag = xml.attributes().value(QStringLiteral("http://www.w3.org/XML/1998/namespace"),
                                                   QStringLiteral("lang"));
    const int r = languageRank(tag.trimmed(), language);
    if (r <= rank) return false;
    rank = r;
    return true;
  }
};

// A version as a dialog can show it: one line, and no longer than kReadableVersionLength. Build
// metadata ("+20260114.g1a2b3c") is dropped first, being of no use to a reader.
QString readableVersion(const QString& version) {
  QString v = version.simplified();
  if (v.size() <= kReadableVersionLength) return v;
  if (const qsizetype plus = v.indexOf(u'+'); plus > 0 && plus < kReadableVersionLength) return v.left(plus) + u'…';
  qsizetype cut = kReadableVersionLength - 1;
  if (v[cut - 1].isHighSurrogate()) --cut;  // never half a character
  return v.left(cut) + u'…';
}

// One <item>; the reader stands on its start tag and is left on its end tag.
AppcastItem readItem(QXmlStreamReader& xml, QStringView language) {
  AppcastItem item;
  QString enclosureUrl;
  QString link;
  LocalizedChoice notes;
  LocalizedChoice notesLink;
  while (xml.readNextStartElement()) {
    const QStringView name = xml.name();
    if (name == QLatin1String("title")) {
      item.title = text(xml);
    } else if (name == QLatin1String("version")) {
      item.version = text(xml);
    } else if (name == QLatin1String("shortVersionString")) {
      item.shortVersion = text(xml);
    } else if (name == QLatin1String("channel")) {
      item.channel = text(xml);
    } else if (name == QLatin1String("description")) {
      if (notes.better(xml, language)) item.releaseNotes = text(xml);
      else xml.skipCurrentElement();
    } else if (name == QLatin1String("releaseNotesLink")) {
      if (notesLink.better(xml, language)) item.releaseNotesLink = webUrl(text(xml));
      else xml.skipCurrentElement();
    } else if (name == QLatin1String("link")) {
      link = text(xml);
    } else if (name == QLatin1String("pubDate")) {
      item.pubDate = text(xml);
    } else if (name == QLatin1String("enclosure")) {
      // Attributes match by local name, so sparkle:version and plain version both count.
      for (const QXmlStreamAttribute& a : xml.attributes()) {
        const QString value = a.value().trimmed().toString();
        if (a.name() == QLatin1String("url")) enclosureUrl = value;
        else if (a.name() == QLatin1String("version") && item.version.isEmpty()) item.version = value;
        else if (a.name() == QLatin1String("shortVersionString") && item.shortVersion.isEmpty())
          item.shortVersion = value;
      }
      xml.skipCurrentElement();
    } else {
      xml.skipCurrentElement();
    }
  }
  item.downloadLink = webUrl(enclosureUrl);
  if (item.downloadLink.isEmpty()) item.downloadLink = webUrl(link);
  item.displayVersion = readableVersion(item.shortVersion.isEmpty() ? item.version : item.shortVersion);
  return item;
}

// A version split for comparison: the numeric release parts and the pre-release tokens.
struct VersionParts {
  QList<QStringView> numbers;
  QList<QStringView> suffix;  // runs of letters or of digits
};

VersionParts split(QStringView v) {
  v = v.trimmed();
  if (v.size() > 1 && (v[0] == u'v' || v[0] == u'V') && v[1].isDigit()) v = v.mid(1);
  if (const qsizetype plus = v.indexOf(u'+'); plus >= 0) v = v.left(plus);
  qsizetype i = 0;
  while (i < v.size() && (v[i].isDigit() || v[i] == u'.')) ++i;
  VersionParts parts;
  for (QStringView n : v.left(i).split(u'.')) parts.numbers.append(n);
  const QStringView rest = v.mid(i);
  for (qsizetype j = 0; j < rest.size();) {
    const bool digit = rest[j].isDigit();
    if (!digit && !rest[j].isLetter()) {
      ++j;
      continue;
    }
    qsizetype k = j;
    while (k < rest.size() && rest[k].isDigit() == digit && (digit || rest[k].isLetter())) ++k;
    parts.suffix.append(rest.mid(j, k - j));
    j = k;
  }
  return parts;
}

// Digit strings of any length, compared as numbers; an empty string is 0.
int compareNumbers(QStringView a, QStringView b) {
  while (!a.isEmpty() && a[0] == u'0') a = a.mid(1);
  while (!b.isEmpty() && b[0] == u'0') b = b.mid(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

int wordRank(QStringView w) {
  static const std::pair<const char*, int> ranks[] = {
      {"dev", 0}, {"alpha", 1}, {"a", 1}, {"beta", 2}, {"b", 2}, {"pre", 3}, {"preview", 3}, {"rc", 4}};
  for (const auto& [word, rank] : ranks) {
    if (w.compare(QLatin1String(word), Qt::CaseInsensitive) == 0) return rank;
  }
  return -1;
}

int compareTokens(QStringView a, QStringView b) {
  const bool an = a[0].isDigit();
  const bool bn = b[0].isDigit();
  if (an && bn) return compareNumbers(a, b);
  if (an != bn) return an ? -1 : 1;  // as in semantic versioning: numbers before words
  const int ra = wordRank(a);
  const int rb = wordRank(b);
  if (ra >= 0 && rb >= 0) return ra < rb ? -1 : (ra > rb ? 1 : 0);
  if ((ra >= 0) != (rb >= 0)) return ra >= 0 ? -1 : 1;
  return a.compare(b, Qt::CaseInsensitive);
}

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

int compareVersions(const QString& a, const QString& b) {
  const VersionParts pa = split(a);
  const VersionParts pb = split(b);
  for (qsizetype i = 0; i < std::max(pa.numbers.size(), pb.numbers.size()); ++i) {
    const QStringView na = i < pa.numbers.size() ? pa.numbers[i] : QStringView();
    const QStringView nb = i < pb.numbers.size() ? pb.numbers[i] : QStringView();
    if (const int c = compareNumbers(na, nb)) return sign(c);
  }
  // A release comes after all of its pre-releases.
  if (pa.suffix.isEmpty() != pb.suffix.isEmpty()) return pa.suffix.isEmpty() ? 1 : -1;
  for (qsizetype i = 0; i < std::min(pa.suffix.size(), pb.suffix.size()); ++i) {
    if (const int c = compareTokens(pa.suffix[i], pb.suffix[i])) return sign(c);
  }
  return sign(static_cast<int>(pa.suffix.size() - pb.suffix.size()));
}

bool isNewer(const AppcastItem& item, const InstalledRelease& installed) {
  if (!item.shortVersion.isEmpty()) return compareVersions(item.shortVersion, installed.version) > 0;
  return !item.version.isEmpty() && compareVersions(item.version, installed.build) > 0;
}

int compareReleases(const AppcastItem& a, const AppcastItem& b) {
  const bool da = !a.shortVersion.isEmpty();
  const bool db = !b.shortVersion.isEmpty();
  if (da != db) return da ? 1 : -1;
  if (da) {
    if (const int c = compareVersions(a.shortVersion, b.shortVersion)) return c;
  }
  return compareVersions(a.version, b.version);
}

std::optional<AppcastItem> Appcast::newestFor(const InstalledRelease& installed) const {
  const AppcastItem* best = nullptr;
  for (const AppcastItem& item : items) {
    if (!item.channel.isEmpty() && !installed.channels.contains(item.channel)) continue;
    if (!isNewer(item, installed)) continue;
    if (best == nullptr || compareReleases(item, *best) > 0) best = &item;
  }
  if (best == nullptr) return std::nullopt;
  return *best;
}

AppcastResult parseAppcast(const QByteArray& bytes, const QString& language) {
  QXmlStreamReader xml(bytes);
  AppcastResult result;
  if (!xml.readNextStartElement() || xml.name() != QLatin1String("rss")) {
    result.error = xml.hasError() ? QCoreApplication::translate("velto::Appcast", "line %1: %2")
                                        .arg(xml.lineNumber())
                                        .arg(xml.errorString())
                                  : QCoreApplication::translate("velto::Appcast", "not an RSS feed");
    return result;
  }
  Appcast appcast;
  bool channel = false;
  while (xml.readNextStartElement()) {
    if (xml.name() != QLatin1String("channel")) {
      xml.skipCurrentElement();
      continue;
    }
    channel = true;
    while (xml.readNextStartElement()) {
      if (xml.name() != QLatin1String("item")) {
        xml.skipCurrentElement();
        continue;
      }
      AppcastItem item = readItem(xml, language);
      if (!item.displayVersion.isEmpty() && !item.downloadLink.isEmpty()) appcast.items.push_back(std::move(item));
    }
  }
  // Whatever follows the root element must still be well-formed.
  while (!xml.atEnd() && !xml.hasError()) xml.readNext();
  if (xml.hasError()) {
    result.error =
        QCoreApplication::translate("velto::Appcast", "line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
  } else if (!channel) {
    result.error = QCoreApplication::translate("velto::Appcast", "the feed has no channel");
  } else {
    result.appcast = std::move(appcast);
  }
  return result;
}

}  // namespace velto
