// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The controls sidebar against a real store and simulated cameras: what is shown for which
// camera, the presets (naming, checkmark, a preset or camera that goes away behind a dialog or a
// menu), the reset confirmation; and pictures of it for people to look at.
#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

#include "views/control_slider.h"
#include "views/controls_sidebar.h"
#include "views/option_picker.h"
#include "views/preset_name_dialog.h"
#include "views/presets_section.h"
#include "views_store_fixture.h"

namespace velto::views {
namespace {

class ControlsSidebarTest : public testing::ViewsTest {
 protected:
  // Opens the naming dialog through the "+" (or a rename), types `text` and presses Save.
  void name(ControlsSidebar& sidebar, const QString& text) {
    PresetNameDialog* dialog = sidebar.presets()->namingDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->field()->setText(text);
    dialog->saveButton()->click();
    EXPECT_EQ(sidebar.presets()->namingDialog(), nullptr);
  }
  QStringList presetNames() {
    QStringList names;
    for (const Preset& p : store->presets()) names << p.name;
    return names;
  }
  // Whether the Microphone section would show its picker (not just its header) in a shown window.
  static bool pickupShows(ControlsSidebar& sidebar) {
    auto* picker = sidebar.section("Microphone")->findChild<OptionPicker*>();
    return picker && picker->isVisibleTo(&sidebar);
  }
  // Rows that show the checkmark.
  QList<int> checked(ControlsSidebar& sidebar) {
    QList<int> rows;
    QListWidget* list = sidebar.presets()->list();
    for (int i = 0; i < list->count(); ++i) {
      if (list->item(i)->data(Qt::UserRole + 1).toBool()) rows << i;
    }
    return rows;
  }
};

TEST_F(ControlsSidebarTest, SectionsFollowTheCamera) {
  start({sim::c200Profile(), sim::genericProfile()});
  ControlsSidebar sidebar(*store);
  EXPECT_FALSE(sidebar.showsPlaceholder());
  for (const char* title : {"Camera", "Presets", "Exposure", "White Balance", "Focus", "Image", "Microphone", "Framing", "Behavior"}) {
    ASSERT_NE(sidebar.section(title), nullptr) << title;
    EXPECT_FALSE(sidebar.section(title)->isHidden()) << title;
  }
  // Two cameras: a chooser, on the preferred model.
  auto* chooser = sidebar.section("Camera")->findChild<QComboBox*>();
  ASSERT_NE(chooser, nullptr);
  EXPECT_FALSE(chooser->isHidden());
  EXPECT_EQ(chooser->count(), 2);
  EXPECT_EQ(chooser->currentText(), QStringLiteral("Anker PowerConf C200"));
  auto* refocus = sidebar.section("Focus")->findChild<QToolButton*>();
  EXPECT_FALSE(refocus->isHidden());
  EXPECT_TRUE(pickupShows(sidebar));
  auto* fixedFocus = sidebar.section("Focus")->findChild<QLabel*>("emptyNote");
  ASSERT_NE(fixedFocus, nullptr);
  EXPECT_FALSE(fixedFocus->isVisibleTo(&sidebar));

  chooser->setCurrentIndex(1);
  emit chooser->activated(1);
  settle();
  ASSERT_EQ(store->device()->name, QStringLiteral("USB 2.0 Camera"));
  EXPECT_TRUE(sidebar.section("Microphone")->isHidden());
  EXPECT_TRUE(sidebar.section("Framing")->isHidden());
  EXPECT_FALSE(sidebar.section("Focus")->isHidden());  // listed, and says why it has no rows
  EXPECT_TRUE(fixedFocus->isVisibleTo(&sidebar));
  EXPECT_EQ(fixedFocus->text(), QStringLiteral("This camera has a fixed focus."));
  EXPECT_TRUE(refocus->isHidden());

  // Back to the C200, then off the bus and back: the picker returns every time.
  chooser->setCurrentIndex(0);
  emit chooser->activated(0);
  settle();
  EXPECT_TRUE(pickupShows(sidebar));
  EXPECT_FALSE(fixedFocus->isVisibleTo(&sidebar));
  unplug("cam0");
  bus.command("cam0", "plug");
  store->rescan();
  settle();
  ASSERT_EQ(store->device()->name, QStringLiteral("Anker PowerConf C200"));
  EXPECT_TRUE(pickupShows(sidebar));

  unplug("cam1");
  unplug("cam0");
  EXPECT_TRUE(sidebar.showsPlaceholder());
  bus.command("cam0", "plug");  // a camera that arrives after the window was built
  store->rescan();
  settle();
  EXPECT_TRUE(pickupShows(sidebar));
}

TEST_F(ControlsSidebarTest, AResetKeepsTheCameraShownAndTheButtonBusyUntilItIsBack) {
  start({sim::c200Profile()});
  ControlsSidebar sidebar(*store);
  auto* reset = sidebar.section("Camera")->findChild<QPushButton*>();
  ASSERT_EQ(reset->text(), QStringLiteral("Reset Camera"));
  const auto enumeration = bus.camera("cam0").registryID();
  reset->click();
  EXPECT_FALSE(reset->isEnabled());
  EXPECT_EQ(reset->text(), QStringLiteral("Resetting…"));
  EXPECT_EQ(reset->accessibleName(), QStringLiteral("Reset Camera"));
  settle();
  ASSERT_TRUE(bus.waitUntilPlugged("cam0", enumeration));
  unplug("cam0");  // back on the bus, and gone again for a while
  EXPECT_FALSE(store->device());
  EXPECT_FALSE(sidebar.showsPlaceholder()) << "a camera being reset is coming back, not gone";
  EXPECT_FALSE(reset->isHidden());
  EXPECT_FALSE(reset->isEnabled());
  bus.command("cam0", "plug");
  store->rescan();
  settle();
  EXPECT_TRUE(reset->isEnabled());
  EXPECT_EQ(reset->text(), QStringLiteral("Reset Camera"));
  EXPECT_TRUE(pickupShows(sidebar));
}

TEST_F(ControlsSidebarTest, AResetOfTheSameCameraShowsOrHidesNothingAndGreysRowsOnlyWhileItIsAway) {
  start({sim::c200Profile()});
  ControlsSidebar sidebar(*store);
  // Every section and row of the form counts its shows and hides from here on.
  struct Moves : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) ++count;
      return false;
    }
  } moves;
  QWidget* form = sidebar.section("Camera")->parentWidget();
  for (QWidget* widget : form->findChildren<QWidget*>()) widget->installEventFilter(&moves);
  auto* slider = sidebar.section("Image")->findChild<ControlSlider*>();
  auto* reset = sidebar.section("Camera")->findChild<QPushButton*>();
  ASSERT_NE(slider, nullptr);
  auto resetAndLeave = [&] {
    const auto enumeration = bus.camera("cam0").registryID();
    reset->click();
    settle();
    ASSERT_TRUE(bus.waitUntilPlugged("cam0", enumeration));
    unplug("cam0");  // back on the bus, and gone again for a while
  };

  resetAndLeave();
  EXPECT_FALSE(slider->isHidden());
  EXPECT_FALSE(slider->isEnabled()) << "nothing can reach a camera that is away";
  EXPECT_TRUE(pickupShows(sidebar));
  bus.command("cam0", "plug");
  store->rescan();
  settle();
  EXPECT_TRUE(slider->isEnabled());
  EXPECT_EQ(moves.count, 0);

  // A camera that does not come back by the end of the reset takes its rows with it.
  resetAndLeave();
  clock.advance(std::chrono::seconds(15));
  settle();
  EXPECT_TRUE(sidebar.showsPlaceholder());
  EXPECT_TRUE(slider->isHidden());
  EXPECT_FALSE(pickupShows(sidebar));
}

TEST_F(ControlsSidebarTest, PresetNamesAreTrimmedAndBlankNamesSaveNothing) {
  start({sim::c200Profile()});
  ControlsSidebar sidebar(*store);
  sidebar.presets()->addButton()->click();
  EXPECT_EQ(sidebar.presets()->namingDialog()->windowTitle(), QStringLiteral("Save Preset"));
  EXPECT_TRUE(sidebar.presets()->namingDialog()->field()->text().isEmpty());
  name(sidebar, QStringLiteral("  Desk\t "));
  EXPECT_EQ(presetNames(), QStringList{"Desk"});

  // A name another preset has is pointed out, and may still be saved.
  sidebar.presets()->addButton()->click();
  PresetNameDialog* dialog = sidebar.presets()->namingDialog();
  EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_GE(dialog->minimumSizeHint().expandedTo(dialog->minimumSize()).width(), 320);
  dialog->field()->setText(QStringLiteral("Desk "));
  EXPECT_FALSE(dialog->note()->isHidden());
  name(sidebar, QStringLiteral("Desk"));
  EXPECT_EQ(presetNames(), (QStringList{"Desk", "Desk"}));
  store->deletePresetAt(1);

  sidebar.presets()->addButton()->click();
  name(sidebar, QStringLiteral(" \t  "));
  EXPECT_EQ(presetNames(), QStringList{"Desk"});

  std::unique_ptr<QMenu> menu(sidebar.presets()->contextMenu(0));
  ASSERT_NE(menu, nullptr);
  QStringList items;
  for (QAction* a : menu->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(items, (QStringList{"Update with Current Settings", "Rename…", "-", "Delete"}));
  menu->actions()[1]->trigger();
  EXPECT_EQ(sidebar.presets()->namingDialog()->windowTitle(), QStringLiteral("Rename Preset"));
  EXPECT_EQ(sidebar.presets()->namingDialog()->field()->text(), QStringLiteral("Desk"));
  name(sidebar, QStringLiteral("Studio"));
  EXPECT_EQ(presetNames(), QStringList{"Studio"});
}

TEST_F(ControlsSidebarTest, PresetNamesAndPresetsAreBoundedAndTheViewSaysWhy) {
  start({sim::c200Profile()});
  ControlsSidebar sidebar(*store);
  sidebar.presets()->addButton()->click();
  PresetNameDialog* dialog = sidebar.presets()->namingDialog();
  dialog->field()->setText(QString(kMaxPresetNameLength - 1, u'n'));
  EXPECT_TRUE(dialog->note()->isHidden());
  dialog->field()->setText(QString(kMaxPresetNameLength + 10, u'n'));  // pasted
  EXPECT_EQ(dialog->field()->text().size(), kMaxPresetNameLength);
  EXPECT_EQ(dialog->note()->text(), QStringLiteral("A name has at most 64 characters."));
  name(sidebar, dialog->field()->text());
  while (store->presets().size() < kMaxPresets) store->savePreset(QStringLiteral("more"));
  EXPECT_FALSE(sidebar.presets()->addButton()->isEnabled());
  EXPECT_TRUE(sidebar.presets()->addButton()->toolTip().startsWith(QStringLiteral("There are 100 presets")));
  sidebar.presets()->startNaming({});
  EXPECT_EQ(sidebar.presets()->namingDialog(), nullptr);
  store->deletePresetAt(0);
  EXPECT_TRUE(sidebar.presets()->addButton()->isEnabled());
}

TEST_F(ControlsSidebarTest, CheckmarkFollowsTheActivePresetAndRowsApplyAndMove) {
  start({sim::c200Profile()});
  ControlsSidebar sidebar(*store);
  store->savePreset(QStringLiteral("Bright"));
  store->set(ControlID::brightness, 30);
  store->savePreset(QStringLiteral("Brighter"));
  settle();
  EXPECT_EQ(checked(sidebar), QList<int>{1});

  QListWidget* list = sidebar.presets()->list();
  emit list->itemClicked(list->item(0));
  settle();
  EXPECT_EQ(store->value(ControlID::brightness), 0);
  EXPECT_EQ(checked(sidebar), QList<int>{0});

  store->set(ControlID::contrast, 3);  // matches neither
  EXPECT_TRUE(checked(sidebar).isEmpty());

  sidebar.presets()->move({1}, 0);
  EXPECT_EQ(presetNames(), (QStringList{"Brighter", "Bright"}));
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("Brighter"));
}

TEST_F(ControlsSidebarTest, GoneCamerasAndPresetsLeaveNothingStale) {
  start({sim::c200Profile()});
  ControlsSidebar sidebar(*store);
  store->savePreset(QStringLiteral("Desk"));
  const QUuid id = store->presets().first().id;

  // A preset deleted behind an open menu: its actions do nothing.
  std::unique_ptr<QMenu> menu(sidebar.presets()->contextMenu(0));
  store->deletePreset(id);
  EXPECT_EQ(sidebar.presets()->list()->count(), 0);
  store->set(ControlID::brightness, 12);
  for (QAction* a : menu->actions()) a->trigger();
  EXPECT_TRUE(store->presets().isEmpty());
  EXPECT_EQ(sidebar.presets()->namingDialog(), nullptr);  // no rename of what is gone

  // The camera leaves while the naming dialog and the confirmation are open.
  sidebar.presets()->addButton()->click();
  QPointer<PresetNameDialog> dialog = sidebar.presets()->namingDialog();
  dialog->field()->setText(QStringLiteral("Late"));
  sidebar.confirmReset();
  QPointer<QMessageBox> confirm = sidebar.resetConfirmation();
  ASSERT_TRUE(confirm);
  unplug("cam0");
  EXPECT_TRUE(sidebar.showsPlaceholder());
  EXPECT_EQ(sidebar.presets()->namingDialog(), nullptr);
  if (dialog) dialog->saveButton()->click();
  EXPECT_TRUE(store->presets().isEmpty());
  EXPECT_TRUE(!confirm || confirm->isHidden());
}

TEST_F(ControlsSidebarTest, ResetToDefaultsActsOnlyAfterTheDestructiveButton) {
  start({sim::c200Profile()});
  ControlsSidebar sidebar(*store);
  store->set(ControlID::brightness, 20);
  const std::int64_t defaultValue = store->ranges().at(ControlID::brightness).defaultValue;

  sidebar.confirmReset();
  ASSERT_NE(sidebar.resetConfirmation(), nullptr);
  EXPECT_EQ(sidebar.resetConfirmation()->text(), QStringLiteral("Reset every camera setting to its factory default?"));
  sidebar.resetConfirmation()->button(QMessageBox::Cancel)->click();
  EXPECT_EQ(store->value(ControlID::brightness), 20);

  sidebar.confirmReset();
  QMessageBox* box = sidebar.resetConfirmation();
  QAbstractButton* reset = nullptr;
  for (QAbstractButton* b : box->buttons()) {
    if (box->buttonRole(b) == QMessageBox::DestructiveRole) reset = b;
  }
  ASSERT_NE(reset, nullptr);
  EXPECT_EQ(reset->text(), QStringLiteral("Reset"));
  reset->click();
  EXPECT_EQ(store->value(ControlID::brightness), defaultValue);
}

// Not a check: pictures of the sidebar at the main window's width, for people to look at.
}  // namespace
}  // namespace velto::views
