// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/flag_toggle.h"

#include <QCheckBox>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "model/camera_store.h"
#include "views/control_title.h"
#include "views/sidebar_section.h"
#include "views/value_viewer.h"

namespace velto::views {

FlagToggle::FlagToggle(CameraStore& store, ControlID id, std::optional<QString> subtitle, QWidget* parent)
    : QWidget(parent), store_(store), id_(id) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  check_ = new QCheckBox(controlTitle(id), this);
  column->addWidget(check_);
  if (subtitle) {
    subtitle_ = checkBoxSubtitle(check_, *subtitle, this);
    column->addWidget(subtitle_);
  }
  // Toggled, not clicked, as for the auto toggles: a screen reader flips the box without a click.
  connect(check_, &QCheckBox::toggled, this, [this](bool on) {
    if (on == (store_.value(id_) != 0)) return;
    store_.set(id_, on ? 1 : 0);
    render();
  });
  connect(&store_, &CameraStore::deviceChanged, this, &FlagToggle::render);
  connect(&store_, &CameraStore::valuesChanged, this, &FlagToggle::render);
  connect(&store_, &CameraStore::resettingChanged, this, &FlagToggle::render);
  render();
}

void FlagToggle::render() {
  if (holdWhileAway(*this, store_)) return;
  setVisible(store_.supports(id_));
  check_->setChecked(store_.value(id_) != 0);
}

}  // namespace velto::views
