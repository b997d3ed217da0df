// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Presets: one global list of named control values, applied to whichever camera is connected.
#include <algorithm>

#include "model/camera_store.h"

namespace velto {

void CameraStore::savePresets() {
  presetsChangedHere_ = true;
  storage_.savePresets(presets_);
  settingsChanged();
}

void CameraStore::savePreset(const QString& name) {
  presets_.append(Preset{QUuid::createUuid(), name, supportedOnly(desired_), {}, {}});
  savePresets();
  emit presetsChanged();
}

void CameraStore::applyPreset(const Preset& preset) {
  // All values, auto modes included, checked and clamped as any change is: the batch goes out in
  // catalogue order, so an auto mode lands before the manual value it governs.
  set(preset.values);
}

void CameraStore::updatePreset(const QUuid& id) {
  auto it = std::find_if(presets_.begin(), presets_.end(), [&](const Preset& p) { return p.id == id; });
  if (it == presets_.end()) return;
  it->values = supportedOnly(desired_);
  savePresets();
  emit presetsChanged();
}

void CameraStore::renamePreset(const QUuid& id, const QString& name) {
  auto it = std::find_if(presets_.begin(), presets_.end(), [&](const Preset& p) { return p.id == id; });
  if (it == presets_.end()) return;
  it->name = name;
  savePresets();
  emit presetsChanged();
}

void CameraStore::deletePreset(const QUuid& id) {
  // The first only: two presets that share an id (a copied file) are still two presets.
  auto it = std::find_if(presets_.begin(), presets_.end(), [&](const Preset& p) { return p.id == id; });
  const bool removed = it != presets_.end();
  if (removed) presets_.erase(it);
  savePresets();
  if (removed) emit presetsChanged();
}

void CameraStore::renamePresetAt(qsizetype index, const QString& name) {
  if (index < 0 || index >= presets_.size()) return;
  presets_[index].name = name;
  savePresets();
  emit presetsChanged();
}

void CameraStore::deletePresetAt(qsizetype index) {
  if (index < 0 || index >= presets_.size()) return;
  presets_.removeAt(index);
  savePresets();
  emit presetsChanged();
}

void CameraStore::movePresets(const std::set<int>& positions, int destination) {
  // The moved presets keep their order and land before the one that was at `destination`.
  QList<Preset> moved;
  QList<Preset> rest;
  int before = 0;  // moved presets that stood before the destination
  for (int i = 0; i < presets_.size(); ++i) {
    if (positions.contains(i)) {
      moved.append(presets_[i]);
      if (i < destination) ++before;
    } else {
      rest.append(presets_[i]);
    }
  }
  const int at = std::clamp(destination - before, 0, static_cast<int>(rest.size()));
  for (int i = 0; i < moved.size(); ++i) rest.insert(at + i, moved[i]);
  const bool changed = rest != presets_;
  presets_ = std::move(rest);
  savePresets();
  if (changed) emit presetsChanged();
}

std::optional<QUuid> CameraStore::activePresetID() const {
  if (!connected_) return std::nullopt;
  for (const Preset& preset : presets_) {
    const ControlValues wanted = supportedOnly(preset.effectiveValues());
    if (wanted.empty()) continue;
    const bool active = std::all_of(wanted.begin(), wanted.end(), [&](const auto& entry) {
      auto it = desired_.find(entry.first);
      return it != desired_.end() && it->second == entry.second;
    });
    if (active) return preset.id;
  }
  return std::nullopt;
}

}  // namespace velto
