// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/user_text.h"

#include <QCoreApplication>
#include <QTranslator>
#include <gtest/gtest.h>

#include "qt_printers.h"

namespace velto {
namespace {

// A message as the store builds one: a marked template around a marked reason and verbatim text.
UserText resetFailed(const QString& number) {
  return UserText("Couldn't reset the camera (%1, %2).", {UserText("permission denied"), UserText::verbatim(number)});
}

// German for the two templates above, in the context the layers mark them in.
class German final : public QTranslator {
 public:
  QString translate(const char* context, const char* source, const char*, int) const override {
    if (QByteArray(context) != UserText::kContext) return {};
    if (QByteArray(source) == "Couldn't reset the camera (%1, %2).") {
      return QStringLiteral("Die Kamera konnte nicht zurückgesetzt werden (%2; %1).");
    }
    if (QByteArray(source) == "permission denied") return QStringLiteral("Zugriff verweigert");
    return {};
  }
  bool isEmpty() const override { return false; }
};

TEST(UserText, FillsEachPlaceOnceInEnglishAndInTheInstalledLanguage) {
  // An argument's own "%1" (a path) is text, not a place; a place without an argument stays.
  EXPECT_EQ(resetFailed(QStringLiteral("/tmp/%1")).english(),
            "Couldn't reset the camera (permission denied, /tmp/%1).");
  EXPECT_EQ(UserText("%1 and %3", {UserText::verbatim(QStringLiteral("one"))}).english(), "one and %3");
  EXPECT_EQ(UserText("cannot open %1", {UserText::verbatim(QStringLiteral("cam"))}).capitalized().english(),
            "Cannot open cam");
  EXPECT_TRUE(UserText().isEmpty());
  EXPECT_TRUE(resetFailed(QStringLiteral("0x1")) == resetFailed(QStringLiteral("0x1")));
  EXPECT_FALSE(resetFailed(QStringLiteral("0x1")) == resetFailed(QStringLiteral("0x2")));

  EXPECT_EQ(resetFailed(QStringLiteral("0x1")).translated(), resetFailed(QStringLiteral("0x1")).english())
      << "English where no translator has the text";
  German german;
  QCoreApplication::installTranslator(&german);
  // The template and the reason inside it translated, the places in the translation's order,
  // verbatim text as it is; English stays English.
  EXPECT_EQ(resetFailed(QStringLiteral("0x1")).translated(),
            "Die Kamera konnte nicht zurückgesetzt werden (0x1; Zugriff verweigert).");
  EXPECT_EQ(resetFailed(QStringLiteral("0x1")).english(), "Couldn't reset the camera (permission denied, 0x1).");
  QCoreApplication::removeTranslator(&german);
}

}  // namespace
}  // namespace velto
