// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/camera_bus.h"

#include <QDBusMetaType>
#include <algorithm>
#include <limits>
#include <optional>

#include "model/camera_store.h"
#include "model/status_text.h"
#include "model_camera_adaptor.h"

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

void registerBusTypes() {
  static const bool registered = [] {
    qDBusRegisterMetaType<QList<QVariantMap>>();
    qDBusRegisterMetaType<QList<qlonglong>>();
    qDBusRegisterMetaType<QList<double>>();
    return true;
  }();
  (void)registered;
}

bool isOwnersError(const QString& name) { return name.startsWith(kErrorPrefix); }

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
  // Another caller's work holds the camera: the picture cannot be had now.
  if (name == kBusyError) return CommandOutcome::unavailable;
  return CommandOutcome::cameraFailed;
}

CameraBusService::CameraBusService(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
  registerBusTypes();
  new CameraAdaptor(this);
  exported_ = bus_.registerObject(QString::fromLatin1(kCameraBusPath), this, QDBusConnection::ExportAdaptors);
}

CameraBusService::~CameraBusService() {
  if (exported_) bus_.unregisterObject(QString::fromLatin1(kCameraBusPath));
}

void CameraBusService::setStore(CameraStore* store) {
  if (store_) disconnect(store_, nullptr, this, nullptr);
  // What the old store was doing is not waited for: its callers hear why at once.
  for (const auto& [id, call] : open_) {
    bus_.send(call.createErrorReply(busErrorName(CommandOutcome::cameraFailed),
                                    QStringLiteral("the program that owned the cameras handed them over before it answered")));
  }
  open_.clear();
  store_ = store;
  if (!store_) return;
  for (auto signal : {&CameraStore::valuesChanged, &CameraStore::presetsChanged, &CameraStore::deviceChanged}) {
    connect(store_, signal, this, &CameraBusService::Changed);
  }
}

std::optional<CameraBusService::Call> CameraBusService::takeCall() {
  setDelayedReply(true);
  if (!store_) {
    answer({0, message()}, {CommandOutcome::noCamera, QStringLiteral("the cameras are not ready yet")});
    return std::nullopt;
  }
  const Call call{++lastCall_, message()};
  open_.emplace(call.id, call.message);
  return call;
}

void CameraBusService::answer(const Call& call, const CommandOutcome& outcome, const QVariantList& results) {
  // One the store was working on was answered when the store went.
  if (call.id != 0 && open_.erase(call.id) == 0) return;
  // A caller that has gone meanwhile is not an error: the bus drops the answer.
  if (outcome.code == CommandOutcome::ok) {
    bus_.send(call.message.createReply(results));
  } else {
    bus_.send(call.message.createErrorReply(busErrorName(outcome.code), outcome.message));
  }
}

std::optional<std::vector<ControlID>> CameraBusService::controlsNamed(const QStringList& names, const Call& call) {
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

QList<QVariantMap> CameraBusService::Cameras() {
  const auto call = takeCall();
  if (!call) return {};
  QList<QVariantMap> list;
  const auto& device = store_->device();
  for (const CameraSummary& c : store_->cameras()) {
    list.append(QVariantMap{{"name", c.name},
                            {"vendorID", uint(c.key.vendorID)},
                            {"productID", uint(c.key.productID)},
                            {"locationID", uint(c.locationID)},
                            {"carrier", text(usb::carrierName(c.carrier))},
                            {"chosen", device && device->locationID == c.locationID && device->key == c.key}});
  }
  answer(*call, {}, {QVariant::fromValue(list)});
  return {};
}

QList<QVariantMap> CameraBusService::Controls() {
  const auto call = takeCall();
  if (!call) return {};
  whenSettled([this, call = *call] { listControls(call); });
  return {};
}

void CameraBusService::listControls(const Call& call) {
  if (!store_->isConnected()) {
    return answer(call, {store_->device() ? CommandOutcome::cameraFailed : CommandOutcome::noCamera,
                         store_->device() ? store_->device()->name + " does not answer" : QStringLiteral("no camera is attached")});
  }
  store_->read({}, [this, call](ControlValues values, usb::Status) {
    QList<QVariantMap> rows;
    const auto& device = store_ ? store_->device() : std::nullopt;
    if (device) {
      for (ControlID id : device->supported) {
        QVariantMap row{{"name", text(rawValue(id))}, {"title", text(title(id))}};
        const auto r = store_->ranges().find(id);
        const bool ranged = r != store_->ranges().end();
        if (ranged) {
          row.insert("min", qlonglong(r->second.min));
          row.insert("max", qlonglong(r->second.max));
          row.insert("step", qlonglong(r->second.step));
          row.insert("default", qlonglong(r->second.defaultValue));
        }
        QList<qlonglong> modes;
        for (std::int64_t m : offeredModes(id, ranged ? &r->second : nullptr)) modes.append(qlonglong(m));
        if (!modes.isEmpty()) row.insert("modes", QVariant::fromValue(modes));
        if (auto v = values.find(id); v != values.end()) row.insert("value", qlonglong(v->second));
        rows.append(row);
      }
    }
    answer(call, {}, {QVariant::fromValue(rows)});
  });
}

QVariantMap CameraBusService::Get(const QStringList& names, QVariantMap&) {
  const auto call = takeCall();
  if (!call) return {};
  // More names than the catalogue has controls is no reading anyone needs.
  if (names.size() > kMostNamesRead) {
    answer(*call, {CommandOutcome::invalid, QStringLiteral("get takes at most %1 controls, not %2").arg(kMostNamesRead).arg(names.size())});
    return {};
  }
  auto ids = controlsNamed(names, *call);
  if (!ids) return {};
  // A name given twice is read once; the answer has it once anyway.
  std::vector<ControlID> once;
  for (ControlID id : *ids) {
    if (std::find(once.begin(), once.end(), id) == once.end()) once.push_back(id);
  }
  ids = std::move(once);
  const auto& device = store_->device();
  if (!device) {
    answer(*call, {CommandOutcome::noCamera, QStringLiteral("no camera is attached")});
    return {};
  }
  for (ControlID id : *ids) {
    if (auto why = unreadableControl(device->name, device->supports(id), id)) {
      answer(*call, {CommandOutcome::invalid, *why});
      return {};
    }
  }
  whenSettled([this, ids = *ids, call = *call] {
    if (!store_->isConnected()) {
      return answer(call, {CommandOutcome::cameraFailed,
                           (store_->device() ? store_->device()->name : QStringLiteral("the camera")) + " does not answer"});
    }
    readEach(ids, {}, {}, call);
  });
  return {};
}

void CameraBusService::whenSettled(std::function<void()> then) {
  // A camera between connections (reconnecting after a reset or a replug) is waited for: the store
  // always ends a connection attempt with connectionSettled, whether the camera answered or not.
  if (!store_->device() || store_->isConnected()) return then();
  connect(store_, &CameraStore::connectionSettled, this, std::move(then), Qt::SingleShotConnection);
}

void CameraBusService::readEach(std::vector<ControlID> ids, ControlValues values, QVariantMap failures,
                                const Call& call, bool retried) {
  if (ids.empty()) return answer(call, {}, {controlMap(values), failures});
  if (!store_) return answer(call, {CommandOutcome::cameraFailed, QStringLiteral("the camera store was closed")});
  // One at a time, so that each failure has its own status.
  const ControlID id = ids.front();
  ids.erase(ids.begin());
  store_->read({id}, [this, id, ids = std::move(ids), values = std::move(values), failures = std::move(failures),
                      call, retried](ControlValues read, usb::Status status) mutable {
    if (auto v = read.find(id); v != read.end()) {
      values[id] = v->second;
    } else if (!retried && store_ && store_->device() && (status == usb::status::noDevice || !store_->isConnected())) {
      // The camera left the bus or went between connections while it was read (a reset, a
      // replug): once more, when the store has settled on it again. Hot-plug always ends in a
      // new settling, with the camera back or gone.
      ids.insert(ids.begin(), id);
      auto retry = [this, ids = std::move(ids), values = std::move(values), failures = std::move(failures), call]() mutable {
        readEach(std::move(ids), std::move(values), std::move(failures), call, true);
      };
      if (!store_->isConnected()) return whenSettled(std::move(retry));
      connect(store_, &CameraStore::connectionSettled, this, std::move(retry), Qt::SingleShotConnection);
      return;
    } else {
      failures.insert(text(rawValue(id)), readFailure(id, status));
      // A camera that let a request time out would only let the others time out too.
      if (status == usb::status::timeout || !store_ || !store_->isConnected()) {
        for (ControlID rest : ids) failures.insert(text(rawValue(rest)), readFailure(rest, status));
        ids.clear();
      }
    }
    readEach(std::move(ids), std::move(values), std::move(failures), call, retried);
  });
}

void CameraBusService::change(const ChangeCommand& command) {
  const auto call = takeCall();
  if (!call) return;
  auto run = [this, command, call = *call] {
    runChange(*store_, command, [this, call](CommandOutcome outcome) { answer(call, outcome); });
  };
  // Renaming and deleting a preset need no camera. Everything else waits for a camera that is
  // still being connected (a slow one takes seconds to read its ranges), as velto-ctl without an
  // owner does, instead of failing because its reading has not landed yet.
  if (command.kind == ChangeCommand::Kind::presetRename || command.kind == ChangeCommand::Kind::presetDelete) return run();
  whenSettled(std::move(run));
}

void CameraBusService::Set(const QVariantMap& values) {
  ChangeCommand command;
  for (auto it = values.begin(); it != values.end(); ++it) {
    const QByteArray utf8 = it.key().toUtf8();
    const auto id = controlFromRawValue(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    const std::optional<qlonglong> value = integerArgument(it.value());
    if (!id || !value) {
      setDelayedReply(true);
      answer({0, message()}, {CommandOutcome::invalid, !id ? QStringLiteral("unknown control '%1'").arg(it.key())
                                                      : QStringLiteral("invalid value for %1 (an integer is needed)").arg(it.key())});
      return;
    }
    command.values[*id] = *value;  // the store clamps it to the control's range
  }
  change(command);
}

void CameraBusService::SetAuto(const QString& name, bool on) {
  const QByteArray utf8 = name.toUtf8();
  const auto id = controlFromRawValue(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  if (!id || !governedControl(*id)) {
    setDelayedReply(true);
    answer({0, message()}, {CommandOutcome::invalid, !id ? QStringLiteral("unknown control '%1'").arg(name)
                                                    : QStringLiteral("'%1' is not an auto mode (autoExposure, autoFocus, autoWhiteBalance)").arg(name)});
    return;
  }
  ChangeCommand command;
  command.kind = ChangeCommand::Kind::autoMode;
  command.controls = {*id};
  command.on = on;
  change(command);
}

void CameraBusService::Defaults(const QStringList& names) {
  setDelayedReply(true);
  const auto ids = controlsNamed(names, {0, message()});
  if (!ids) return;
  ChangeCommand command;
  command.kind = ChangeCommand::Kind::defaults;
  command.controls = *ids;
  change(command);
}

void CameraBusService::Refocus() {
  ChangeCommand command;
  command.kind = ChangeCommand::Kind::refocus;
  change(command);
}

void CameraBusService::Reset() {
  ChangeCommand command;
  command.kind = ChangeCommand::Kind::reset;
  change(command);
}

QList<QVariantMap> CameraBusService::Presets() {
  const auto call = takeCall();
  if (!call) return {};
  QList<QVariantMap> list;
  for (const Preset& p : store_->presets()) {
    list.append(QVariantMap{
        {"id", p.id.toString(QUuid::WithoutBraces).toUpper()}, {"name", p.name}, {"values", controlMap(p.values)}});
  }
  answer(*call, {}, {QVariant::fromValue(list)});
  return {};
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

void CameraBusService::SavePreset(const QString& name) { change(presetCommand(ChangeCommand::Kind::presetSave, name)); }

void CameraBusService::ApplyPreset(const QString& preset) {
  change(presetCommand(ChangeCommand::Kind::presetApply, preset));
}

void CameraBusService::UpdatePreset(const QString& preset) {
  change(presetCommand(ChangeCommand::Kind::presetUpdate, preset));
}

void CameraBusService::RenamePreset(const QString& preset, const QString& newName) {
  change(presetCommand(ChangeCommand::Kind::presetRename, preset, newName));
}

void CameraBusService::DeletePreset(const QString& preset) {
  change(presetCommand(ChangeCommand::Kind::presetDelete, preset));
}

bool CameraBusService::KeepLocked() {
  const auto call = takeCall();
  if (!call) return false;
  answer(*call, {}, {store_->keepLocked()});
  return false;
}

void CameraBusService::SetKeepLocked(bool on) {
  const auto call = takeCall();
  if (!call) return;
  store_->setKeepLocked(on);
  if (!store_->saveNow()) return answer(*call, {CommandOutcome::saveFailed, store_->lastErrorText()});
  answer(*call, {});
}

}  // namespace velto
