// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The tray's panel against a real store over simulated cameras: its sections with and without a
// camera, the "menu" preview client while it is on screen (beside the window's), the update
// notice from a real updater reading a feed, closing by Escape and by a click outside, and where
// it goes beside the tray icon or the pointer.
#include "app/menu_bar_view.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include "app/menu_bar_feed.h"
#include "eventually.h"
#include "platform/video/gst_capture_backend.h"
#include "views/control_slider.h"
#include "views/preview_layer_view.h"
#include "views/preview_fixture.h"
#include "views/views_store_fixture.h"

namespace velto::app {
namespace {

using namespace std::chrono_literals;
using testing::eventually;
using testing::FeedServer;
using testing::updateOptions;

template <typename T = QWidget>
T* part(const QWidget& panel, const char* name) {
  return panel.findChild<T*>(QString::fromLatin1(name));
}

bool shown(const QWidget& panel, const char* name) {
  const QWidget* w = part(panel, name);
  return w && w->isVisibleTo(&panel);
}

class MenuBarViewTest : public testing::PreviewFixture {
 protected:
  ~MenuBarViewTest() override { panel.reset(); }
  void open(bool withCamera = true, std::optional<QUrl> feed = std::nullopt) {
    startStore(withCamera);
    updates = std::make_unique<SoftwareUpdate>(clock, defaults, updateOptions(feed));
    panel = std::make_unique<MenuBarView>(*store, *preview, *updates, defaults);
    panel->show();
    QCoreApplication::processEvents();
  }
  views::ControlSlider* slider(ControlID id) const {
    for (auto* s : panel->findChildren<views::ControlSlider*>()) {
      if (s->id() == id) return s;
    }
    return nullptr;
  }

  std::unique_ptr<SoftwareUpdate> updates;
  std::unique_ptr<MenuBarView> panel;
};

TEST_F(MenuBarViewTest, WithoutACameraOnlyTheHeaderDividerAndFooterShow) {
  open(false);
  EXPECT_EQ(part<QLabel>(*panel, "cameraName")->accessibleName(), "No camera connected");
  EXPECT_FALSE(shown(*panel, "resetCamera"));
  EXPECT_FALSE(shown(*panel, "cameraBody"));
  EXPECT_FALSE(preview->hasClient("menu")) << "no picture to ask for";
  EXPECT_FALSE(shown(*panel, "updateNotice"));
  EXPECT_FALSE(shown(*panel, "checkForUpdates")) << "updates are off in this build";
  EXPECT_TRUE(shown(*panel, "openWindow"));
  EXPECT_TRUE(shown(*panel, "quit"));
  EXPECT_EQ(panel->width(), MenuBarView::kWidth);

  QSignalSpy opened(panel.get(), &MenuBarView::openWindowRequested);
  QSignalSpy quit(panel.get(), &MenuBarView::quitRequested);
  part<QToolButton>(*panel, "quit")->click();
  EXPECT_EQ(quit.count(), 1);
  part<QToolButton>(*panel, "openWindow")->click();
  EXPECT_EQ(opened.count(), 1);
  EXPECT_FALSE(panel->isVisible()) << "the panel makes way for the window";
}

TEST_F(MenuBarViewTest, ACameraBringsItsPreviewTogglesAndSlidersAndPresetsFollowTheStore) {
  bus.plug(testing::withRange(sim::c200Profile(), ControlID::zoom, {100, 500, 1, 100}), "c200");
  open(false);
  store->rescan();
  settle();
  ASSERT_TRUE(store->isConnected());
  EXPECT_EQ(part<QLabel>(*panel, "cameraName")->accessibleName(), store->device()->name);
  EXPECT_TRUE(shown(*panel, "resetCamera"));
  EXPECT_FALSE(part<QToolButton>(*panel, "resetCamera")->accessibleName().isEmpty()) << "an icon-only button";
  EXPECT_TRUE(shown(*panel, "miniPreview"));
  EXPECT_EQ(panel->miniPreview()->size(), QSize(292, 164)) << "16:9 before the first statistics";
  EXPECT_TRUE(shown(*panel, "refocus"));
  EXPECT_FALSE(shown(*panel, "presets")) << "no presets, no section and no divider";

  // Zoom as a factor of the range's start.
  store->set(ControlID::zoom, 250);
  settle();
  EXPECT_EQ(slider(ControlID::zoom)->valueLabel()->text(), QStringLiteral("2.50×"));
  store->set(ControlID::zoom, 100);
  settle();
  EXPECT_EQ(slider(ControlID::zoom)->valueLabel()->text(), QStringLiteral("1.00×"));
  EXPECT_TRUE(slider(ControlID::whiteBalance)->valueLabel()->text().endsWith(" K"));

  store->savePreset("Meeting");
  store->set(ControlID::zoom, 300);
  store->savePreset("Wide");
  settle();
  ASSERT_TRUE(shown(*panel, "presets"));
  auto rows = panel->presetRows();
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0]->text(), "Meeting");
  EXPECT_FALSE(rows[0]->isChecked());
  EXPECT_TRUE(rows[1]->isChecked()) << "the camera's values are the last preset's";
  rows[0]->click();
  settle();
  rows = panel->presetRows();
  EXPECT_TRUE(rows[0]->isChecked());
  EXPECT_FALSE(rows[1]->isChecked());
  EXPECT_EQ(store->value(ControlID::zoom), 100);

  store->deletePresetAt(0);
  store->deletePresetAt(0);
  settle();
  EXPECT_FALSE(shown(*panel, "presets"));
}

TEST_F(MenuBarViewTest, ACameraWithoutAutoFocusHasNoRefocusButton) {
  bus.plug(sim::genericProfile(), "generic");
  open(false);
  store->rescan();
  settle();
  ASSERT_TRUE(store->device().has_value());
  ASSERT_FALSE(store->supports(ControlID::autoFocus));
  EXPECT_FALSE(shown(*panel, "refocus"));
  EXPECT_TRUE(shown(*panel, "miniPreview"));
}

TEST_F(MenuBarViewTest, TheMenuClientRunsWhileThePanelIsOnScreenBesideTheWindows) {
  open();
  EXPECT_TRUE(preview->hasClient("menu"));
  EXPECT_EQ(preview->state(), PreviewController::State::running);
  panel->hide();
  EXPECT_FALSE(preview->hasClient("menu"));
  EXPECT_EQ(preview->state(), PreviewController::State::idle) << "nobody else wanted the picture";

  preview->start("window", store->device()->locationID, store->device()->key);
  panel->show();
  QCoreApplication::processEvents();  // access is asked for from the event loop
  EXPECT_TRUE(preview->hasClient("menu"));
  panel->hide();
  EXPECT_FALSE(preview->hasClient("menu"));
  EXPECT_TRUE(preview->hasClient("window"));
  EXPECT_EQ(preview->state(), PreviewController::State::running);
  EXPECT_TRUE(capture->running) << "the window keeps its picture";
  preview->stop("window");
}

TEST_F(MenuBarViewTest, ACameraThatVanishesUnderTheOpenPanelLeavesAClearPanelAndNoClient) {
  open();
  ASSERT_TRUE(preview->hasClient("menu"));
  bus.command("c200", "unplug");
  store->rescan();
  settle();
  EXPECT_FALSE(preview->hasClient("menu"));
  EXPECT_EQ(part<QLabel>(*panel, "cameraName")->accessibleName(), "No camera connected");
  EXPECT_FALSE(shown(*panel, "cameraBody"));
  EXPECT_TRUE(panel->isVisible());

  bus.command("c200", "plug");
  store->rescan();
  settle();
  EXPECT_TRUE(preview->hasClient("menu")) << "back on screen with the camera";
}

TEST_F(MenuBarViewTest, TheMiniPreviewTakesThePicturesAspectAndSaysWhenAccessIsDenied) {
  open();
  frames(Frame::filled(640, 480, 640 * 4, 128));
  EXPECT_EQ(panel->miniPreview()->size(), QSize(292, 219));
  EXPECT_TRUE(panel->miniPreview()->placeholderText().isEmpty());
  EXPECT_TRUE(panel->miniPreview()->layer().isMirrored()) << "mirrored unless the window's switch says otherwise";

  panel->hide();
  defaults.setBoolean("overlay.mirror", false);
  capture->denied = true;
  panel->show();
  QCoreApplication::processEvents();
  EXPECT_EQ(preview->state(), PreviewController::State::unauthorized);
  EXPECT_EQ(panel->miniPreview()->placeholderText(), "Camera access needed for preview");
  EXPECT_FALSE(panel->miniPreview()->layer().isMirrored());
}

TEST_F(MenuBarViewTest, APendingUpdateReplacesCheckForUpdatesWithTheNotice) {
  FeedServer feed(testing::appcastOffering("2.0"));
  open(true, feed.url());
  EXPECT_TRUE(shown(*panel, "checkForUpdates"));
  EXPECT_FALSE(shown(*panel, "updateNotice"));

  clock.advance(0s);  // the first background check
  ASSERT_TRUE(eventually([&] { return updates->pendingVersion().has_value(); }));
  EXPECT_TRUE(shown(*panel, "updateNotice"));
  EXPECT_EQ(part<QToolButton>(*panel, "updateNotice")->text(), "Update Available: Version 2.0");
  EXPECT_FALSE(shown(*panel, "checkForUpdates"));

  QSignalSpy check(panel.get(), &MenuBarView::checkForUpdatesRequested);
  part<QToolButton>(*panel, "updateNotice")->click();
  EXPECT_EQ(check.count(), 1);
  updates->checkForUpdates();  // what the shell does with it: the update is shown, no longer pending
  EXPECT_FALSE(shown(*panel, "updateNotice"));
  EXPECT_TRUE(shown(*panel, "checkForUpdates"));
}

TEST_F(MenuBarViewTest, EscapeOrAClickOutsideClosesThePanelAndLetsThePictureGo) {
  open();
  panel->activateWindow();
  QTest::keyClick(panel.get(), Qt::Key_Escape);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_FALSE(preview->hasClient("menu"));

  panel->show();
  ASSERT_EQ(QApplication::activePopupWidget(), panel.get());
  QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(-20, panel->height() / 2));
  EXPECT_FALSE(panel->isVisible());
  EXPECT_FALSE(preview->hasClient("menu"));
}

// Where the compositor places the panel (Wayland) no popup grab closes it on a click outside:
// another window taking the keyboard does.
TEST_F(MenuBarViewTest, PlacedByTheCompositorItClosesWhenAnotherWindowBecomesActive) {
  startStore();
  updates = std::make_unique<SoftwareUpdate>(clock, defaults, updateOptions(std::nullopt));
  panel = std::make_unique<MenuBarView>(*store, *preview, *updates, defaults, nullptr, PanelPlacement::byCompositor);
  EXPECT_EQ(panel->windowType(), Qt::Tool) << "a window of its own, not a popup";
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(eventually([&] { return other.isActiveWindow(); }));

  panel->popUp(QRect(700, 4, 24, 24));
  ASSERT_TRUE(eventually([&] { return panel->isActiveWindow(); })) << "it asks for the keyboard";
  EXPECT_TRUE(preview->hasClient("menu"));
  other.activateWindow();
  ASSERT_TRUE(eventually([&] { return !panel->isVisible(); }));
  EXPECT_FALSE(preview->hasClient("menu"));

  panel->popUp(std::nullopt);
  ASSERT_TRUE(eventually([&] { return panel->isActiveWindow(); }));
  QTest::keyClick(panel.get(), Qt::Key_Escape);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_FALSE(other.isHidden()) << "only the panel closes";
}

// The real capture path: the simulated C200 streaming through GStreamer into the mini preview.
TEST(MenuBarViewSession, TheMiniPreviewPaintsTheCamerasFramesWhileOpen) {
  ManualClock clock;
  testing::SimBus bus{clock};
  bus.plug(sim::c200Profile(), "c200");
  UserDefaults defaults{bus.path("velto-camera.conf")};
  LoginItem login{"velto-camera", bus.path("autostart")};
  CameraStore store(clock, defaults, login, testing::storeOptions(bus));
  testing::settle(store);
  video::GstCaptureOptions options;
  options.sysfsRoot.clear();
  options.simDirectory = bus.directory();
  options.watchDevices = false;
  PreviewController preview(clock, std::make_unique<video::GstCaptureBackend>(options), [] {});
  SoftwareUpdate updates(clock, defaults, updateOptions(std::nullopt));
  MenuBarView panel(store, preview, updates, defaults);
  panel.show();
  ASSERT_TRUE(eventually([&] { return panel.miniPreview()->layer().framesPainted() > 2; }));
  EXPECT_EQ(panel.miniPreview()->size(), QSize(292, 164)) << "1280 x 720";
  panel.hide();
  EXPECT_EQ(preview.state(), PreviewController::State::idle);
}

// --- Placement -----------------------------------------------------------------------------------

const QRect kWork(0, 32, 1920, 1048);  // a 1920 x 1080 screen under a 32 px top bar
const QSize kPanel(320, 600);

TEST(PanelPosition, BesideTheIconOnEachEdgeAndAlwaysOnTheScreen) {
  // Top bar, icon near the right end: below it, pulled in from the edge.
  EXPECT_EQ(panelPosition(QRect(1880, 4, 24, 24), {}, kPanel, kWork), QPoint(1600, 32));
  // Top bar, icon in the middle: centred under it.
  EXPECT_EQ(panelPosition(QRect(949, 4, 24, 24), {}, kPanel, kWork), QPoint(800, 32));
  // Bottom bar: above the icon.
  const QRect bottomWork(0, 0, 1920, 1040);
  EXPECT_EQ(panelPosition(QRect(20, 1048, 24, 24), {}, kPanel, bottomWork), QPoint(0, 1040 - 600))
      << "above the icon, and above the bar it sits on";
  // Vertical bars: beside the icon, level with it as far as the screen allows.
  const QRect leftWork(48, 0, 1872, 1080);
  EXPECT_EQ(panelPosition(QRect(12, 500, 24, 24), {}, kPanel, leftWork), QPoint(48, 211));
  const QRect rightWork(0, 0, 1872, 1080);
  EXPECT_EQ(panelPosition(QRect(1884, 1040, 24, 24), {}, kPanel, rightWork), QPoint(1872 - 320, 480));
}

TEST(PanelPosition, AtThePointerWhenTheIconsPlaceIsUnknown) {
  EXPECT_EQ(panelPosition(std::nullopt, QPoint(700, 100), kPanel, kWork), QPoint(540, 105));
  EXPECT_EQ(panelPosition(QRect(), QPoint(700, 100), kPanel, kWork), QPoint(540, 105)) << "an empty geometry";
  // Near the bottom right corner: above the pointer, inside the screen.
  EXPECT_EQ(panelPosition(std::nullopt, QPoint(1915, 1075), kPanel, kWork), QPoint(1600, 1075 - 4 - 600));
  // A panel taller than the screen keeps its top on it.
  EXPECT_EQ(panelPosition(std::nullopt, QPoint(10, 1000), QSize(320, 2000), kWork).y(), 32);
}

TEST(PanelPosition, TheCompositorPlacesItOnWaylandOnly) {
  EXPECT_EQ(panelPlacement(u"wayland"), PanelPlacement::byCompositor);
  EXPECT_EQ(panelPlacement(u"wayland-egl"), PanelPlacement::byCompositor);
  EXPECT_EQ(panelPlacement(u"xcb"), PanelPlacement::besideIcon);
  EXPECT_EQ(panelPlacement(u"offscreen"), PanelPlacement::besideIcon);
}

TEST(MiniPreviewSize, FollowsThePicturesAspectWithinSaneBounds) {
  EXPECT_EQ(miniPreviewSize(std::nullopt), QSize(292, 164));
  EXPECT_EQ(miniPreviewSize(QSizeF(640, 480)), QSize(292, 219));
  EXPECT_EQ(miniPreviewSize(QSizeF(0, 480)), QSize(292, 164)) << "no width: 16:9";
  EXPECT_EQ(miniPreviewSize(QSizeF(640, 0)), QSize(292, 164));
  EXPECT_EQ(miniPreviewSize(QSizeF(1, 1000)), QSize(292, 584)) << "held at 1:2";
  EXPECT_EQ(miniPreviewSize(QSizeF(1000, 1)), QSize(292, 73)) << "held at 4:1";
}

}  // namespace
}  // namespace velto::app
