// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The framing pad: its geometry as pure functions, and the widget against a real store over a
// simulated C200 (zoom 100…400, pan and tilt ±36000 in steps of 3600).
#include "views/framing_pad.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "store_fixture.h"

namespace velto::views {
namespace {

using namespace framing;

constexpr ControlRange kAxis{-36000, 36000, 3600, 0};

TEST(FramingGeometry, ZoomFactorAndNormalisedPositionsTolerateBadRanges) {
  EXPECT_DOUBLE_EQ(zoomFactor(std::nullopt, 300), 1.0);
  EXPECT_DOUBLE_EQ(zoomFactor(ControlRange{0, 400, 1, 0}, 300), 1.0);    // min at 0
  EXPECT_DOUBLE_EQ(zoomFactor(ControlRange{100, 400, 1, 100}, 50), 1.0);  // below min
  EXPECT_DOUBLE_EQ(zoomFactor(ControlRange{100, 400, 1, 100}, 200), 2.0);

  EXPECT_DOUBLE_EQ(normalized(kAxis, -36000), -1.0);
  EXPECT_DOUBLE_EQ(normalized(kAxis, 72000), 2.0);  // not limited
  EXPECT_DOUBLE_EQ(normalized(ControlRange{5, 5, 1, 5}, 9), 0.0);
  EXPECT_DOUBLE_EQ(normalized(ControlRange{9, 2, 1, 5}, 9), 0.0);
  EXPECT_DOUBLE_EQ(normalized(std::nullopt, 9), 0.0);
}

TEST(FramingGeometry, PadIsSixteenByNineAndTheViewportMovesInsideIt) {
  EXPECT_EQ(padRect(QRectF(0, 0, 400, 180)), QRectF(40, 0, 320, 180));
  EXPECT_EQ(padRect(QRectF(0, 0, 320, 300)), QRectF(0, 60, 320, 180));
  EXPECT_TRUE(padRect(QRectF(0, 0, 0, 50)).isEmpty());

  const QSizeF pad(320, 180);
  EXPECT_EQ(viewportRect(pad, 1.0, 1, -1), QRectF(0, 0, 320, 180));  // nowhere to go
  EXPECT_EQ(viewportRect(pad, 2.0, 1, 1), QRectF(160, 0, 160, 90));  // pan right, tilt up
  EXPECT_EQ(viewportRect(pad, 2.0, -1, -1), QRectF(0, 90, 160, 90));
}

TEST(FramingGeometry, PointerPositionsAreLimitedToThePadsTravel) {
  const QSizeF pad(320, 180), view(160, 90);
  EXPECT_EQ(positionAt({240, 45}, pad, view), std::make_pair(1.0, 1.0));
  EXPECT_EQ(positionAt({0, 180}, pad, view), std::make_pair(-1.0, -1.0));  // -2, -2 limited
  EXPECT_EQ(positionAt({200, 67.5}, pad, view), std::make_pair(0.5, 0.5));
  EXPECT_EQ(positionAt({1e9, -1e9}, pad, view), std::make_pair(1.0, 1.0));
  EXPECT_EQ(positionAt({5, 5}, pad, pad), std::make_pair(0.0, 0.0));  // zoom 1: both gaps 0
}

TEST(FramingGeometry, TargetsAreRoundedAwayFromZeroClampedAndSnappedInsideTheRange) {
  EXPECT_EQ(targetValue(kAxis, 1.0), 36000);
  EXPECT_EQ(targetValue(kAxis, -1.0), -36000);
  EXPECT_EQ(targetValue(kAxis, 0.26), 10800);  // 9360 onto the grid from -36000
  EXPECT_EQ(targetValue(ControlRange{-3, 0, 1, 0}, 0), -2);  // -1.5: away from zero
  EXPECT_EQ(targetValue(ControlRange{0, 10, 4, 0}, 1), 8);   // 12 would leave the range
  EXPECT_EQ(targetValue(ControlRange{5, 5, 1, 5}, 0.7), 5);
}

TEST(FramingGeometry, WritesOnlySupportedAxesWithRangesAndOnlyWhenTheValueChanges) {
  // Pan alone; tilt supported but without a range is never written.
  auto w = writes({{ControlID::pan, kAxis, 0}}, 1, 1);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], std::make_pair(ControlID::pan, std::int64_t{36000}));
  EXPECT_TRUE(writes({{ControlID::tilt, std::nullopt, 0}}, 1, 1).empty());

  // Back and forth within one step: the first write, then nothing.
  w = writes({{ControlID::tilt, kAxis, 0}, {ControlID::pan, kAxis, 0}}, 0.06, -0.06);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], std::make_pair(ControlID::pan, std::int64_t{3600}));  // pan first
  EXPECT_EQ(w[1], std::make_pair(ControlID::tilt, std::int64_t{-3600}));
  for (double n : {0.055, 0.09, 0.06}) {
    EXPECT_TRUE(writes({{ControlID::pan, kAxis, 3600}, {ControlID::tilt, kAxis, -3600}}, n, -n).empty()) << n;
  }
}

class FramingPadTest : public ::testing::Test {
 protected:
  void start(sim::Profile profile) {
    bus.plug(std::move(profile), "cam");
    store = std::make_unique<CameraStore>(clock, defaults, login, testing::storeOptions(bus));
    testing::settle(*store);
    pad = std::make_unique<FramingPad>(*store);
    pad->resize(320, 180);
  }
  std::int64_t camera(const std::string& name) {
    testing::settle(*store);
    return bus.state("cam").at(name);
  }

  ManualClock clock;
  testing::SimBus bus{clock};
  UserDefaults defaults{bus.path("velto-camera.conf")};
  LoginItem login{"velto-camera", bus.path("autostart")};
  std::unique_ptr<CameraStore> store;
  std::unique_ptr<FramingPad> pad;
};

TEST_F(FramingPadTest, ClicksAndDragsAtZoomTwoReachTheCamerasLimits) {
  start(sim::c200Profile());
  ASSERT_TRUE(pad->isAvailable());
  store->set(ControlID::zoom, 200);
  EXPECT_EQ(pad->viewportArea(), QRectF(80, 45, 160, 90));  // the store's change redraws

  QTest::mouseClick(pad.get(), Qt::LeftButton, {}, QPoint(240, 45));
  EXPECT_EQ(store->value(ControlID::pan), 36000);
  EXPECT_EQ(store->value(ControlID::tilt), 36000);
  EXPECT_EQ(pad->viewportArea(), QRectF(160, 0, 160, 90));
  EXPECT_EQ(camera("pan"), 36000);
  EXPECT_EQ(camera("tilt"), 36000);

  // A drag that leaves the pad stops at its edges.
  QTest::mousePress(pad.get(), Qt::LeftButton, {}, QPoint(160, 90));
  QTest::mouseMove(pad.get(), QPoint(-4000, 9000));
  QTest::mouseRelease(pad.get(), Qt::LeftButton, {}, QPoint(-4000, 9000));
  EXPECT_EQ(store->value(ControlID::pan), -36000);
  EXPECT_EQ(store->value(ControlID::tilt), -36000);

  // The keyboard moves one step of this camera's travel; Home centres.
  pad->setFocus();
  QTest::keyClick(pad.get(), Qt::Key_Right);
  QTest::keyClick(pad.get(), Qt::Key_Up);
  EXPECT_EQ(store->value(ControlID::pan), -32400);
  EXPECT_EQ(store->value(ControlID::tilt), -32400);
  QTest::keyClick(pad.get(), Qt::Key_Home);
  EXPECT_EQ(camera("pan"), 0);
  EXPECT_EQ(camera("tilt"), 0);
}

TEST_F(FramingPadTest, AtZoomOneTheViewFillsThePadAndAClickRecentres) {
  start(sim::c200Profile());
  store->set({{ControlID::pan, 18000}, {ControlID::tilt, -7200}});
  EXPECT_EQ(pad->viewportArea(), pad->padArea());
  QTest::mouseClick(pad.get(), Qt::LeftButton, {}, QPoint(300, 10));
  EXPECT_EQ(store->value(ControlID::pan), 0);
  EXPECT_EQ(store->value(ControlID::tilt), 0);
  QTest::keyClick(pad.get(), Qt::Key_Left);  // nothing to move at zoom 1
  EXPECT_EQ(store->value(ControlID::pan), 0);
}

TEST_F(FramingPadTest, WithoutPanAndTiltOrOnceTheCameraIsGoneThePadIsAbsentAndWritesNothing) {
  start(sim::genericProfile());
  QWidget form;
  auto* inForm = new FramingPad(*store, &form);
  EXPECT_FALSE(pad->isAvailable());
  EXPECT_TRUE(inForm->isHidden());
  QImage image(pad->size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  pad->render(&image, {}, {}, QWidget::RenderFlags());
  EXPECT_EQ(image, [&] { QImage blank(image.size(), image.format()); blank.fill(Qt::transparent); return blank; }());
  const ControlValues before = store->values();
  QTest::mouseClick(pad.get(), Qt::LeftButton, {}, QPoint(240, 45));
  EXPECT_EQ(store->values(), before);
}

TEST_F(FramingPadTest, ADragDoesNotCarryOverToACameraFoundAgain) {
  start(sim::c200Profile());
  store->set(ControlID::zoom, 200);
  QTest::mousePress(pad.get(), Qt::LeftButton, {}, QPoint(240, 45));
  ASSERT_EQ(store->value(ControlID::pan), 36000);

  bus.command("cam", "unplug");
  store->rescan();
  clock.advance(std::chrono::seconds(2));
  testing::settle(*store);
  ASSERT_FALSE(store->device());
  EXPECT_FALSE(pad->isAvailable());
  QTest::mouseMove(pad.get(), QPoint(10, 170));  // nothing to write to, and no crash

  bus.command("cam", "plug");
  store->rescan();
  clock.advance(std::chrono::seconds(2));
  testing::settle(*store);
  ASSERT_TRUE(pad->isAvailable());
  QTest::mouseMove(pad.get(), QPoint(10, 170));  // the button went down on the camera before
  EXPECT_EQ(camera("pan"), 36000);
  EXPECT_EQ(camera("tilt"), 36000);
}

}  // namespace
}  // namespace velto::views
