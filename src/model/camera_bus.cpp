// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/camera_bus.h"

#include <limits>
#include <optional>

#include "model/camera_store.h"
#include "model/status_text.h"

namespace velto {
namespace {

QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

const QString kErrorPrefix = QStringLiteral("app.velto.Camera1.Error.");

// An integer argument of any D-Bus integer type (y n q i u x t), read by its own signedness: an
// unsigned 64-bit value above the signed range saturates instead of wrapping to a negative one.
// Anything else (a string, a double, a boolean) is none.
std::optional<qlonglong> integerArgument(const QVariant& argument) {
  bool ok = false;
  switch (argument.typeId()) {
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
      const qulonglong u = argument.toULongLong(&ok);
      if (!ok) return std::nullopt;
      return u > qulonglong(std::numeric_limits<qlonglong>::max()) ? std::numeric_limits<qlonglong>::max() : qlonglong(u);
    }
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong: {
      const qlonglong v = argument.toLongLong(&ok);
      return ok ? std::optional(v) : std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

QVariantMap controlMap(const ControlValues& values) {
  QVariantMap map;
  for (const auto& [id, v] : values) map.insert(text(rawValue(id)), static_cast<qlonglong>(v));
  return map;
}

}  // namespace

QString busErrorName(int code) {
  switch (code) {
    case CommandOutcome::noCamera: return kErrorPrefix + "NoCamera";
    case CommandOutcome::invalid: return kErrorPrefix + "Invalid";
    case CommandOutcome::saveFailed: return kErrorPrefix + "SaveFailed";
    case CommandOutcome::unavailable: return kErrorPrefix + "Unavailable";
    default: return kErrorPrefix + "CameraFailed";
  }
}

int codeOfBusError(const QString& name) {
  for (int code : {int(CommandOutcome::noCamera), int(CommandOutcome::invalid), int(CommandOutcome::saveFailed),
                   int(CommandOutcome::unavailable)}) {
    if (name == busErrorName(code)) return code;
  }
  return CommandOutcome::cameraFailed;
}

CameraBusService::CameraBusService(CameraStore& store, QDBusConnection bus, QObject* parent)
    : QObject(parent), store_(store), bus_(std::move(bus)) {
  exported_ = bus_.registerObject(QString::fromLatin1(kBusPath), this,
                                  QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals);
  for (auto signal : {&CameraStore::valuesChanged, &CameraStore::presetsChanged, &CameraStore::deviceChanged}) {
    connect(&store_, signal, this, &CameraBusService::Changed);
  }
}

CameraBusService::~CameraBusService() {
  if (exported_) bus_.unregisterObject(QString::fromLatin1(kBusPath));
}

void CameraBusService::answer(const QDBusMessage& call, const CommandOutcome& outcome, const QVariantList& results) {
  // A caller that has gone meanwhile is not an error: the bus drops the answer.
  if (outcome.code == CommandOutcome::ok) {
    bus_.send(call.createReply(results));
  } else {
    bus_.send(call.createErrorReply(busErrorName(outcome.code), outcome.message));
  }
}

std::optional<std::vector<ControlID>> CameraBusService::controlsNamed(const QStringList& names, const QDBusMessage& call) {
  std::vector<ControlID> ids;
  for (const QString& name : names) {
    const QByteArray utf8 = name.toUtf8();
    const auto id = controlFromRawValue(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    if (!id) {
      answer(call, {CommandOutcome::invalid, QStringLiteral("unknown control '%1'").arg(name)});
      return std::nullopt;
    }
    ids.push_back(*id);
  }
  return ids;
}

QVariantList CameraBusService::Cameras() {
  QVariantList list;
  const auto& device = store_.device();
  for (const CameraSummary& c : store_.cameras()) {
    list.append(QVariantMap{{"name", c.name},
                            {"vendorID", c.key.vendorID},
                            {"productID", c.key.productID},
                            {"locationID", c.locationID},
                            {"carrier", text(usb::carrierName(c.carrier))},
                            {"chosen", device && device->locationID == c.locationID && device->key == c.key}});
  }
  return list;
}

void CameraBusService::Controls(const QDBusMessage& call) {
  call.setDelayedReply(true);
  if (!store_.isConnected()) {
    answer(call, {store_.device() ? CommandOutcome::cameraFailed : CommandOutcome::noCamera,
                  store_.device() ? store_.device()->name + " does not answer" : QStringLiteral("no camera is attached")});
    return;
  }
  store_.read({}, [this, call](ControlValues values, usb::Status) {
    QVariantList rows;
    const auto& device = store_.device();
    if (device) {
      for (ControlID id : device->supported) {
        QVariantMap row{{"name", text(rawValue(id))}, {"title", text(title(id))}};
        const auto r = store_.ranges().find(id);
        if (r != store_.ranges().end()) {
          row.insert("min", static_cast<qlonglong>(r->second.min));
          row.insert("max", static_cast<qlonglong>(r->second.max));
          row.insert("step", static_cast<qlonglong>(r->second.step));
          row.insert("default", static_cast<qlonglong>(r->second.defaultValue));
        }
        QVariantList modes;
        for (std::int64_t m : offeredModes(id, r != store_.ranges().end() ? &r->second : nullptr)) {
          modes.append(static_cast<qlonglong>(m));
        }
        if (!modes.isEmpty()) row.insert("modes", modes);
        if (auto v = values.find(id); v != values.end()) row.insert("value", static_cast<qlonglong>(v->second));
        rows.append(row);
      }
    }
    // One argument, the list: a bare `{rows}` would copy the list and send each row as an
    // argument of its own.
    answer(call, {}, QVariantList{QVariant(rows)});
  });
}

void CameraBusService::Get(const QStringList& names, const QDBusMessage& call) {
  call.setDelayedReply(true);
  const auto ids = controlsNamed(names, call);
  if (!ids) return;
  const auto& device = store_.device();
  if (!device) return answer(call, {CommandOutcome::noCamera, QStringLiteral("no camera is attached")});
  if (!store_.isConnected()) return answer(call, {CommandOutcome::cameraFailed, device->name + " does not answer"});
  for (ControlID id : *ids) {
    if (auto why = unreadableControl(device->name, device->supports(id), id)) {
      return answer(call, {CommandOutcome::invalid, *why});
    }
  }
  readEach(*ids, {}, {}, call);
}

void CameraBusService::readEach(std::vector<ControlID> ids, ControlValues values, QVariantMap failures,
                                const QDBusMessage& call) {
  if (ids.empty()) return answer(call, {}, {controlMap(values), failures});
  // One at a time, so that each failure has its own status.
  const ControlID id = ids.front();
  ids.erase(ids.begin());
  store_.read({id}, [this, id, ids = std::move(ids), values = std::move(values), failures = std::move(failures),
                     call](ControlValues read, usb::Status status) mutable {
    if (auto v = read.find(id); v != read.end()) {
      values[id] = v->second;
    } else {
      failures.insert(text(rawValue(id)), readFailure(id, status));
      // A camera that let a request time out would only let the others time out too.
      if (status == usb::status::timeout || !store_.isConnected()) {
        for (ControlID rest : ids) failures.insert(text(rawValue(rest)), readFailure(rest, status));
        ids.clear();
      }
    }
    readEach(std::move(ids), std::move(values), std::move(failures), call);
  });
}

void CameraBusService::change(const ChangeCommand& command, const QDBusMessage& call) {
  call.setDelayedReply(true);
  runChange(store_, command, [this, call](CommandOutcome outcome) { answer(call, outcome); });
}

void CameraBusService::Set(const QVariantMap& values, const QDBusMessage& call) {
  call.setDelayedReply(true);
  ChangeCommand command;
  for (auto it = values.begin(); it != values.end(); ++it) {
    const auto ids = controlsNamed({it.key()}, call);
    if (!ids) return;
    const std::optional<qlonglong> value = integerArgument(it.value());
    if (!value) {
      return answer(call, {CommandOutcome::invalid,
                           QStringLiteral("invalid value for %1 (an integer is needed)").arg(it.key())});
    }
    command.values[ids->front()] = *value;  // the store clamps it to the control's range
  }
  change(command, call);
}

void CameraBusService::SetAuto(const QString& name, bool on, const QDBusMessage& call) {
  call.setDelayedReply(true);
  const auto ids = controlsNamed({name}, call);
  if (!ids) return;
  if (!governedControl(ids->front())) {
    return answer(call, {CommandOutcome::invalid,
                         QStringLiteral("'%1' is not an auto mode (autoExposure, autoFocus, autoWhiteBalance)").arg(name)});
  }
  ChangeCommand command;
  command.kind = ChangeCommand::Kind::autoMode;
  command.controls = *ids;
  command.on = on;
  change(command, call);
}

void CameraBusService::Defaults(const QStringList& names, const QDBusMessage& call) {
  call.setDelayedReply(true);
  const auto ids = controlsNamed(names, call);
  if (!ids) return;
  ChangeCommand command;
  command.kind = ChangeCommand::Kind::defaults;
  command.controls = *ids;
  change(command, call);
}

void CameraBusService::Refocus(const QDBusMessage& call) {
  ChangeCommand command;
  command.kind = ChangeCommand::Kind::refocus;
  change(command, call);
}

void CameraBusService::Reset(const QDBusMessage& call) {
  ChangeCommand command;
  command.kind = ChangeCommand::Kind::reset;
  change(command, call);
}

QVariantList CameraBusService::Presets() {
  QVariantList list;
  for (const Preset& p : store_.presets()) {
    list.append(QVariantMap{
        {"id", p.id.toString(QUuid::WithoutBraces).toUpper()}, {"name", p.name}, {"values", controlMap(p.values)}});
  }
  return list;
}

namespace {
ChangeCommand presetCommand(ChangeCommand::Kind kind, const QString& preset, const QString& newName = {}) {
  ChangeCommand command;
  command.kind = kind;
  command.preset = preset;
  command.newName = newName;
  return command;
}
}  // namespace

void CameraBusService::SavePreset(const QString& name, const QDBusMessage& call) {
  change(presetCommand(ChangeCommand::Kind::presetSave, name), call);
}

void CameraBusService::ApplyPreset(const QString& preset, const QDBusMessage& call) {
  change(presetCommand(ChangeCommand::Kind::presetApply, preset), call);
}

void CameraBusService::UpdatePreset(const QString& preset, const QDBusMessage& call) {
  change(presetCommand(ChangeCommand::Kind::presetUpdate, preset), call);
}

void CameraBusService::RenamePreset(const QString& preset, const QString& newName, const QDBusMessage& call) {
  change(presetCommand(ChangeCommand::Kind::presetRename, preset, newName), call);
}

void CameraBusService::DeletePreset(const QString& preset, const QDBusMessage& call) {
  change(presetCommand(ChangeCommand::Kind::presetDelete, preset), call);
}

bool CameraBusService::KeepLocked() { return store_.keepLocked(); }

void CameraBusService::SetKeepLocked(bool on) {
  store_.setKeepLocked(on);
  store_.saveNow();
}

}  // namespace velto
