// The main window over a real store (a simulated C200) and a preview controller on a scripted
// capture backend: its size limits, the toolbar's pickers and toggles, the overlay choices kept
// in the settings file, and the window as the preview's client "window" while it is shown.
#include "views/main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QTest>
#include <QToolBar>

#include "preview_fixture.h"
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

TEST_F(MainWindowTest, HoldsThePreviewAndTheSidebarAtTheirLeast) {
  startStore(false);
  auto window = makeWindow(defaults);
  window->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(window->windowTitle(), "Velto Camera");
  EXPECT_EQ(window->size(), QSize(1100, 680));

  window->resize(200, 200);
  QCoreApplication::processEvents();
  EXPECT_GE(window->pane().width(), 480);
  EXPECT_EQ(window->findChild<QWidget*>("sidebar")->width(), 340);
  EXPECT_GE(window->centralWidget()->height(), 520);
  EXPECT_GE(window->width(), 480 + 1 + 340);
}

TEST_F(MainWindowTest, OverlayChoicesStartAsOnFirstLaunchAndSurviveANewWindow) {
  startStore(false);
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

TEST_F(MainWindowTest, TheTargetPickerBelongsToTheExposureToolAlone) {
  startStore(false);
  auto window = makeWindow(defaults);
  window->show();
  auto* target = window->findChild<QComboBox*>("target");
  EXPECT_FALSE(target->isVisible());
  EXPECT_TRUE(toolButton(*window, "Pointer")->isChecked());

  toolButton(*window, "Click to Set Exposure")->click();
  QCoreApplication::processEvents();  // the toolbar lays out again
  EXPECT_EQ(calibrator.tool(), Tool::exposure);
  EXPECT_TRUE(target->isVisible());
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
