// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/store_commands.h"

#include <QObject>
#include <algorithm>
#include <memory>
#include <set>

#include "model/camera_store.h"
#include "model/status_text.h"

namespace velto {
namespace {

using Kind = ChangeCommand::Kind;

QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// What went wrong with writing one control, in words that do not call a time-out a refusal.
QString writeFailureText(const WriteFailure& f) {
  const QString name = text(rawValue(f.id));
  const QString status = QStringLiteral("status ") + statusNumber(f.status);
  switch (f.status) {
    case usb::status::pipeStalled:
    case usb::status::badArgument:
    case usb::status::unsupported:
      return QStringLiteral("the camera refused %1=%2 (%3)").arg(name).arg(f.value).arg(status);
    case usb::status::timeout:
      return QStringLiteral("the camera did not answer when %1 was written (%2)").arg(name, status);
    case usb::status::noDevice:
      return QStringLiteral("the camera went away before %1 was written (%2)").arg(name, status);
    default: return QStringLiteral("writing %1 failed (%2)").arg(name, status);
  }
}

CommandOutcome fail(int code, QString message) { return CommandOutcome{code, std::move(message)}; }

bool needsPreset(Kind k) {
  return k == Kind::presetApply || k == Kind::presetUpdate || k == Kind::presetRename || k == Kind::presetDelete;
}

}  // namespace

std::optional<QString> presetName(const QString& text) {
  qsizetype from = 0;
  qsizetype to = text.size();
  auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
  while (from < to && blank(text[from])) ++from;
  while (to > from && blank(text[to - 1])) --to;
  if (from == to) return std::nullopt;
  return text.mid(from, to - from);
}

std::optional<qsizetype> findPreset(const QList<Preset>& presets, const QString& nameOrId) {
  for (qsizetype i = 0; i < presets.size(); ++i) {
    if (presets[i].name == nameOrId) return i;
  }
  const QUuid id = QUuid::fromString(nameOrId);
  for (qsizetype i = 0; i < presets.size(); ++i) {
    if (!id.isNull() && presets[i].id == id) return i;
  }
  return std::nullopt;
}

std::optional<QString> impossibleValue(const ControlValues& values) {
  for (const auto& [id, value] : values) {
    if (acceptsValue(id, value, nullptr)) continue;
    return QStringLiteral("%1 is not a mode of %2 (%3)")
        .arg(value)
        .arg(text(rawValue(id)), id == ControlID::autoExposure
                                     ? QStringLiteral("1 manual, 2 auto, 4 shutter priority, 8 aperture priority")
                                     : QStringLiteral("0 off, 1 on"));
  }
  return std::nullopt;
}

std::vector<std::int64_t> offeredModes(ControlID id, const ControlRange* range) {
  std::vector<std::int64_t> modes;
  if (id != ControlID::autoExposure) return modes;
  for (std::int64_t mode : {1, 2, 4, 8}) {
    if (acceptsValue(id, mode, range)) modes.push_back(mode);
  }
  return modes;
}

std::optional<std::vector<ControlID>> controlsToRead(const ChangeCommand& command) {
  std::vector<ControlID> named;
  switch (command.kind) {
    case Kind::set:
      for (const auto& [id, value] : command.values) named.push_back(id);
      break;
    case Kind::autoMode: named = command.controls; break;
    case Kind::defaults:
      if (command.controls.empty()) return std::nullopt;
      named = command.controls;
      break;
    case Kind::refocus: named = {ControlID::autoFocus}; break;
    default: return std::nullopt;
  }
  std::set<ControlID> needed(named.begin(), named.end());
  for (ControlID id : named) {
    if (auto governor = governingControl(id)) needed.insert(*governor);
    if (auto governed = governedControl(id)) needed.insert(*governed);
  }
  return std::vector<ControlID>(needed.begin(), needed.end());
}

void runChange(CameraStore& store, const ChangeCommand& command, std::function<void(CommandOutcome)> done) {
  const Kind kind = command.kind;

  // What needs no camera is checked first.
  std::optional<QString> newName;
  if (kind == Kind::presetSave || kind == Kind::presetRename) {
    newName = presetName(kind == Kind::presetSave ? command.preset : command.newName);
    if (!newName) return done(fail(CommandOutcome::invalid, QStringLiteral("a preset needs a name")));
    if (newName->size() > kMaxPresetNameLength) {
      return done(fail(CommandOutcome::invalid, QStringLiteral("a preset's name has at most %1 characters, not %2")
                                                    .arg(kMaxPresetNameLength)
                                                    .arg(newName->size())));
    }
  }
  if (kind == Kind::presetSave && store.presets().size() >= kMaxPresets) {
    return done(fail(CommandOutcome::invalid,
                     QStringLiteral("there are %1 presets, the most there may be; delete one first").arg(kMaxPresets)));
  }
  std::optional<qsizetype> index;
  if (needsPreset(kind)) {
    index = findPreset(store.presets(), command.preset);
    if (!index) return done(fail(CommandOutcome::invalid, QStringLiteral("no preset named '%1'").arg(command.preset)));
  }
  if (auto why = impossibleValue(command.values)) return done(fail(CommandOutcome::invalid, *why));
  auto saved = [&store](CommandOutcome outcome) {
    if (!store.saveNow() && outcome.code == CommandOutcome::ok) {
      return fail(CommandOutcome::saveFailed, store.lastErrorText());
    }
    return outcome;
  };
  // Renaming and deleting need no camera; they act on the preset found, even when another shares
  // its id.
  if (kind == Kind::presetRename || kind == Kind::presetDelete) {
    if (kind == Kind::presetRename) {
      store.renamePresetAt(*index, *newName);
    } else {
      store.deletePresetAt(*index);
    }
    return done(saved({}));
  }

  const auto& device = store.device();
  if (!device || (command.camera && device->key != *command.camera)) {
    if (!command.camera && store.lastError() && store.lastError()->startsWith(QStringLiteral("Cannot open"))) {
      QString message = *store.lastError();
      message[0] = message[0].toLower();
      return done(fail(CommandOutcome::noCamera, message));
    }
    return done(fail(CommandOutcome::noCamera,
                     command.camera ? QStringLiteral("no camera %1 is attached").arg(QString::fromStdString(command.camera->hexString()))
                                    : QStringLiteral("no camera is attached")));
  }
  const QString cameraName = device->name;
  if (!store.isConnected()) return done(fail(CommandOutcome::cameraFailed, cameraName + " does not answer"));

  std::vector<ControlID> ids = command.controls;
  for (const auto& [id, value] : command.values) ids.push_back(id);
  if (kind == Kind::refocus) ids.push_back(ControlID::autoFocus);
  for (ControlID id : ids) {
    if (!store.supports(id)) {
      return done(fail(CommandOutcome::invalid, kind == Kind::refocus ? cameraName + " has no auto focus"
                                                                      : cameraName + " has no control " + text(rawValue(id))));
    }
  }
  for (const auto& [id, value] : command.values) {
    if (!store.accepts(id, value)) {
      return done(fail(CommandOutcome::invalid,
                       QStringLiteral("%1 does not offer %2 mode %3").arg(cameraName, text(rawValue(id))).arg(value)));
    }
  }

  // The failures of this command's own writes, collected until its work is done.
  auto failures = std::make_shared<std::vector<WriteFailure>>();
  auto collecting = std::make_shared<QMetaObject::Connection>(
      QObject::connect(&store, &CameraStore::writeFailed, &store, [failures](const std::vector<WriteFailure>& f) {
        failures->insert(failures->end(), f.begin(), f.end());
      }));
  const std::optional<QString> errorBefore = store.lastError();
  switch (kind) {
    case Kind::set: store.set(command.values); break;
    case Kind::autoMode: store.setAuto(command.controls.front(), command.on); break;
    case Kind::defaults:
      store.resetToDefaults(command.controls.empty() ? std::nullopt : std::optional(command.controls));
      break;
    case Kind::refocus: store.refocus(); break;
    case Kind::reset: store.resetCamera(); break;
    case Kind::presetSave: store.savePreset(*newName); break;
    case Kind::presetApply: {
      const Preset preset = store.presets()[*index];
      for (const auto& [id, v] : preset.values) {
        if (store.supports(id)) ids.push_back(id);
      }
      store.applyPreset(preset);
      break;
    }
    case Kind::presetUpdate: store.updatePreset(store.presets()[*index].id); break;
    case Kind::presetRename:
    case Kind::presetDelete: break;
  }
  store.whenChangesDone([&store, kind, ids, failures, collecting, errorBefore, saved, done = std::move(done)] {
    QObject::disconnect(*collecting);
    CommandOutcome outcome;
    if (kind == Kind::reset && store.lastError() && store.lastError() != errorBefore) {
      outcome = fail(CommandOutcome::cameraFailed, *store.lastError());
    }
    for (const WriteFailure& f : *failures) {
      const bool mine = std::find(ids.begin(), ids.end(), f.id) != ids.end() || kind == Kind::defaults;
      if (outcome.code == CommandOutcome::ok && mine) outcome = fail(CommandOutcome::cameraFailed, writeFailureText(f));
    }
    // What the command changed is saved whatever the camera made of it.
    done(saved(outcome));
  });
}

}  // namespace velto
