// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The application in German, end to end: the main window (its toolbar, menu, the exposure tool's
// hint and Target picker, the sidebar with a preset and the store's message), the preset naming
// dialog, the tray's panel and menu, with a simulated C200 and again without a camera. Each
// scene is built in English and then in German; every text a person can see or hear (labels,
// buttons, tooltips, accessible names and descriptions, combo items, menu entries) that reads the
// same in both is English left over, unless German writes it the same way (the translation gives
// it unchanged: "HDR", "50 Hz") or it is data (a camera's or a preset's name, a number and its unit).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <functional>
#include <map>

#include "app/application.h"
#include "app/menu_bar_feed.h"
#include "app/menu_bar_view.h"
#include "app/translations.h"
#include "views/control_title.h"
#include "views/controls_sidebar.h"
#include "views/main_window.h"
#include "views/preset_name_dialog.h"
#include "views/presets_section.h"
#include "views/preview_fixture.h"

namespace velto::app {
namespace {

// Where a text is shown ("window 3/0/2 QLabel text") → the text.
using Texts = std::map<QString, QString>;

QString placeOf(const QObject* object, const QObject* root) {
  QStringList steps;
  for (; object != nullptr && object != root; object = object->parent()) {
    steps.prepend(QString::number(object->parent() ? object->parent()->children().indexOf(object) : 0));
  }
  return steps.join(u'/');
}

void add(Texts& texts, const QString& where, const QString& text) {
  if (!text.isEmpty()) texts[where] = text;
}

void addActions(Texts& texts, const QString& where, const QList<QAction*>& actions) {
  for (qsizetype i = 0; i < actions.size(); ++i) {
    add(texts, where + QStringLiteral(" action %1").arg(i), actions[i]->text());
    if (actions[i]->toolTip() != actions[i]->text()) {
      add(texts, where + QStringLiteral(" action %1 tip").arg(i), actions[i]->toolTip());
    }
  }
}

// Everything `root` and its shown widgets say, and the entries of its menus shown or not.
void collect(Texts& texts, const QString& scene, QWidget* root) {
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* w : widgets) {
    const bool menu = qobject_cast<QMenu*>(w) != nullptr;
    if (w != root && !menu && !w->isVisibleTo(root)) continue;
    const QString at = scene + u' ' + placeOf(w, root) + u' ' + QString::fromLatin1(w->metaObject()->className());
    if (w->isWindow()) add(texts, at + QStringLiteral(" title"), w->windowTitle());
    add(texts, at + QStringLiteral(" tip"), w->toolTip());
    add(texts, at + QStringLiteral(" name"), w->accessibleName());
    add(texts, at + QStringLiteral(" description"), w->accessibleDescription());
    if (auto* label = qobject_cast<QLabel*>(w)) add(texts, at + QStringLiteral(" text"), label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) add(texts, at + QStringLiteral(" text"), button->text());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) add(texts, at + QStringLiteral(" placeholder"), edit->placeholderText());
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
      for (int i = 0; i < combo->count(); ++i) add(texts, at + QStringLiteral(" item %1").arg(i), combo->itemText(i));
    }
    if (auto* list = qobject_cast<QListWidget*>(w)) {
      for (int i = 0; i < list->count(); ++i) {
        add(texts, at + QStringLiteral(" item %1 description").arg(i),
            list->item(i)->data(Qt::AccessibleDescriptionRole).toString());
      }
    }
    addActions(texts, at, w->actions());
  }
}

// The texts the German translation gives unchanged, as patterns ("Auto · %1" takes any value).
QList<QRegularExpression> sameInGerman() {
  QFile file(QStringLiteral(VELTO_TRANSLATIONS_DIR "/velto-camera_de.ts"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
  QXmlStreamReader xml(&file);
  QList<QRegularExpression> patterns;
  QString source;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("source")) source = xml.readElementText();
    // A plural's translation holds its forms as elements of their own.
    if (xml.name() == QLatin1String("translation") &&
        xml.readElementText(QXmlStreamReader::IncludeChildElements) == source) {
      QStringList pieces = QString(source).remove(u'&').split(QRegularExpression(QStringLiteral("%\\d")));
      for (QString& piece : pieces) piece = QRegularExpression::escape(piece);
      patterns.append(QRegularExpression(QRegularExpression::anchoredPattern(pieces.join(QStringLiteral(".+")))));
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  return patterns;
}

class TranslationTest : public testing::PreviewFixture {
 protected:
  // What `scene` shows built in English, and built in German: the German texts that are still
  // the English ones, and are neither `data` nor written the same in German.
  QStringList leftInEnglish(const std::function<void(Texts&)>& scene, const QStringList& data) {
    Texts english, german;
    scene(english);
    {
      const Translations translations({QStringLiteral("de-DE")});
      EXPECT_EQ(translations.language(), "de");
      scene(german);
    }
    EXPECT_EQ(english.size(), german.size()) << "the scene looks different in German";
    german_ = german;
    QStringList left;
    for (const auto& [where, text] : english) {
      if (german[where] == text && !isSameInGerman(text, data)) left << where + QStringLiteral(": ") + text;
    }
    return left;
  }

  bool isSameInGerman(const QString& text, const QStringList& data) const {
    if (data.contains(text)) return true;
    // A number and its unit ("1/64 s", "4600 K", "1.75×", "95°", "50 Hz").
    if (QString(text).remove(QRegularExpression(QStringLiteral("[^\\p{L}]"))).size() <= 2) return true;
    const QString shown = QString(text).remove(u'&');  // a mnemonic's mark
    return std::any_of(same_.begin(), same_.end(), [&](const QRegularExpression& p) { return p.match(shown).hasMatch(); });
  }

  // The window with the application's menu, the panel, the tray's menu, and the naming dialog.
  void collectViews(Texts& texts, bool naming) {
    views::MainWindow window(*store, *preview, calibrator, defaults);
    QObject owner;
    const AppCommands commands(true, &owner);
    window.addMenuActions(commands.windowMenu());
    window.show();
    QMenu tray;
    commands.fillTrayMenu(tray);
    SoftwareUpdate updates(clock, defaults, testing::updateOptions(QUrl(QStringLiteral("http://127.0.0.1:9/"))));
    MenuBarView panel(*store, *preview, updates, defaults);
    panel.show();
    auto* sidebar = window.findChild<views::ControlsSidebar*>();
    if (naming && store->device()) {
      sidebar->presets()->startNaming({});
      sidebar->presets()->namingDialog()->field()->setText(kPreset);  // a name in use: the dialog says so
      std::unique_ptr<QMenu> menu(sidebar->presets()->contextMenu(0));
      addActions(texts, QStringLiteral("preset menu"), menu->actions());
    }
    QCoreApplication::processEvents();
    collect(texts, QStringLiteral("window"), &window);
    collect(texts, QStringLiteral("panel"), &panel);
    addActions(texts, QStringLiteral("tray"), tray.actions());
    panel.hide();
    window.hide();
  }

  // Whether the German build of the last scene showed a text that starts with `start`.
  bool germanShows(const QString& start) const {
    return std::any_of(german_.begin(), german_.end(), [&](const auto& entry) { return entry.second.startsWith(start); });
  }

  const QString kPreset = QStringLiteral("Büro");
  Texts german_;
  const QList<QRegularExpression> same_ = sameInGerman();
};

TEST_F(TranslationTest, TheWindowPanelAndMenusSpeakGermanWithTheGermanTranslation) {
  // English goes before any language we translate into; the first one we have is taken.
  EXPECT_EQ(Translations({QStringLiteral("en-GB"), QStringLiteral("de-DE")}).language(), "");
  EXPECT_EQ(Translations({QStringLiteral("fr-FR"), QStringLiteral("de-AT")}).language(), "de");
  EXPECT_EQ(Translations({QStringLiteral("fr-FR")}).language(), "");
  {
    // Every control's catalogue title, shown or not on this camera.
    const Translations german({QStringLiteral("de")});
    for (ControlID id : allControls()) {
      const QString english = QString::fromUtf8(title(id).data(), qsizetype(title(id).size()));
      EXPECT_TRUE(views::controlTitle(id) != english || isSameInGerman(english, {})) << english.toStdString();
    }
  }

  // A C200 with a preset, the exposure tool chosen, and a reset that another program prevents:
  // the store's message, built below the views, is shown translated.
  startStore();
  store->savePreset(kPreset);
  calibrator.setTool(Calibrator::Tool::exposure);
  bus.command("c200", "hold");
  store->resetCamera();
  settle();
  ASSERT_TRUE(store->lastError()) << "the reset should have failed";
  ASSERT_TRUE(store->lastError()->startsWith("Couldn't reset the camera (in use by another program"))
      << store->lastError()->toStdString() << ": still English below the views";
  const QStringList data{store->device()->name, kPreset, QStringLiteral("Velto Camera")};
  QStringList left = leftInEnglish([&](Texts& texts) { collectViews(texts, true); }, data);
  EXPECT_TRUE(left.isEmpty()) << left.join(u'\n').toStdString();
  EXPECT_TRUE(germanShows("Die Kamera konnte nicht zurückgesetzt werden (von einem anderen Programm belegt, 0x"))
      << "the store's message and its reason in German";
  EXPECT_TRUE(germanShows("Belichtung per Klick (Strg+3)")) << "a tool's tooltip, with Qt's name for the key";

  // No camera: the placeholders of the sidebar, the preview and the panel.
  bus.command("c200", "release");
  bus.command("c200", "unplug");
  capture->present.clear();
  store->rescan();
  settle();
  left = leftInEnglish([&](Texts& texts) { collectViews(texts, false); }, data);
  EXPECT_TRUE(left.isEmpty()) << left.join(u'\n').toStdString();
}

}  // namespace
}  // namespace velto::app
