// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/control_slider.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "model/camera_store.h"
#include "model/preset.h"
#include "views/control_title.h"
#include "views/look.h"
#include "views/value_viewer.h"
#include "views/wheel_guard.h"

namespace velto::views {
namespace {

// Positions of a log slider, and the most a linear slider gets: fine enough that a drag reaches
// every value a person can aim for, coarse enough that one arrow press is a visible change.
constexpr int kFinePositions = 10000;

// The usable range of `id`, or null: absent, or min not below max.
const ControlRange* sliderRange(const CameraStore& store, ControlID id) {
  if (!store.supports(id)) return nullptr;
  auto it = store.ranges().find(id);
  if (it == store.ranges().end() || it->second.min >= it->second.max) return nullptr;
  return &it->second;
}

bool isLog(const ControlRange& range, bool logScale) { return logScale && range.min > 0; }

// How many slider positions span the range: one per step of a linear range when that is few
// enough, so that each arrow press is one step and a drag can land on every value.
int positionCount(const ControlRange& range, bool logScale) {
  if (isLog(range, logScale)) return kFinePositions;
  const double span = static_cast<double>(range.max) - static_cast<double>(range.min);
  const double steps = std::ceil(span / static_cast<double>(std::max<std::int64_t>(range.step, 1)));
  return static_cast<int>(std::clamp(steps, 1.0, double(kFinePositions)));
}

}  // namespace

QString plainFormat(std::int64_t value) { return QString::number(value); }

bool governedByAuto(const CameraStore& store, ControlID id) {
  const auto autoControl = governingControl(id);
  return autoControl && store.supports(*autoControl) && isAutoOn(*autoControl, store.value(*autoControl));
}

double ControlSlider::fraction(const ControlRange& range, bool logScale, std::int64_t value) {
  const double min = static_cast<double>(range.min), max = static_cast<double>(range.max);
  if (max <= min) return 0;
  if (isLog(range, logScale)) {
    // A value of 0 or below has no logarithm: it sits at the start.
    if (value <= 0) return 0;
    return (std::log(static_cast<double>(value)) - std::log(min)) / (std::log(max) - std::log(min));
  }
  return (static_cast<double>(value) - min) / (max - min);
}

std::int64_t ControlSlider::valueAt(const ControlRange& range, bool logScale, double fraction) {
  const double min = static_cast<double>(range.min), max = static_cast<double>(range.max);
  if (!std::isfinite(fraction)) fraction = 0;
  double x = isLog(range, logScale) ? std::exp(std::log(min) + (std::log(max) - std::log(min)) * fraction)
                                    : min + (max - min) * fraction;
  // std::round takes halves away from zero; the bounds keep the conversion defined.
  x = std::clamp(std::round(x), -9.0e18, 9.0e18);
  return range.clamp(static_cast<std::int64_t>(x));
}

ControlSlider::ControlSlider(CameraStore& store, ControlID id, bool logScale, ValueFormat format, QWidget* parent)
    : QWidget(parent), store_(store), id_(id), logScale_(logScale), format_(format ? std::move(format) : plainFormat) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  body_ = new QWidget(this);
  outer->addWidget(body_);

  auto* column = new QVBoxLayout(body_);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  auto* line = new QHBoxLayout;
  title_ = new QLabel(controlTitle(id), body_);
  value_ = new QLabel(body_);
  value_->setFont(valueFont(value_->font()));
  value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  value_->setForegroundRole(QPalette::PlaceholderText);  // the palette's secondary text
  line->addWidget(title_);
  line->addStretch(1);
  line->addWidget(value_);
  column->addLayout(line);

  slider_ = new QSlider(Qt::Horizontal, body_);
  slider_->setAccessibleName(title_->text());
  takeWheelOnlyWithFocus(slider_);
  useSmallControlSize(slider_);
  title_->setBuddy(slider_);
  column->addWidget(slider_);

  // On the row, outside the part that greys: reachable while the auto mode holds the control.
  reset_ = new QAction(this);
  addAction(reset_);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(reset_, &QAction::triggered, this, [this] { store_.resetToDefaults(std::vector<ControlID>{id_}); });

  connect(slider_, &QSlider::valueChanged, this, &ControlSlider::positionMoved);
  connect(&store_, &CameraStore::deviceChanged, this, &ControlSlider::render);
  connect(&store_, &CameraStore::rangesChanged, this, &ControlSlider::render);
  connect(&store_, &CameraStore::valuesChanged, this, &ControlSlider::render);
  connect(&store_, &CameraStore::resettingChanged, this, &ControlSlider::render);
  render();
}

double ControlSlider::positionFraction(int position) const {
  return slider_->maximum() > 0 ? double(position) / double(slider_->maximum()) : 0;
}

void ControlSlider::render() {
  if (holdWhileAway(*this, store_)) return;
  const ControlRange* range = sliderRange(store_, id_);
  setVisible(range != nullptr);
  if (!range) return;

  const std::int64_t value = store_.value(id_);
  const bool governed = governedByAuto(store_, id_);
  value_->setText(governed ? tr("Auto · %1").arg(format_(value)) : format_(value));
  body_->setEnabled(!governed);
  reset_->setText(tr("Reset to Default (%1)").arg(format_(range->defaultValue)));

  rendering_ = true;
  const int positions = positionCount(*range, logScale_);
  if (slider_->maximum() != positions) {
    slider_->setRange(0, positions);
    slider_->setPageStep(std::max(1, positions / 10));
  }
  // The thumb stays where the user holds it as long as that position stands for the shown value;
  // otherwise (a change from elsewhere, a clamp) it moves to the value.
  if (valueAt(*range, logScale_, positionFraction(slider_->value())) != value) {
    const double f = std::clamp(fraction(*range, logScale_, value), 0.0, 1.0);
    slider_->setValue(static_cast<int>(std::lround(f * positions)));
  }
  rendering_ = false;
}

void ControlSlider::positionMoved(int position) {
  if (rendering_) return;
  const ControlRange* range = sliderRange(store_, id_);
  if (!range || governedByAuto(store_, id_)) return;
  const std::int64_t value = valueAt(*range, logScale_, positionFraction(position));
  if (value != store_.value(id_)) store_.set(id_, value);
}

}  // namespace velto::views
