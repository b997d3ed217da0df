// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The control rows against a real store and a simulated camera: the slider mapping, auto-mode
// greying and its reset menu, which power line codes are offered, and rows that vanish.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QAbstractButton>
#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

#include "capture/exposure_format.h"
#include "views/auto_toggle.h"
#include "views/control_slider.h"
#include "views/flag_toggle.h"
#include "views/option_picker.h"
#include "views/power_line_picker.h"
#include "views/wheel_guard.h"
#include "views_store_fixture.h"

namespace velto::views {
namespace {

using testing::withRange;

TEST(SliderMapping, LogAndLinearMidpointsAndALogRangeFromZero) {
  const ControlRange wide{1, 10000, 1, 1};
  EXPECT_EQ(ControlSlider::valueAt(wide, true, 0.5), 100);
  EXPECT_EQ(ControlSlider::valueAt(wide, false, 0.5), 5001);  // 5000.5, half away from zero
  EXPECT_NEAR(ControlSlider::fraction(wide, true, 100), 0.5, 1e-12);
  EXPECT_GT(ControlSlider::fraction(wide, false, 20000), 1.0);  // outside the range stays outside

  const ControlRange fromZero{0, 100, 1, 0};
  EXPECT_EQ(ControlSlider::valueAt(fromZero, true, 0.25), 25);
  EXPECT_DOUBLE_EQ(ControlSlider::fraction(fromZero, true, 50), 0.5);

  const ControlRange stepped{0, 100, 10, 0};
  EXPECT_EQ(ControlSlider::valueAt(stepped, false, 0.37), 40);  // snapped by the range
}

// A wheel turned over a control the user has not focused scrolls the form; once focused (click or
// Tab), the control takes it.
TEST(WheelGuard, AnUnfocusedControlPassesTheWheelToTheScrollingForm) {
  QScrollArea area;
  auto* form = new QWidget;
  auto* column = new QVBoxLayout(form);
  auto* elsewhere = new QSlider(Qt::Horizontal);  // where the focus is
  column->addWidget(elsewhere);
  auto* slider = new QSlider(Qt::Horizontal);
  slider->setRange(0, 100);
  slider->setValue(50);
  takeWheelOnlyWithFocus(slider);
  column->addWidget(slider);
  column->addSpacing(2000);
  area.setWidgetResizable(true);
  area.setWidget(form);
  area.resize(300, 200);
  area.show();
  area.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&area));
  elsewhere->setFocus();

  auto wheel = [&](int degrees) {
    const QPointF at = QPointF(slider->rect().center());
    QWheelEvent event(at, slider->mapToGlobal(at), QPoint(), QPoint(0, degrees * 8), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    // As from the window system: only such a wheel event travels on to the parents.
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(slider, &event);
  };
  wheel(-15);
  EXPECT_EQ(slider->value(), 50);
  EXPECT_GT(area.verticalScrollBar()->value(), 0) << "the form scrolled instead";
  EXPECT_EQ(slider->focusPolicy(), Qt::StrongFocus) << "the wheel alone never gives it focus";

  area.verticalScrollBar()->setValue(0);
  slider->setFocus(Qt::MouseFocusReason);
  wheel(-15);
  EXPECT_NE(slider->value(), 50);
  EXPECT_EQ(area.verticalScrollBar()->value(), 0);
}

class ControlRowsTest : public testing::ViewsTest {};

TEST_F(ControlRowsTest, DraggingWritesEachNewValueAndNothingForTheSameOne) {
  start({withRange(sim::genericProfile(), ControlID::exposure, {1, 10000, 1, 250})});
  store->setAuto(ControlID::autoExposure, false);
  settle();
  ControlSlider log(*store, ControlID::exposure, true, &ExposureFormat::string);
  ControlSlider linear(*store, ControlID::brightness);

  QSlider* s = log.slider();
  s->setSliderDown(true);
  s->setValue(s->maximum() / 2);
  EXPECT_EQ(store->value(ControlID::exposure), 100);
  EXPECT_EQ(log.valueLabel()->text(), ExposureFormat::string(100));
  s->setValue(s->maximum());
  EXPECT_EQ(store->value(ControlID::exposure), 10000);  // while still held: no waiting for release
  s->setSliderDown(false);
  settle();
  EXPECT_EQ(bus.state("cam0").at("exposure"), 10000);

  // Positions 0 and 1 of the log slider both stand for 1: the second writes nothing.
  s->setValue(0);
  settle();
  const std::size_t writes = bus.setRequests("cam0", 1, 0x04).size();
  ASSERT_EQ(bus.state("cam0").at("exposure"), 1);
  s->setValue(1);
  settle();
  EXPECT_EQ(bus.setRequests("cam0", 1, 0x04).size(), writes);

  // Arrow keys move a linear slider one step of the control.
  linear.slider()->setFocus();
  const std::int64_t b = store->value(ControlID::brightness);
  linear.slider()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(store->value(ControlID::brightness), b + 1);
}

TEST_F(ControlRowsTest, ExposureIsGreyedOnlyForAutoModesTwoAndEight) {
  // A camera offering all four auto-exposure modes.
  start({withRange(sim::c200Profile(), ControlID::autoExposure, {1, 8, 0x0F, 2}, {1, 2, 4, 8})});
  ControlSlider row(*store, ControlID::exposure, true, &ExposureFormat::string);
  QWidget* body = row.slider()->parentWidget();
  for (std::int64_t mode : {1, 2, 4, 8}) {
    store->set(ControlID::autoExposure, mode);
    settle();
    ASSERT_EQ(store->value(ControlID::autoExposure), mode);
    const bool greyed = mode == 2 || mode == 8;
    EXPECT_EQ(!body->isEnabled(), greyed) << "mode " << mode;
    const QString text = ExposureFormat::string(store->value(ControlID::exposure));
    EXPECT_EQ(row.valueLabel()->text(), greyed ? QStringLiteral("Auto · ") + text : text) << "mode " << mode;
    EXPECT_TRUE(row.isEnabled()) << "the context menu stays reachable";
  }

  // Greyed, the reset still works.
  store->set(ControlID::autoExposure, 2);
  store->set(ControlID::exposure, 40);
  settle();
  const ControlRange range = store->ranges().at(ControlID::exposure);
  EXPECT_EQ(row.resetAction()->text(), QStringLiteral("Reset to Default (%1)").arg(ExposureFormat::string(range.defaultValue)));
  ASSERT_TRUE(row.actions().contains(row.resetAction()));
  row.resetAction()->trigger();
  EXPECT_EQ(store->value(ControlID::exposure), range.defaultValue);
}

TEST_F(ControlRowsTest, PowerLineOffersOnlyTheCodesOfTheRange) {
  start({sim::c200Profile(), withRange(sim::genericProfile(), ControlID::powerLineFrequency, {1, 2, 1, 1})});
  auto offered = [&] {
    PowerLinePicker picker(*store);
    QStringList labels;
    for (int i = 0; i < picker.comboBox()->count(); ++i) labels << picker.comboBox()->itemText(i);
    return labels;
  };
  EXPECT_EQ(offered(), (QStringList{"Off", "50 Hz", "60 Hz"}));

  store->setPreferredCamera(CameraKey{0x0C45, 0x6366});
  settle();
  EXPECT_EQ(offered(), (QStringList{"50 Hz", "60 Hz"}));
  PowerLinePicker picker(*store);
  picker.comboBox()->setCurrentIndex(1);
  emit picker.comboBox()->activated(1);
  EXPECT_EQ(store->value(ControlID::powerLineFrequency), 2);
}

TEST_F(ControlRowsTest, RowsVanishForUnsupportedControlsDegenerateRangesAndOnUnplug) {
  start({withRange(sim::c200Profile(), ControlID::focus, {500, 500, 1, 500})});
  ControlSlider flat(*store, ControlID::focus);
  ControlSlider gain(*store, ControlID::gain);  // the C200 has none
  ControlSlider zoom(*store, ControlID::zoom);
  AutoToggle notAuto(*store, ControlID::brightness);
  FlagToggle flip(*store, ControlID::horizontalFlip, QStringLiteral("Mirrors"));
  OptionPicker mic(*store, ControlID::micPickup, {{0, "360°"}, {90, "90°"}});
  OptionPicker unnamed(*store, ControlID::micPickup, {{1, "one"}, {2, "two"}});
  EXPECT_TRUE(flat.isHidden());
  EXPECT_TRUE(gain.isHidden());
  EXPECT_FALSE(zoom.isHidden());
  flat.slider()->setValue(3);  // no range to map through: nothing happens

  store->set(ControlID::brightness, 5);
  EXPECT_FALSE(notAuto.isChecked());  // only the three auto modes read on

  flip.checkBox()->click();
  EXPECT_EQ(store->value(ControlID::horizontalFlip), 1);
  mic.segment(0)->click();
  EXPECT_EQ(store->value(ControlID::micPickup), 0);
  EXPECT_TRUE(mic.segment(0)->isChecked());
  // A value no option names checks no segment.
  EXPECT_FALSE(unnamed.segment(0)->isChecked() || unnamed.segment(1)->isChecked());

  // A screen reader's toggle action flips a box without a click: the camera follows all the same.
  AutoToggle focus(*store, ControlID::autoFocus);
  const bool focusWasAuto = focus.isChecked();
  focus.toggle();
  EXPECT_EQ(AutoToggle::isOn(ControlID::autoFocus, store->value(ControlID::autoFocus)), !focusWasAuto);
  flip.checkBox()->toggle();
  EXPECT_EQ(store->value(ControlID::horizontalFlip), 0);

  unplug("cam0");
  for (QWidget* row : std::initializer_list<QWidget*>{&zoom, &notAuto, &flip, &mic}) EXPECT_TRUE(row->isHidden());
}

}  // namespace
}  // namespace velto::views
