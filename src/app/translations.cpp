// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "support/log_categories.h"

namespace velto::app {
namespace {

// Where qt_add_translations puts our .qm files in the program's resources (src/app/CMakeLists.txt).
const QString kOurs = QStringLiteral(":/velto/translations");

}  // namespace

Translations::Translations(const QStringList& uiLanguages)
    : ours_(std::make_unique<QTranslator>()), qt_(std::make_unique<QTranslator>()) {
  for (const QString& language : uiLanguages) {
    const QLocale locale(language);
    if (locale.language() == QLocale::English || locale.language() == QLocale::C) break;
    // "velto-camera_de_DE.qm", then "velto-camera_de.qm".
    if (!ours_->load(locale, QStringLiteral("velto-camera"), QStringLiteral("_"), kOurs)) continue;
    language_ = QLocale::languageToCode(locale.language());
    QCoreApplication::installTranslator(ours_.get());
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (qt_->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), qtFolder)) {
      QCoreApplication::installTranslator(qt_.get());
    } else {
      // Our texts are translated; the standard buttons and shortcut names stay English.
      qCInfo(lcApp).noquote() << "no Qt translation for" << language << "in" << qtFolder;
    }
    return;
  }
}

Translations::~Translations() {
  QCoreApplication::removeTranslator(qt_.get());
  QCoreApplication::removeTranslator(ours_.get());
}

}  // namespace velto::app
