// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/auto_toggle.h"

#include "model/camera_store.h"
#include "model/preset.h"
#include "views/control_title.h"
#include "views/value_viewer.h"

namespace velto::views {

bool AutoToggle::isOn(ControlID id, std::int64_t value) { return governedControl(id) && isAutoOn(id, value); }

AutoToggle::AutoToggle(CameraStore& store, ControlID id, std::optional<QString> title, QWidget* parent)
    : QCheckBox(parent), store_(store), id_(id) {
  setText(title.value_or(controlTitle(id)));
  // Toggled, not clicked: a screen reader's "toggle" action flips the box without a click. Only a
  // state that differs from the store's is a wish; render() itself flips it back to the store's.
  connect(this, &QCheckBox::toggled, this, [this](bool on) {
    if (on == isOn(id_, store_.value(id_))) return;
    store_.setAuto(id_, on);
    render();  // shows the store's state, also when it did not take the change
  });
  connect(&store_, &CameraStore::deviceChanged, this, &AutoToggle::render);
  connect(&store_, &CameraStore::valuesChanged, this, &AutoToggle::render);
  connect(&store_, &CameraStore::resettingChanged, this, &AutoToggle::render);
  render();
}

void AutoToggle::render() {
  if (holdWhileAway(*this, store_)) return;
  setVisible(store_.supports(id_));
  setChecked(isOn(id_, store_.value(id_)));
}

}  // namespace velto::views
