// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The application in the user's language: our own translation (built into the program) and Qt's
// (qtbase, for the standard buttons, shortcuts and dialogs), installed for the first of the
// user's languages that we translate into. English, the language of the source texts, needs
// none: a user who lists it before any language we have keeps English.
//
// Main thread; the translators stay installed while the object lives.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QTranslator;

namespace velto::app {

class Translations {
 public:
  // `uiLanguages` as QLocale::uiLanguages() gives them ("de-DE", "de", ...), most wanted first.
  explicit Translations(const QStringList& uiLanguages);
  ~Translations();
  Translations(const Translations&) = delete;
  Translations& operator=(const Translations&) = delete;

  // The language installed ("de"), empty for English.
  const QString& language() const { return language_; }

 private:
  std::unique_ptr<QTranslator> ours_;
  std::unique_ptr<QTranslator> qt_;
  QString language_;
};

}  // namespace velto::app
