// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/power_line_picker.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>
#include <array>

#include "model/camera_store.h"
#include "views/control_title.h"
#include "views/value_viewer.h"
#include "views/wheel_guard.h"

namespace velto::views {
namespace {

struct PowerLineOption {
  std::int64_t value;  // the UVC power line frequency code
  const char* label;
};
constexpr std::array<PowerLineOption, 4> kOptions{{{0, QT_TRANSLATE_NOOP("velto::views::PowerLinePicker", "Off")},
                                                   {1, QT_TRANSLATE_NOOP("velto::views::PowerLinePicker", "50 Hz")},
                                                   {2, QT_TRANSLATE_NOOP("velto::views::PowerLinePicker", "60 Hz")},
                                                   {3, QT_TRANSLATE_NOOP("velto::views::PowerLinePicker", "Auto")}}};

}  // namespace

PowerLinePicker::PowerLinePicker(CameraStore& store, QWidget* parent) : QWidget(parent), store_(store) {
  auto* line = new QHBoxLayout(this);
  line->setContentsMargins(0, 0, 0, 0);
  title_ = new QLabel(controlTitle(ControlID::powerLineFrequency), this);
  combo_ = new QComboBox(this);
  combo_->setAccessibleName(title_->text());
  takeWheelOnlyWithFocus(combo_);
  title_->setBuddy(combo_);
  line->addWidget(title_);
  line->addStretch(1);
  line->addWidget(combo_);
  setToolTip(tr("Match your mains frequency (60 Hz in North America) to stop banding under artificial light"));

  connect(combo_, &QComboBox::activated, this, [this](int index) {
    store_.set(ControlID::powerLineFrequency, combo_->itemData(index).toLongLong());
    render();
  });
  connect(&store_, &CameraStore::deviceChanged, this, &PowerLinePicker::render);
  connect(&store_, &CameraStore::rangesChanged, this, &PowerLinePicker::render);
  connect(&store_, &CameraStore::valuesChanged, this, &PowerLinePicker::render);
  connect(&store_, &CameraStore::resettingChanged, this, &PowerLinePicker::render);
  render();
}

void PowerLinePicker::render() {
  if (holdWhileAway(*this, store_)) return;
  const auto it = store_.ranges().find(ControlID::powerLineFrequency);
  const bool shown = store_.supports(ControlID::powerLineFrequency) && it != store_.ranges().end();
  setVisible(shown);
  if (!shown) return;

  // The codes the range admits; a range given upside down counts up to its min.
  const std::int64_t lo = it->second.min, hi = std::max(it->second.min, it->second.max);
  QList<std::int64_t> kept;
  for (const PowerLineOption& option : kOptions) {
    if (option.value >= lo && option.value <= hi) kept.append(option.value);
  }
  QList<std::int64_t> listed;
  for (int i = 0; i < combo_->count(); ++i) listed.append(combo_->itemData(i).toLongLong());
  if (listed != kept) {
    combo_->clear();
    for (const PowerLineOption& option : kOptions) {
      if (kept.contains(option.value)) combo_->addItem(tr(option.label), QVariant(qlonglong(option.value)));
    }
  }
  combo_->setCurrentIndex(combo_->findData(QVariant(qlonglong(store_.value(ControlID::powerLineFrequency)))));
}

}  // namespace velto::views
