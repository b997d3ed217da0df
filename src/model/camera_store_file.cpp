// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Following the settings file: another program (an editor, a copy from another machine, a
// velto-ctl that ran before this owner) may change it while the store runs. The store then reads
// it again: presets and preferences as the file has them, and the file's wanted values for every
// control this process has not itself changed since its last save; the camera follows. Every
// notice of the file is read so, our own saves' too, where the merge finds nothing new. What this
// process changed and has not saved yet is kept and written over the merged file, never the whole
// file over the newer one.
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include "model/camera_store.h"
#include "support/log.h"

namespace velto {

// Read as the defaults read it: a device, FIFO or folder there is never read from or waited on.
SettingsFileText CameraStore::settingsFileText() const { return readSettingsFile(storage_.path()); }

void CameraStore::showReadProblem() {
  if (const auto& problem = storage_.readProblem()) {
    setLastError(*problem, ErrorKind::read);
  } else {
    clearLastError(ErrorKind::read);
  }
}

void CameraStore::watchSettingsFile() {
  if (!fileWatch_) {
    fileWatch_ = std::make_unique<QFileSystemWatcher>();
    knownFile_ = settingsFileText();
    // A save replaces the file (a new file renamed over it): the folder says so when the file's
    // own watch has gone with the old one.
    connect(fileWatch_.get(), &QFileSystemWatcher::fileChanged, this, &CameraStore::settingsFileChanged);
    connect(fileWatch_.get(), &QFileSystemWatcher::directoryChanged, this, &CameraStore::settingsFileChanged);
  }
  const QString file = storage_.path();
  const QString folder = QFileInfo(file).absolutePath();
  if (QFileInfo::exists(folder) && !fileWatch_->directories().contains(folder)) fileWatch_->addPath(folder);
  if (QFileInfo::exists(file) && !fileWatch_->files().contains(file)) fileWatch_->addPath(file);
}

void CameraStore::settingsFileChanged() {
  watchSettingsFile();
  // Read and merged whatever the text: what is ours is told from what is another program's by the
  // values themselves (merging what this process holds already changes nothing), never by when
  // the file was written. A save of ours takes in what another program left in the file a moment
  // before; the text read after it cannot say whether that change was seen.
  const SettingsFileText text = settingsFileText();
  if (text != knownFile_) log::info(log::Layer::model, "the settings file changed; reading it again");
  knownFile_ = text;
  storage_.reload();
  showReadProblem();

  if (!presetsChangedHere_) {
    QList<Preset> loaded = storage_.loadPresets().value_or(QList<Preset>{});
    if (loaded != presets_) {
      presets_ = std::move(loaded);
      emit presetsChanged();
    }
  }
  if (!options_.keepLocked) {
    const bool on = storage_.loadBoolean(QStringLiteral("keepLocked")).value_or(true);
    if (on != keepLocked_) {
      keepLocked_ = on;
      emit keepLockedChanged();
    }
  }
  const bool open = storage_.loadBoolean(QStringLiteral("openWindowAtLaunch")).value_or(true);
  if (open != openWindowAtLaunch_) {
    openWindowAtLaunch_ = open;
    emit openWindowAtLaunchChanged();
  }
  const CameraKey preferred = storage_.loadPreferredCamera().value_or(kAnkerC200);
  const bool otherCamera = preferred != preferredCamera_;
  preferredCamera_ = preferred;

  if (connected_ && device_) {
    const ControlValues file = storage_.loadSettings(device_->key).value_or(ControlValues{});
    ControlValues writes;
    for (const auto& [id, v] : file) {
      if (changedHere_.contains(id)) continue;  // ours is newer
      auto want = desired_.find(id);
      if (want != desired_.end() && want->second == v) continue;
      desired_[id] = v;
      refused_.erase(id);
      unenforceable_.erase(id);
      if (supports(id)) writes[id] = v;
    }
    if (!writes.empty()) {
      ControlValues shown = values_;
      for (const auto& [id, v] : writes) shown[id] = v;
      setValues(std::move(shown));
      writer_->enqueue(writes, open_, io_);
    }
    if (!changedHere_.empty()) saveDesired();
  }
  if (presetsChangedHere_) savePresets();
  if (otherCamera) {
    emit preferredCameraChanged();
    rescan();
  }
}

}  // namespace velto
