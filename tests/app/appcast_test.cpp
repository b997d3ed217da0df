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
  EXPECT_EQ(items[0].displayVersion, "1.4-beta1");
  EXPECT_EQ(items[0].downloadLink, QUrl("https://example.org/velto-1.4b1.deb"));
  EXPECT_EQ(items[0].releaseNotesLink, QUrl("https://example.org/notes/1.4"));
  EXPECT_EQ(items[1].version, "1.3.0");
  EXPECT_EQ(items[1].displayVersion, "1.3");
  EXPECT_EQ(items[1].releaseNotes, "<ul><li>Sharper</li></ul>");
  EXPECT_EQ(items[1].downloadLink, QUrl("https://example.org/download"));
  EXPECT_EQ(result.appcast->newest()->version, "1.4-beta1");
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
  EXPECT_FALSE(empty.appcast->newest());
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
