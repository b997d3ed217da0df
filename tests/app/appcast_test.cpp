// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/appcast.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(AppcastTest, ReadsItemsFromElementsAndEnclosureAttributes) {
  const auto result = parseAppcast(R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
 <channel><title>Velto Camera</title>
  <item><title>1.4 beta</title>
   <enclosure url="https://example.org/velto-1.4b1.deb" sparkle:version="1.4-beta1"/>
   <sparkle:releaseNotesLink>https://example.org/notes/1.4</sparkle:releaseNotesLink>
  </item>
  <item><title>Version 1.3</title>
   <sparkle:version>1.3.0</sparkle:version>
   <sparkle:shortVersionString>1.3</sparkle:shortVersionString>
   <description><![CDATA[<ul><li>Sharper</li></ul>]]></description>
   <link>https://example.org/download</link>
  </item>
  <item><title>no version</title><link>https://example.org/x</link></item>
  <item><sparkle:version>9.0</sparkle:version><link>file:///etc/passwd</link></item>
  <item><sparkle:version>9.1</sparkle:version><link>javascript:alert(1)</link></item>
 </channel>
</rss>)");
  ASSERT_TRUE(result.appcast) << result.error.toStdString();
  const auto& items = result.appcast->items;
  ASSERT_EQ(items.size(), 2u);  // no version, or nothing safe to open: left out
  EXPECT_EQ(items[0].version, "1.4-beta1");
  EXPECT_EQ(items[0].shortVersion, "");
  EXPECT_EQ(items[0].displayVersion, "1.4-beta1");
  EXPECT_EQ(items[0].downloadLink, QUrl("https://example.org/velto-1.4b1.deb"));
  EXPECT_EQ(items[0].releaseNotesLink, QUrl("https://example.org/notes/1.4"));
  EXPECT_EQ(items[1].version, "1.3.0");
  EXPECT_EQ(items[1].shortVersion, "1.3");
  EXPECT_EQ(items[1].displayVersion, "1.3");
  EXPECT_EQ(items[1].releaseNotes, "<ul><li>Sharper</li></ul>");
  EXPECT_EQ(items[1].downloadLink, QUrl("https://example.org/download"));
}

TEST(AppcastTest, MalformedFeedsAreErrorsAndAnEmptyChannelIsNot) {
  for (const char* bad : {"", "not xml at all", "<html><body/></html>", "<rss version=\"2.0\"/>",
                          "<rss><channel><item><link>https://a.b/</link></item>",  // cut short
                          "<rss><channel/></rss><rss/>", "<rss><channel><x:version/></channel></rss>"}) {
    const auto result = parseAppcast(bad);
    EXPECT_FALSE(result.appcast) << bad;
    EXPECT_FALSE(result.error.isEmpty()) << bad;
  }
  const auto empty = parseAppcast("<rss><channel><title>t</title></channel></rss>");
  ASSERT_TRUE(empty.appcast);
  EXPECT_FALSE(empty.appcast->newestFor({"0", "0", {}}));
}

// An item of the feed with `inner` as its elements besides the download.
QByteArray feedOf(const QStringList& items) {
  QString body;
  for (const QString& inner : items) body += "<item>" + inner + "<link>https://example.org/get</link></item>";
  return (R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)" + body +
          "</channel></rss>")
      .toUtf8();
}

std::optional<AppcastItem> offered(const QStringList& items, const InstalledRelease& installed) {
  const auto result = parseAppcast(feedOf(items));
  EXPECT_TRUE(result.appcast) << result.error.toStdString();
  return result.appcast ? result.appcast->newestFor(installed) : std::nullopt;
}

TEST(AppcastTest, BuildNumbersMeetBuildNumbersAndDisplayVersionsDisplayVersions) {
  const InstalledRelease installed{"0.1.0", "100", {}};
  const auto item = [](const char* build, const char* display) {
    return QStringLiteral("<sparkle:version>%1</sparkle:version><sparkle:shortVersionString>%2"
                          "</sparkle:shortVersionString>")
        .arg(build, display);
  };
  EXPECT_FALSE(offered({item("200", "0.1.0")}, installed)) << "our own release, built again";
  EXPECT_FALSE(offered({item("99999", "0.0.9")}, installed));
  EXPECT_EQ(offered({item("20", "0.2.0")}, installed)->displayVersion, "0.2.0");
  EXPECT_FALSE(offered({"<sparkle:version>100</sparkle:version>", "<sparkle:version>0.9.0</sparkle:version>"},
                       installed))
      << "a build number alone is compared with ours";
  EXPECT_EQ(offered({"<sparkle:version>101</sparkle:version>"}, installed)->displayVersion, "101");
  // The latest of several: an item with a display version over one that has only a build number.
  EXPECT_EQ(offered({"<sparkle:version>900</sparkle:version>", item("150", "0.3.0"), item("190", "0.3.0"),
                     item("300", "0.2.0")},
                    installed)
                ->version,
            "190");
}

TEST(AppcastTest, AChannelsItemsAreOfferedOnlyToThoseWhoChoseIt) {
  const QStringList items{"<sparkle:version>300</sparkle:version><sparkle:channel>beta</sparkle:channel>",
                          "<sparkle:version>200</sparkle:version>"};
  EXPECT_EQ(offered(items, {"0.1.0", "100", {}})->version, "200");
  EXPECT_EQ(offered(items, {"0.1.0", "100", {"nightly", "beta"}})->version, "300");
}

TEST(AppcastTest, NotesInTheUsersLanguageElseEnglishElseTheFirst) {
  const auto notes = [](const QStringList& descriptions, const QString& language) {
    QString inner = "<sparkle:version>2</sparkle:version>";
    for (const QString& d : descriptions) inner += d;
    const auto result = parseAppcast(feedOf({inner}), language);
    return result.appcast && !result.appcast->items.empty() ? result.appcast->items[0].releaseNotes : "(none)";
  };
  const QString fr = R"(<description xml:lang="fr">fr</description>)";
  const QString de = R"(<description xml:lang="de">de</description>)";
  const QString en = R"(<description xml:lang="en-US">en</description>)";
  const QString plain = "<description>plain</description>";
  EXPECT_EQ(notes({fr, en, de}, "de_AT"), "de");
  EXPECT_EQ(notes({fr, de, en}, "it"), "en");
  EXPECT_EQ(notes({fr, de}, "it"), "fr");
  EXPECT_EQ(notes({fr, plain}, "it"), "plain") << "untagged notes are the feed's own language";
  const QString br = R"(<description xml:lang="pt-BR">br</description>)";
  EXPECT_EQ(notes({en, R"(<description xml:lang="pt">pt</description>)", br}, "pt_BR"), "br");
}

TEST(AppcastTest, LongDisplayVersionsAreCutToAReadableLength) {
  const auto shown = [](const QString& display) {
    return offered({"<sparkle:shortVersionString>" + display + "</sparkle:shortVersionString>"}, {"0", "0", {}})
        ->displayVersion;
  };
  EXPECT_EQ(shown("2.0.1"), "2.0.1");
  EXPECT_EQ(shown("2.0.1+20260114.g1a2b3c4d5e"), "2.0.1…");
  EXPECT_EQ(shown("2.0.1-nightly.20260114.1234567"), "2.0.1-nightly.20260…");
  EXPECT_EQ(shown(" 2.0\n  (beta) "), "2.0 (beta)");
}

TEST(AppcastTest, VersionOrder) {
  // Each is lower than the next.
  const char* ascending[] = {"0.9",      "1.0-dev",  "1.0-alpha", "1.0a2",  "1.0-beta", "1.0-beta2",
                             "1.0-beta10", "1.0-rc1", "1.0-rc.2", "1.0",    "1.0.1",    "1.2",
                             "1.10",     "2.0",      "10.0",      "123456789012345678901234567890"};
  for (std::size_t i = 0; i < std::size(ascending); ++i) {
    for (std::size_t j = 0; j < std::size(ascending); ++j) {
      const int expected = i < j ? -1 : (i > j ? 1 : 0);
      EXPECT_EQ(compareVersions(ascending[i], ascending[j]), expected) << ascending[i] << " vs " << ascending[j];
    }
  }
  for (const auto& [a, b] : {std::pair{"1.0", "1.0.0"}, {"v1.2", "1.2"}, {"1.2+build7", "1.2"}, {"01.02", "1.2"},
                             {"1.0-RC1", "1.0-rc1"}}) {
    EXPECT_EQ(compareVersions(a, b), 0) << a << " vs " << b;
  }
}

}  // namespace
}  // namespace velto
