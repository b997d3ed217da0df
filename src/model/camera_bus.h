// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The session's owner on the session bus. One process in a user session owns the cameras and the
// settings: the desktop application when it runs, else `velto-ctl watch` (session_owner.h). It
// holds the name kOwnerBusName and exports its store's operations at kCameraBusPath, so that
// velto-ctl, run beside it, asks the running store instead of opening the camera and the settings
// file itself. The interface, its arguments and its errors are those of app.velto.Camera1.xml
// beside this file; the adaptor generated from it calls the slots below.
//
// Main thread.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "model/store_commands.h"

namespace velto {

class CameraStore;

inline constexpr char kOwnerBusName[] = "app.velto.Camera.Owner";
inline constexpr char kCameraBusPath[] = "/app/velto/Camera/Controls";
inline constexpr char kCameraBusInterface[] = "app.velto.Camera1";

// A failure's name on the bus, under app.velto.Camera1.Error: "…Invalid" for
// CommandOutcome::invalid, and back; unknown names are camera failures.
QString busErrorName(int code);
int codeOfBusError(const QString& name);
// Ours, as opposed to the bus's own (a caller gone, a time-out, an unknown method).
bool isOwnersError(const QString& name);
// Another caller's work holds the camera; read back as CommandOutcome::unavailable.
inline constexpr char kBusyError[] = "app.velto.Camera1.Error.Busy";

// Lets the D-Bus types of the interfaces (lists of records) be sent and read; idempotent.
void registerBusTypes();

class CameraBusService : public QObject, protected QDBusContext {
  Q_OBJECT

 public:
  // The most control names one Get reads.
  static constexpr int kMostNamesRead = 64;

  // Exports the interface at kCameraBusPath on `bus` at once, before any name is claimed; until a
  // store is set, every call answers NoCamera.
  explicit CameraBusService(QDBusConnection bus, QObject* parent = nullptr);
  ~CameraBusService() override;

  bool isExported() const { return exported_; }
  // The store whose operations are offered; null while this process does not own the session.
  void setStore(CameraStore* store);

  // Called by the adaptor. Each answers the call itself once its work is done (the values returned
  // here are never sent).
  QList<QVariantMap> Cameras();
  QList<QVariantMap> Controls();
  QVariantMap Get(const QStringList& names, QVariantMap& failures);
  void Set(const QVariantMap& values);
  void SetAuto(const QString& name, bool on);
  void Defaults(const QStringList& names);
  void Refocus();
  void Reset();
  QList<QVariantMap> Presets();
  void SavePreset(const QString& name);
  void ApplyPreset(const QString& preset);
  void UpdatePreset(const QString& preset);
  void RenamePreset(const QString& preset, const QString& newName);
  void DeletePreset(const QString& preset);
  bool KeepLocked();
  void SetKeepLocked(bool on);

 signals:
  void Changed();

 private:
  // A call answered later: `id` is 0 for one answered before any work began.
  struct Call {
    std::uint64_t id = 0;
    QDBusMessage message;
  };

  // Takes the current call over: answered later through answer(). None (and the call answered
  // NoCamera) without a store.
  std::optional<Call> takeCall();
  // Runs `command` and answers the current call with its outcome.
  void change(const ChangeCommand& command);
  // Control names, checked against the catalogue; none (and `call` answered) when one is unknown.
  std::optional<std::vector<ControlID>> controlsNamed(const QStringList& names, const Call& call);
  void answer(const Call& call, const CommandOutcome& outcome, const QVariantList& results = {});
  // Runs `then` now, or once the store has settled on its camera when it is between connections.
  void whenSettled(std::function<void()> then);
  void listControls(const Call& call);
  // Get's reading: the first of `ids`, then the rest, then the answer. A control the store could
  // not read because the camera was reconnecting is read once more when it is back.
  void readEach(std::vector<ControlID> ids, ControlValues values, QVariantMap failures, const Call& call,
                bool retried = false);

  QDBusConnection bus_;
  QPointer<CameraStore> store_;
  bool exported_ = false;
  // Calls the store is working on, answered when the store goes; their late answers are dropped.
  std::map<std::uint64_t, QDBusMessage> open_;
  std::uint64_t lastCall_ = 0;
};

}  // namespace velto
