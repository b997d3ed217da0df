// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/ctl_owner_client.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include "capture/capture_bus.h"
#include "cli/ctl_output.h"
#include "cli/ctl_runner.h"
#include "ctl_camera_proxy.h"
#include "ctl_capture_proxy.h"
#include "model/camera_bus.h"

namespace velto::cli {
namespace {

// The whole command's time: when the owner has not answered by then, velto-ctl gives up.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds limit) : limit_(limit) { timer_.start(); }
  int remainingMs() const { return int(std::max<qint64>(1, limit_.count() - timer_.elapsed())); }
  std::chrono::milliseconds limit() const { return limit_; }

 private:
  std::chrono::milliseconds limit_;
  QElapsedTimer timer_;
};

struct Answer {
  int code = kSuccess;
  std::string message;
};

// What a finished call says: its error in words, or success.
Answer outcomeOf(const QDBusPendingCall& call, const Deadline& deadline) {
  const QDBusError error = call.error();
  if (!error.isValid()) return {};
  if (isOwnersError(error.name())) return {codeOfBusError(error.name()), error.message().toStdString()};
  if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(deadline.limit()).count();
    return {kCameraFailed, "the program that owns the cameras did not answer within " + std::to_string(seconds) + " s"};
  }
  // The owner went away or broke off: nothing is known of what it did.
  return {kCameraFailed, "the program that owns the cameras did not answer (" + error.message().toStdString() + ")"};
}

template <typename Proxy>
void limit(Proxy& proxy, const Deadline& deadline) {
  proxy.setTimeout(deadline.remainingMs());
}

// Maps and lists inside a record arrive as D-Bus arguments.
QVariantMap mapOf(const QVariant& v) {
  if (v.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
  return v.toMap();
}
QList<qlonglong> integersOf(const QVariant& v) {
  if (v.canConvert<QDBusArgument>()) return qdbus_cast<QList<qlonglong>>(v.value<QDBusArgument>());
  return v.value<QList<qlonglong>>();
}
QVariantList numbersOf(const QVariant& v) {
  QVariantList list;
  if (v.canConvert<QDBusArgument>()) {
    for (double d : qdbus_cast<QList<double>>(v.value<QDBusArgument>())) list.append(d);
    return list;
  }
  return v.toList();
}

// Formats' answer, one array per field, as the list of modes the local command gives.
QVariantMap modesOf(const QVariantMap& answer) {
  auto ints = [&](const char* key) {
    const QVariant v = answer.value(QLatin1String(key));
    if (v.canConvert<QDBusArgument>()) return qdbus_cast<QList<int>>(v.value<QDBusArgument>());
    return v.value<QList<int>>();
  };
  const QStringList formats = answer.value(QStringLiteral("format")).toStringList();
  const QStringList fourccs = answer.value(QStringLiteral("fourcc")).toStringList();
  const QList<int> widths = ints("width"), heights = ints("height"), rates = ints("fps");
  QVariantList modes;
  for (qsizetype i = 0; i < formats.size() && i < fourccs.size() && i < widths.size() && i < heights.size() && i < rates.size(); ++i) {
    modes.append(QVariantMap{{QStringLiteral("format"), formats[i]},
                             {QStringLiteral("fourcc"), fourccs[i]},
                             {QStringLiteral("width"), widths[i]},
                             {QStringLiteral("height"), heights[i]},
                             {QStringLiteral("fps"), rates[i]}});
  }
  return {{QStringLiteral("camera"), answer.value(QStringLiteral("camera"))}, {QStringLiteral("modes"), modes}};
}

QString nameOf(ControlID id) { return QString::fromUtf8(rawValue(id).data(), static_cast<qsizetype>(rawValue(id).size())); }

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

std::vector<ListedCamera> camerasOf(const QList<QVariantMap>& records) {
  std::vector<ListedCamera> cameras;
  for (const QVariantMap& m : records) {
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

// How long velto-ctl waits for the owner: a minute, and for statistics a fifth of a second more
// for every frame asked for (the slowest camera's rate).
std::chrono::milliseconds timeLimit(const CtlRequest& request) {
  std::chrono::milliseconds limit = kOwnerTimeLimit;
  if (request.command == "stats") limit += std::chrono::milliseconds(200) * request.frames;
  return limit;
}

}  // namespace

std::optional<QString> sessionBusAddress() {
  if (const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"); !address.isEmpty()) return address;
  // Where libdbus looks without an address (cron, ssh, a service): the user's bus socket in the
  // runtime directory, the one systemd's user session and dbus-broker put there.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtime.isEmpty()) return std::nullopt;
  const QString socket = runtime + QStringLiteral("/bus");
  struct stat status {};
  if (::stat(QFile::encodeName(socket).constData(), &status) != 0 || !S_ISSOCK(status.st_mode) ||
      status.st_uid != ::getuid()) {
    return std::nullopt;
  }
  return QStringLiteral("unix:path=") + socket;
}

std::optional<QDBusConnection> sessionOwnerBus() {
  // Without a bus to find, Qt would try to start one of its own; there is no owner then anyway.
  const std::optional<QString> address = sessionBusAddress();
  if (!address) return std::nullopt;
  QDBusConnection bus = qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
                            ? QDBusConnection::connectToBus(*address, QStringLiteral("velto-ctl-session"))
                            : QDBusConnection::sessionBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return std::nullopt;
  const auto registered = bus.interface()->isServiceRegistered(QString::fromLatin1(kOwnerBusName));
  if (!registered.isValid() || !registered.value()) return std::nullopt;
  return bus;
}

int runThroughOwner(const CtlRequest& request, QDBusConnection bus, std::ostream& out, std::ostream& err) {
  registerBusTypes();
  const std::string& cmd = request.command;
  const std::string& sub = request.subcommand;
  const Deadline deadline(timeLimit(request));
  CameraProxy camera(QString::fromLatin1(kOwnerBusName), QString::fromLatin1(kCameraBusPath), bus);

  if (cmd == "list") {
    limit(camera, deadline);
    QDBusPendingReply<QList<QVariantMap>> cameras = camera.Cameras();
    cameras.waitForFinished();
    if (cameras.isError()) return report(outcomeOf(cameras, deadline), err);
    std::vector<ListedCamera> listed = camerasOf(cameras.value());
    if (request.camera) {
      for (ListedCamera& c : listed) c.chosen = c.chosen && c.key == *request.camera;
    }
    printCameras(listed, request.json, out);
    return kSuccess;
  }
  if (cmd == "preset" && sub == "list") {
    limit(camera, deadline);
    QDBusPendingReply<QList<QVariantMap>> presets = camera.Presets();
    presets.waitForFinished();
    if (presets.isError()) return report(outcomeOf(presets, deadline), err);
    QList<Preset> list;
    for (const QVariantMap& m : presets.value()) {
      list.append(Preset{QUuid::fromString(m.value("id").toString()), m.value("name").toString(),
                         valuesOf(mapOf(m.value("values")))});
    }
    printPresets(list, request.json, out);
    return kSuccess;
  }
  if (cmd == "lock") {
    limit(camera, deadline);
    if (request.operands.empty()) {
      QDBusPendingReply<bool> locked = camera.KeepLocked();
      locked.waitForFinished();
      if (locked.isError()) return report(outcomeOf(locked, deadline), err);
      printLock(locked.value(), out);
      return kSuccess;
    }
    QDBusPendingReply<> set = camera.SetKeepLocked(request.operands.front() == "on");
    set.waitForFinished();
    return report(outcomeOf(set, deadline), err);
  }

  // A command meant for one model: the owner's camera must be that one.
  if (request.camera) {
    limit(camera, deadline);
    QDBusPendingReply<QList<QVariantMap>> cameras = camera.Cameras();
    cameras.waitForFinished();
    if (cameras.isError()) return report(outcomeOf(cameras, deadline), err);
    bool chosen = false;
    for (const ListedCamera& c : camerasOf(cameras.value())) chosen = chosen || (c.chosen && c.key == *request.camera);
    if (!chosen) {
      err << "velto-ctl: no camera " << request.camera->hexString() << " is attached\n";
      return kNoCamera;
    }
  }

  if (cmd == "controls") {
    limit(camera, deadline);
    QDBusPendingReply<QList<QVariantMap>> controls = camera.Controls();
    controls.waitForFinished();
    if (controls.isError()) return report(outcomeOf(controls, deadline), err);
    std::vector<ControlRow> rows;
    for (const QVariantMap& m : controls.value()) {
      const QByteArray name = m.value("name").toString().toUtf8();
      const auto id = controlFromRawValue(std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
      if (!id) continue;
      ControlRow row{*id, std::nullopt, std::nullopt, {}};
      if (m.contains("min")) {
        row.range = ControlRange{m.value("min").toLongLong(), m.value("max").toLongLong(), m.value("step").toLongLong(),
                                 m.value("default").toLongLong()};
      }
      for (qlonglong mode : integersOf(m.value("modes"))) row.modes.push_back(mode);
      if (m.contains("value")) row.value = m.value("value").toLongLong();
      rows.push_back(row);
    }
    printControls(rows, request.json, out);
    return kSuccess;
  }
  if (cmd == "get") {
    std::vector<ControlID> ids;
    QStringList names;
    for (const std::string& name : request.operands) {
      const auto id = controlFromRawValue(name);
      if (!id) {
        err << "velto-ctl: unknown control '" << name << "'\n";
        return kInvalid;
      }
      ids.push_back(*id);
      names.append(QString::fromStdString(name));
    }
    limit(camera, deadline);
    QDBusPendingReply<QVariantMap, QVariantMap> got = camera.Get(names);
    got.waitForFinished();
    if (got.isError()) return report(outcomeOf(got, deadline), err);
    std::map<ControlID, std::string> failures;
    const QVariantMap failed = got.argumentAt<1>();
    for (ControlID id : ids) {
      if (failed.contains(nameOf(id))) failures[id] = failed.value(nameOf(id)).toString().toStdString();
    }
    return printReading(ids, valuesOf(got.argumentAt<0>()), failures, request.json, out, err) ? kSuccess : kCameraFailed;
  }
  if (cmd == "watch") return kUsage;  // watch waits for its turn instead (runCtl)

  if (cmd == "stats" || cmd == "snapshot" || cmd == "calibrate" || cmd == "formats") {
    CaptureParse parsed = parseCapture(request);
    if (!parsed.command) {
      err << "velto-ctl: " << parsed.error << "\n";
      return kInvalid;
    }
    const CaptureCommand& c = *parsed.command;
    CaptureProxy capture(QString::fromLatin1(kOwnerBusName), QString::fromLatin1(kCaptureBusPath), bus);
    limit(capture, deadline);
    QVariantMap result;
    switch (c.kind) {
      case CaptureCommand::Kind::stats: {
        QDBusPendingReply<QVariantMap> stats = capture.Stats(c.frames);
        stats.waitForFinished();
        if (stats.isError()) return report(outcomeOf(stats, deadline), err);
        result = stats.value();
        for (const char* list : {"luma", "red", "green", "blue"}) result.insert(list, numbersOf(result.value(list)));
        break;
      }
      case CaptureCommand::Kind::snapshot: {
        // The owner writes into the file we opened: only where we could write ourselves.
        SnapshotFile file(QFileInfo(c.file).absoluteFilePath());
        if (auto why = file.open()) return report({CommandOutcome::unavailable, *why}, err);
        const video::ModeWish& wish = c.mode;
        QDBusPendingReply<QVariantMap> shot =
            wish.empty() ? capture.Snapshot(QDBusUnixFileDescriptor(file.handle()))
                         : capture.SnapshotInMode(QDBusUnixFileDescriptor(file.handle()),
                                                  wish.fourcc ? QString::fromStdString(video::formatName(*wish.fourcc)) : QString(),
                                                  wish.width.value_or(0), wish.height.value_or(0), wish.fps.value_or(0));
        shot.waitForFinished();
        if (shot.isError()) return report(outcomeOf(shot, deadline), err);
        if (auto why = file.commit()) return report({CommandOutcome::unavailable, *why}, err);
        result = shot.value();
        result.insert(QStringLiteral("file"), file.path());
        break;
      }
      case CaptureCommand::Kind::formats: {
        QDBusPendingReply<QVariantMap> formats = capture.Formats();
        formats.waitForFinished();
        if (formats.isError()) return report(outcomeOf(formats, deadline), err);
        result = modesOf(formats.value());
        break;
      }
      case CaptureCommand::Kind::calibrate: {
        QDBusPendingReply<QString> calibrated =
            capture.Calibrate(QString::fromStdString(request.operands[0]), c.point.x(), c.point.y(), c.target);
        calibrated.waitForFinished();
        if (calibrated.isError()) return report(outcomeOf(calibrated, deadline), err);
        result.insert(QStringLiteral("message"), calibrated.value());
        break;
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
    for (ControlID id : ids) list.append(nameOf(id));
    return list;
  };
  limit(camera, deadline);
  QDBusPendingReply<> done;
  using Kind = ChangeCommand::Kind;
  switch (c.kind) {
    case Kind::set: {
      QVariantMap values;
      for (const auto& [id, v] : c.values) values.insert(nameOf(id), qlonglong(v));
      done = camera.Set(values);
      break;
    }
    case Kind::autoMode: done = camera.SetAuto(names(c.controls).front(), c.on); break;
    case Kind::defaults: done = camera.Defaults(names(c.controls)); break;
    case Kind::refocus: done = camera.Refocus(); break;
    case Kind::reset: done = camera.Reset(); break;
    case Kind::presetSave: done = camera.SavePreset(c.preset); break;
    case Kind::presetApply: done = camera.ApplyPreset(c.preset); break;
    case Kind::presetUpdate: done = camera.UpdatePreset(c.preset); break;
    case Kind::presetRename: done = camera.RenamePreset(c.preset, c.newName); break;
    case Kind::presetDelete: done = camera.DeletePreset(c.preset); break;
  }
  done.waitForFinished();
  return report(outcomeOf(done, deadline), err);
}

}  // namespace velto::cli
