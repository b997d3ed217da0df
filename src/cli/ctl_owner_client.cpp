// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/ctl_owner_client.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QFileInfo>

#include "cli/ctl_output.h"
#include "cli/ctl_runner.h"
#include "capture/capture_bus.h"
#include "model/camera_bus.h"

namespace velto::cli {
namespace {

// A camera can take its time to answer (a slow or hung one costs a time-out per request); the
// owner answers when its work is done.
constexpr int kCallTimeoutMs = 10 * 60 * 1000;

struct Answer {
  QVariantList results;
  int code = kSuccess;
  std::string message;
};

// `signature`, when given, is the form of the answer the caller reads: anything else would be read
// as nothing at all (an empty table printed as a success), so it is a failure of the owner's.
Answer call(QDBusConnection& bus, const QString& method, const QVariantList& arguments = {},
            const char* path = kBusPath, const char* interface = kBusInterface, const char* signature = nullptr) {
  QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kBusName), QString::fromLatin1(path),
                                                        QString::fromLatin1(interface), method);
  message.setArguments(arguments);
  const QDBusMessage reply = bus.call(message, QDBus::Block, kCallTimeoutMs);
  if (reply.type() != QDBusMessage::ErrorMessage) {
    if (signature != nullptr && reply.signature() != QLatin1String(signature)) {
      return {{}, kCameraFailed, "the program that owns the cameras answered " + method.toStdString() + " with '" +
                                     reply.signature().toStdString() + "' instead of '" + signature + "'"};
    }
    return {reply.arguments(), kSuccess, {}};
  }
  if (reply.errorName().startsWith(QStringLiteral("app.velto.Camera1.Error."))) {
    return {{}, codeOfBusError(reply.errorName()), reply.errorMessage().toStdString()};
  }
  // The owner went away or broke off: nothing is known of what it did.
  return {{}, kCameraFailed, "the program that owns the cameras did not answer (" + reply.errorMessage().toStdString() + ")"};
}

// Maps and lists arrive as D-Bus arguments inside variants.
QVariantMap mapOf(const QVariant& v) {
  if (v.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
  return v.toMap();
}
QVariantList listOf(const QVariant& v) {
  if (v.canConvert<QDBusArgument>()) return qdbus_cast<QVariantList>(v.value<QDBusArgument>());
  return v.toList();
}

ControlValues valuesOf(const QVariantMap& map) {
  ControlValues values;
  for (auto it = map.begin(); it != map.end(); ++it) {
    const QByteArray name = it.key().toUtf8();
    if (auto id = controlFromRawValue(std::string_view(name.constData(), static_cast<std::size_t>(name.size())))) {
      values[*id] = it.value().toLongLong();
    }
  }
  return values;
}

std::vector<ListedCamera> camerasOf(const Answer& answer) {
  std::vector<ListedCamera> cameras;
  if (answer.results.isEmpty()) return cameras;
  for (const QVariant& entry : listOf(answer.results.front())) {
    const QVariantMap m = mapOf(entry);
    cameras.push_back({m.value("name").toString().toStdString(),
                       {static_cast<std::uint16_t>(m.value("vendorID").toUInt()),
                        static_cast<std::uint16_t>(m.value("productID").toUInt())},
                       m.value("locationID").toUInt(),
                       m.value("carrier").toString().toStdString(),
                       m.value("chosen").toBool(),
                       std::nullopt});
  }
  return cameras;
}

int report(const Answer& answer, std::ostream& err) {
  if (answer.code != kSuccess) err << "velto-ctl: " << answer.message << "\n";
  return answer.code;
}

}  // namespace

std::optional<QDBusConnection> sessionOwnerBus() {
  // Without an address Qt would try to start a bus of its own; there is no owner then anyway.
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return std::nullopt;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return std::nullopt;
  const auto registered = bus.interface()->isServiceRegistered(QString::fromLatin1(kBusName));
  if (!registered.isValid() || !registered.value()) return std::nullopt;
  return bus;
}

int runThroughOwner(const CtlRequest& request, QDBusConnection bus, std::ostream& out, std::ostream& err) {
  const std::string& cmd = request.command;
  const std::string& sub = request.subcommand;

  if (cmd == "list") {
    const Answer cameras = call(bus, QStringLiteral("Cameras"));
    if (cameras.code != kSuccess) return report(cameras, err);
    std::vector<ListedCamera> listed = camerasOf(cameras);
    if (request.camera) {
      for (ListedCamera& c : listed) c.chosen = c.chosen && c.key == *request.camera;
    }
    printCameras(listed, request.json, out);
    return kSuccess;
  }
  if (cmd == "preset" && sub == "list") {
    const Answer presets = call(bus, QStringLiteral("Presets"));
    if (presets.code != kSuccess) return report(presets, err);
    QList<Preset> list;
    for (const QVariant& entry : listOf(presets.results.value(0))) {
      const QVariantMap m = mapOf(entry);
      list.append(Preset{QUuid::fromString(m.value("id").toString()), m.value("name").toString(),
                         valuesOf(mapOf(m.value("values")))});
    }
    printPresets(list, request.json, out);
    return kSuccess;
  }

  // A command meant for one model: the owner's camera must be that one.
  if (request.camera) {
    const Answer cameras = call(bus, QStringLiteral("Cameras"));
    if (cameras.code != kSuccess) return report(cameras, err);
    bool chosen = false;
    for (const ListedCamera& c : camerasOf(cameras)) chosen = chosen || (c.chosen && c.key == *request.camera);
    if (!chosen) {
      err << "velto-ctl: no camera " << request.camera->hexString() << " is attached\n";
      return kNoCamera;
    }
  }

  if (cmd == "controls") {
    const Answer controls = call(bus, QStringLiteral("Controls"), {}, kBusPath, kBusInterface, "av");
    if (controls.code != kSuccess) return report(controls, err);
    std::vector<ControlRow> rows;
    for (const QVariant& entry : listOf(controls.results.value(0))) {
      const QVariantMap m = mapOf(entry);
      const QByteArray name = m.value("name").toString().toUtf8();
      const auto id = controlFromRawValue(std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
      if (!id) continue;
      ControlRow row{*id, std::nullopt, std::nullopt, {}};
      if (m.contains("min")) {
        row.range = ControlRange{m.value("min").toLongLong(), m.value("max").toLongLong(), m.value("step").toLongLong(),
                                 m.value("default").toLongLong()};
      }
      for (const QVariant& mode : listOf(m.value("modes"))) row.modes.push_back(mode.toLongLong());
      if (m.contains("value")) row.value = m.value("value").toLongLong();
      rows.push_back(row);
    }
    printControls(rows, request.json, out);
    return kSuccess;
  }
  if (cmd == "get") {
    std::vector<ControlID> ids;
    for (const std::string& name : request.operands) {
      const auto id = controlFromRawValue(name);
      if (!id) {
        err << "velto-ctl: unknown control '" << name << "'\n";
        return kInvalid;
      }
      ids.push_back(*id);
    }
    QStringList names;
    for (const std::string& name : request.operands) names.append(QString::fromStdString(name));
    const Answer got = call(bus, QStringLiteral("Get"), {names}, kBusPath, kBusInterface, "a{sv}a{sv}");
    if (got.code != kSuccess) return report(got, err);
    std::map<ControlID, std::string> failures;
    const QVariantMap failed = mapOf(got.results.value(1));
    for (ControlID id : ids) {
      const QString name = QString::fromUtf8(rawValue(id).data(), static_cast<qsizetype>(rawValue(id).size()));
      if (failed.contains(name)) failures[id] = failed.value(name).toString().toStdString();
    }
    return printReading(ids, valuesOf(mapOf(got.results.value(0))), failures, request.json, out, err) ? kSuccess
                                                                                                       : kCameraFailed;
  }
  if (cmd == "watch") return kUsage;  // watch waits for its turn instead (runCtl)

  if (cmd == "stats" || cmd == "snapshot" || cmd == "calibrate") {
    CaptureParse parsed = parseCapture(request);
    if (!parsed.command) {
      err << "velto-ctl: " << parsed.error << "\n";
      return kInvalid;
    }
    const CaptureCommand& c = *parsed.command;
    auto capture = [&](const QString& method, const QVariantList& arguments) {
      return call(bus, method, arguments, kCaptureBusPath, kCaptureBusInterface);
    };
    Answer answer;
    QVariantMap result;
    switch (c.kind) {
      case CaptureCommand::Kind::stats: answer = capture(QStringLiteral("Stats"), {c.frames}); break;
      // The owner writes the file: a path that means the same to it.
      case CaptureCommand::Kind::snapshot:
        answer = capture(QStringLiteral("Snapshot"), {QFileInfo(c.file).absoluteFilePath()});
        break;
      case CaptureCommand::Kind::calibrate:
        answer = capture(QStringLiteral("Calibrate"), {QString::fromStdString(request.operands[0]), c.point.x(), c.point.y(), c.target});
        break;
    }
    if (answer.code != kSuccess) return report(answer, err);
    if (c.kind == CaptureCommand::Kind::calibrate) {
      result.insert(QStringLiteral("message"), answer.results.value(0).toString());
    } else {
      result = mapOf(answer.results.value(0));
      // Lists inside the map arrive as D-Bus arguments too.
      for (auto it = result.begin(); it != result.end(); ++it) {
        if (it.value().canConvert<QDBusArgument>()) it.value() = listOf(it.value());
      }
    }
    printCapture(c.kind, result, request.json, out);
    return kSuccess;
  }

  const ChangeParse parsed = parseChange(request);
  if (!parsed.command) {
    err << "velto-ctl: " << parsed.error << "\n";
    return kInvalid;
  }
  const ChangeCommand& c = *parsed.command;
  auto names = [](const std::vector<ControlID>& ids) {
    QStringList list;
    for (ControlID id : ids) list.append(QString::fromUtf8(rawValue(id).data(), static_cast<qsizetype>(rawValue(id).size())));
    return list;
  };
  using Kind = ChangeCommand::Kind;
  switch (c.kind) {
    case Kind::set: {
      QVariantMap values;
      for (const auto& [id, v] : c.values) values.insert(names({id}).front(), static_cast<qlonglong>(v));
      return report(call(bus, QStringLiteral("Set"), {values}), err);
    }
    case Kind::autoMode: return report(call(bus, QStringLiteral("SetAuto"), {names(c.controls).front(), c.on}), err);
    case Kind::defaults: return report(call(bus, QStringLiteral("Defaults"), {names(c.controls)}), err);
    case Kind::refocus: return report(call(bus, QStringLiteral("Refocus")), err);
    case Kind::reset: return report(call(bus, QStringLiteral("Reset")), err);
    case Kind::presetSave: return report(call(bus, QStringLiteral("SavePreset"), {c.preset}), err);
    case Kind::presetApply: return report(call(bus, QStringLiteral("ApplyPreset"), {c.preset}), err);
    case Kind::presetUpdate: return report(call(bus, QStringLiteral("UpdatePreset"), {c.preset}), err);
    case Kind::presetRename: return report(call(bus, QStringLiteral("RenamePreset"), {c.preset, c.newName}), err);
    case Kind::presetDelete: return report(call(bus, QStringLiteral("DeletePreset"), {c.preset}), err);
  }
  return kUsage;
}

}  // namespace velto::cli
