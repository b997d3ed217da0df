// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window over a real store (a simulated C200) and a preview controller on a scripted
// capture backend: its size limits and its place on small screens, the toolbar's pickers,
// toggles and shortcuts, what it keeps in the settings file, and the window as the preview's
// client "window" while it is shown.
#include "views/main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "preview_fixture.h"
#include "views/framing_pad.h"
#include "qt_printers.h"

namespace velto {
namespace {

using State = PreviewController::State;
using Tool = Calibrator::Tool;
using views::MainWindow;

class MainWindowTest : public testing::PreviewFixture {
 protected:
  std::unique_ptr<MainWindow> makeWindow(UserDefaults& settings) {
    return std::make_unique<MainWindow>(*store, *preview, calibrator, settings);
  }
  static QAction* overlay(MainWindow& window, const char* key) { return window.findChild<QAction*>(key); }
  static QAbstractButton* toolButton(MainWindow& window, const QString& name) {
    for (auto* button : window.findChild<QWidget*>("tool")->findChildren<QAbstractButton*>()) {
      if (button->accessibleName() == name) return button;
    }
    ADD_FAILURE() << "no tool button " << name.toStdString();
    return nullptr;
  }
};

TEST(FitWindowToScreen, KeepsTheWindowOnTheScreenAndNoLargerThanIt) {
  const QSize least(823, 560);
  const QRect laptop(0, 0, 1024, 600);
  // Too big for the screen: as big as the free area, below a panel too.
  EXPECT_EQ(views::fitWindowToScreen(QRect(0, 0, 1100, 680), laptop, least), laptop);
  EXPECT_EQ(views::fitWindowToScreen(QRect(0, 0, 1100, 680), QRect(0, 32, 1024, 568), least), QRect(0, 32, 1024, 568));
  // A place on a monitor that is gone: pulled back into the corner nearest to it, size kept.
  const QRect desktop(0, 0, 1920, 1080);
  EXPECT_EQ(views::fitWindowToScreen(QRect(2500, 1300, 1100, 680), desktop, least), QRect(820, 400, 1100, 680));
  EXPECT_EQ(views::fitWindowToScreen(QRect(1920, 200, 1100, 680), QRect(1920, 0, 1024, 600), least),
            QRect(1920, 0, 1024, 600)) << "a screen right of another";
  // Where it fits, where it was; never below its least size.
  EXPECT_EQ(views::fitWindowToScreen(QRect(100, 50, 1100, 680), desktop, least), QRect(100, 50, 1100, 680));
  EXPECT_EQ(views::fitWindowToScreen(QRect(100, 50, 300, 200), desktop, least), QRect(100, 50, 823, 560));
  // A screen smaller than the least size: the widths stay (from the left edge), the height gives way.
  EXPECT_EQ(views::fitWindowToScreen(QRect(40, 30, 1100, 680), QRect(0, 0, 800, 480), least), QRect(0, 0, 823, 480));
}

TEST_F(MainWindowTest, HoldsThePreviewAndTheSidebarAtTheirLeastAndOpensWithinTheScreen) {
  startStore(false);
  auto window = makeWindow(defaults);
  window->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(window->windowTitle(), "Velto Camera");
  // The test screen (800 × 600 offscreen) is lower than the window's wish and narrower than its least.
  const QRect available = window->screen()->availableGeometry();
  EXPECT_LE(window->frameGeometry().height(), available.height());
  EXPECT_LE(window->width(), std::max(available.width(), window->minimumWidth()));

  window->resize(200, 200);
  QCoreApplication::processEvents();
  EXPECT_GE(window->pane().width(), 480);
  EXPECT_EQ(window->findChild<QWidget*>("sidebar")->width(), 340);
  EXPECT_GE(window->centralWidget()->height(), 520);
  EXPECT_GE(window->width(), 480 + 1 + 340);
}

TEST_F(MainWindowTest, SizePlaceAndToolSurviveANewWindowAndBadValuesFallBack) {
  startStore();
  {
    auto window = makeWindow(defaults);
    window->show();
    QCoreApplication::processEvents();
    toolButton(*window, "Click to Set White Balance")->click();
    // Within the 800 × 600 test screen: it is narrower than the window's least width.
    window->resize(window->minimumSize() + QSize(0, 10));
    window->move(0, 10);
    window->close();
  }
  calibrator.setTool(Tool::none);
  ASSERT_FALSE(defaults.sync());
  UserDefaults relaunched(defaults.path());
  {
    auto window = makeWindow(relaunched);
    window->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), window->minimumSize() + QSize(0, 10));
    EXPECT_EQ(window->pos(), QPoint(0, 10));
    EXPECT_EQ(calibrator.tool(), Tool::whiteBalance);
    EXPECT_TRUE(toolButton(*window, "Click to Set White Balance")->isChecked());
  }

  calibrator.setTool(Tool::none);
  relaunched.setData("window.geometry", "{\"width\": \"wide\"");
  relaunched.setData("window.tool", "fisheye");
  auto window = makeWindow(relaunched);
  window->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(calibrator.tool(), Tool::none);
  EXPECT_GT(window->height(), window->minimumHeight() + 10) << "the default size, as high as the screen allows";
}

TEST_F(MainWindowTest, OverlayChoicesStartAsOnFirstLaunchAndSurviveANewWindow) {
  startStore();
  {
    auto window = makeWindow(defaults);
    EXPECT_FALSE(overlay(*window, "overlay.grid")->isChecked());
    EXPECT_FALSE(overlay(*window, "overlay.clipping")->isChecked());
    EXPECT_TRUE(overlay(*window, "overlay.histogram")->isChecked());
    EXPECT_TRUE(overlay(*window, "overlay.mirror")->isChecked());
    EXPECT_TRUE(window->pane().overlays().mirror);

    overlay(*window, "overlay.grid")->trigger();
    overlay(*window, "overlay.mirror")->trigger();
    EXPECT_TRUE(window->pane().overlays().grid);
    EXPECT_FALSE(window->pane().overlays().mirror);
  }
  ASSERT_FALSE(defaults.sync());
  UserDefaults relaunched(defaults.path());  // the file as the next run reads it
  auto window = makeWindow(relaunched);
  EXPECT_TRUE(overlay(*window, "overlay.grid")->isChecked());
  EXPECT_FALSE(overlay(*window, "overlay.mirror")->isChecked());
  EXPECT_TRUE(overlay(*window, "overlay.histogram")->isChecked());
  EXPECT_TRUE(window->pane().overlays().grid);
  EXPECT_FALSE(window->pane().overlays().mirror);
  EXPECT_EQ(relaunched.boolean("overlay.clipping"), std::nullopt) << "only what was toggled is written";
}

TEST_F(MainWindowTest, TheTargetPickerBelongsToTheExposureToolAloneAndMovesNoTool) {
  startStore();
  auto window = makeWindow(defaults);
  window->show();
  QCoreApplication::processEvents();
  auto* target = window->findChild<QComboBox*>("target");
  EXPECT_FALSE(target->isVisible());
  EXPECT_TRUE(toolButton(*window, "Pointer")->isChecked());
  std::vector<int> left;
  for (const char* name : {"Pointer", "Click to Set White Balance", "Click to Set Exposure"}) {
    left.push_back(toolButton(*window, name)->mapTo(window.get(), QPoint()).x());
  }

  toolButton(*window, "Click to Set Exposure")->click();
  QCoreApplication::processEvents();  // the toolbar lays out again
  EXPECT_EQ(calibrator.tool(), Tool::exposure);
  EXPECT_TRUE(target->isVisible());
  int i = 0;
  for (const char* name : {"Pointer", "Click to Set White Balance", "Click to Set Exposure"}) {
    EXPECT_EQ(toolButton(*window, name)->mapTo(window.get(), QPoint()).x(), left[i++]) << name;
  }
  EXPECT_EQ(target->currentText(), "Normal");
  QTest::keyClick(target, Qt::Key_Down);
  EXPECT_EQ(calibrator.exposureTarget(), 0.6);

  calibrator.setTool(Tool::whiteBalance);
  QCoreApplication::processEvents();
  EXPECT_FALSE(target->isVisible());
  EXPECT_TRUE(toolButton(*window, "Click to Set White Balance")->isChecked());
  toolButton(*window, "Pointer")->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(calibrator.tool(), Tool::none);
  EXPECT_FALSE(target->isVisible());
}

TEST_F(MainWindowTest, EscapePutsTheToolDownUnlessAPopUpWantsIt) {
  startStore();
  auto window = makeWindow(defaults);
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(window.get(), Qt::Key_3, Qt::ControlModifier);
  ASSERT_EQ(calibrator.tool(), Tool::exposure);

  auto* target = window->findChild<QComboBox*>("target");
  target->showPopup();
  ASSERT_NE(QApplication::activePopupWidget(), nullptr);
  QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_EQ(calibrator.tool(), Tool::exposure) << "the Escape closed the pop-up only";

  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_EQ(calibrator.tool(), Tool::none);
  EXPECT_TRUE(toolButton(*window, "Pointer")->isChecked());
}

TEST_F(MainWindowTest, WithoutACameraToolsAndOverlaysRestUntilOneConnects) {
  startStore(false);
  auto window = makeWindow(defaults);
  window->addMenuActions({});
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  auto enabled = [&] {
    std::vector<bool> states;
    for (const char* name : {"Pointer", "Click to Set White Balance", "Click to Set Exposure"}) {
      states.push_back(toolButton(*window, name)->isEnabled());
    }
    states.push_back(window->findChild<QComboBox*>("target")->isEnabled());
    for (const char* key : {"overlay.grid", "overlay.clipping", "overlay.histogram", "overlay.mirror"}) {
      states.push_back(overlay(*window, key)->isEnabled());
    }
    return states;
  };
  EXPECT_EQ(enabled(), std::vector<bool>(8, false));
  QTest::keyClick(window.get(), Qt::Key_2, Qt::ControlModifier);
  QTest::keyClick(window.get(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(calibrator.tool(), Tool::none) << "the shortcuts rest too";
  EXPECT_FALSE(overlay(*window, "overlay.grid")->isChecked());

  bus.plug(sim::c200Profile(), "c200");
  store->rescan();
  settle();
  ASSERT_TRUE(store->device());
  EXPECT_EQ(enabled(), std::vector<bool>(8, true));
  QTest::keyClick(window.get(), Qt::Key_2, Qt::ControlModifier);
  QTest::keyClick(window.get(), Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(calibrator.tool(), Tool::whiteBalance);
  EXPECT_TRUE(overlay(*window, "overlay.grid")->isChecked());
  // The menu holds the same actions, with their keys shown.
  ASSERT_NE(window->findChild<QMenu*>(), nullptr);
  EXPECT_TRUE(window->findChild<QMenu*>()->actions().contains(overlay(*window, "overlay.grid")));
  EXPECT_TRUE(toolButton(*window, "Pointer")->toolTip().startsWith("Pointer (Ctrl+1)"));
}

TEST_F(MainWindowTest, CtrlShiftArrowsPanAsThePadsArrowsDoAndCtrlPlusZooms) {
  startStore();
  auto window = makeWindow(defaults);
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  store->set(ControlID::zoom, 200);  // zoomed in, so that the view can move
  settle();
  const std::int64_t pan = store->value(ControlID::pan);
  auto* pad = window->findChild<views::FramingPad*>();
  ASSERT_NE(pad, nullptr);
  QTest::keyClick(pad, Qt::Key_Right);
  settle();
  const std::int64_t padStep = store->value(ControlID::pan);
  ASSERT_NE(padStep, pan);
  store->set(ControlID::pan, pan);
  settle();

  // From a focused slider too: the shortcut, not the slider, takes the key.
  auto* slider = window->findChild<QSlider*>();
  ASSERT_NE(slider, nullptr);
  slider->setFocus();
  const int sliderValue = slider->value();
  QTest::keyClick(slider, Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
  settle();
  EXPECT_EQ(store->value(ControlID::pan), padStep);
  EXPECT_EQ(slider->value(), sliderValue);
  EXPECT_EQ(store->value(ControlID::zoom), 200);

  QTest::keyClick(window.get(), Qt::Key_Equal, Qt::ControlModifier);
  settle();
  const std::int64_t zoomedIn = store->value(ControlID::zoom);
  EXPECT_GT(zoomedIn, 200);
  QTest::keyClick(window.get(), Qt::Key_Minus, Qt::ControlModifier);
  settle();
  EXPECT_LT(store->value(ControlID::zoom), zoomedIn);
}

TEST_F(MainWindowTest, TheWindowIsThePreviewsClientWhileShownAndFollowsTheCamera) {
  startStore();
  auto window = makeWindow(defaults);
  EXPECT_FALSE(preview->hasClient("window")) << "not before it is shown";
  window->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(preview->hasClient("window"));
  EXPECT_EQ(preview->state(), State::running);

  // The camera vanishes: asked again for no camera, the pane says so.
  bus.command("c200", "unplug");
  capture->present.clear();
  store->rescan();
  settle();
  ASSERT_FALSE(store->device());
  EXPECT_EQ(preview->state(), State::noCamera);
  EXPECT_EQ(window->pane().placeholderTitle(), "No Camera");

  bus.command("c200", "plug");
  capture->present = {testing::ScriptedCapture::c200()};
  store->rescan();
  settle();
  ASSERT_TRUE(store->device());
  EXPECT_EQ(preview->state(), State::running);

  // A measurement under way is cancelled with the window; the tool stays.
  calibrator.setTool(Tool::exposure);
  calibrator.run({0.5, 0.5}, *store, preview->analyzer());
  ASSERT_TRUE(calibrator.busy());
  window->close();
  EXPECT_FALSE(preview->hasClient("window"));
  EXPECT_EQ(preview->state(), State::idle);
  EXPECT_FALSE(calibrator.busy());
  EXPECT_FALSE(calibrator.point());
  EXPECT_EQ(calibrator.tool(), Tool::exposure);

  window->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(preview->hasClient("window"));
  EXPECT_EQ(preview->state(), State::running);
}

}  // namespace
}  // namespace velto
