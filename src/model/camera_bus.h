// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The session's owner on the session bus. One process in a user session owns the cameras and the
// settings: the desktop application when it runs, else `velto-ctl watch`. It holds the name
// kBusName and exports its store's operations at kBusPath, so that velto-ctl, run beside it, asks
// the running store instead of opening the camera and the settings file itself.
//
// Interface app.velto.Camera1 (every method answers once its work is done; a failure is a D-Bus
// error named app.velto.Camera1.Error.NoCamera, .Invalid, .CameraFailed, .Unavailable or .SaveFailed, with
// the reason as its message):
//   Cameras() -> av of a{sv}       name, vendorID, productID, locationID, carrier, chosen
//   Controls() -> av of a{sv}      name, title, [min, max, step, default], [modes (av)], [value]
//   Get(as names) -> a{sv}, a{sv}  current values read from the camera, and for each control that
//                                  could not be read, why (text)
//   Set(a{sv} values)              NAME -> integer
//   SetAuto(s name, b on), Defaults(as names), Refocus(), Reset()
//   Presets() -> av of a{sv}       id, name, values (a{sv})
//   SavePreset(s name), ApplyPreset(s preset), UpdatePreset(s preset),
//   RenamePreset(s preset, s newName), DeletePreset(s preset)   (a preset by name, else id)
//   KeepLocked() -> b, SetKeepLocked(b)
//   signal Changed()               values, presets or the camera changed
// Only the session's own user reaches the session bus; nothing is offered on the system bus.
//
// Main thread.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include "model/store_commands.h"

namespace velto {

class CameraStore;

inline constexpr char kBusName[] = "app.velto.Camera";
inline constexpr char kBusPath[] = "/app/velto/Camera";
inline constexpr char kBusInterface[] = "app.velto.Camera1";

// "app.velto.Camera1.Error.Invalid" for CommandOutcome::invalid, and back; unknown names are
// camera failures.
QString busErrorName(int code);
int codeOfBusError(const QString& name);

class CameraBusService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "app.velto.Camera1")

 public:
  // Exports the store's operations at kBusPath on `bus`; the name is the owner's business.
  CameraBusService(CameraStore& store, QDBusConnection bus, QObject* parent = nullptr);
  ~CameraBusService() override;

  bool isExported() const { return exported_; }

 public slots:
  Q_SCRIPTABLE QVariantList Cameras();
  Q_SCRIPTABLE void Controls(const QDBusMessage& call);
  Q_SCRIPTABLE void Get(const QStringList& names, const QDBusMessage& call);
  Q_SCRIPTABLE void Set(const QVariantMap& values, const QDBusMessage& call);
  Q_SCRIPTABLE void SetAuto(const QString& name, bool on, const QDBusMessage& call);
  Q_SCRIPTABLE void Defaults(const QStringList& names, const QDBusMessage& call);
  Q_SCRIPTABLE void Refocus(const QDBusMessage& call);
  Q_SCRIPTABLE void Reset(const QDBusMessage& call);
  Q_SCRIPTABLE QVariantList Presets();
  Q_SCRIPTABLE void SavePreset(const QString& name, const QDBusMessage& call);
  Q_SCRIPTABLE void ApplyPreset(const QString& preset, const QDBusMessage& call);
  Q_SCRIPTABLE void UpdatePreset(const QString& preset, const QDBusMessage& call);
  Q_SCRIPTABLE void RenamePreset(const QString& preset, const QString& newName, const QDBusMessage& call);
  Q_SCRIPTABLE void DeletePreset(const QString& preset, const QDBusMessage& call);
  Q_SCRIPTABLE bool KeepLocked();
  Q_SCRIPTABLE void SetKeepLocked(bool on);

 signals:
  Q_SCRIPTABLE void Changed();

 private:
  // Runs `command` and answers `call` with its outcome.
  void change(const ChangeCommand& command, const QDBusMessage& call);
  // Control names, checked against the catalogue; none (and `call` answered) when one is unknown.
  std::optional<std::vector<ControlID>> controlsNamed(const QStringList& names, const QDBusMessage& call);
  void answer(const QDBusMessage& call, const CommandOutcome& outcome, const QVariantList& results = {});
  // Get's reading: the first of `ids`, then the rest, then the answer.
  void readEach(std::vector<ControlID> ids, ControlValues values, QVariantMap failures, const QDBusMessage& call);

  CameraStore& store_;
  QDBusConnection bus_;
  bool exported_ = false;
};

}  // namespace velto
