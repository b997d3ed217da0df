// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/option_picker.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include "model/camera_store.h"
#include "views/control_title.h"
#include "views/value_viewer.h"

namespace velto::views {

OptionPicker::OptionPicker(CameraStore& store, ControlID id, std::vector<PickerOption> options,
                           std::optional<QString> help, QWidget* parent)
    : QWidget(parent), store_(store), id_(id), options_(std::move(options)), group_(new QButtonGroup(this)) {
  auto* line = new QHBoxLayout(this);
  line->setContentsMargins(0, 0, 0, 0);
  auto* label = new QLabel(controlTitle(id), this);
  line->addWidget(label);
  // The segments touch, so they read as one control.
  auto* segments = new QHBoxLayout;
  segments->setSpacing(0);
  for (std::size_t i = 0; i < options_.size(); ++i) {
    // Tool buttons size to their text (push buttons keep a wide minimum) and share the width.
    auto* button = new QToolButton(this);
    button->setText(options_[i].label);
    button->setCheckable(true);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    //: A segment of a picker as a screen reader names it: the control, then the option.
    button->setAccessibleName(tr("%1: %2").arg(label->text(), options_[i].label));
    group_->addButton(button, int(i));
    segments->addWidget(button);
  }
  line->addLayout(segments, 1);
  setToolTip(help.value_or(QString()));

  connect(group_, &QButtonGroup::idClicked, this, [this](int index) {
    store_.set(id_, options_[std::size_t(index)].value);
    render();
  });
  connect(&store_, &CameraStore::deviceChanged, this, &OptionPicker::render);
  connect(&store_, &CameraStore::valuesChanged, this, &OptionPicker::render);
  connect(&store_, &CameraStore::resettingChanged, this, &OptionPicker::render);
  render();
}

QAbstractButton* OptionPicker::segment(int index) const { return group_->button(index); }

void OptionPicker::render() {
  if (holdWhileAway(*this, store_)) return;
  setVisible(store_.supports(id_));
  const std::int64_t value = store_.value(id_);
  int selected = -1;
  for (std::size_t i = 0; i < options_.size(); ++i) {
    if (options_[i].value == value) {
      selected = int(i);
      break;
    }
  }
  if (selected >= 0) {
    group_->button(selected)->setChecked(true);
  } else if (QAbstractButton* checked = group_->checkedButton()) {
    // A value no option names: no segment is chosen.
    group_->setExclusive(false);
    checked->setChecked(false);
    group_->setExclusive(true);
  }
}

}  // namespace velto::views
