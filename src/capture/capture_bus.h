// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The picture on the session bus: the session's owner (the application or `velto-ctl watch`)
// exports these beside its store, so that velto-ctl's stats, snapshot and calibrate capture
// through the owner's preview as the client "cli" instead of fighting it for the video device.
//
// Object /app/velto/Capture, interface app.velto.Capture1 (answers once the work is done; errors
// as for app.velto.Camera1, with .Unavailable when the picture cannot be had):
//   Stats(i frames) -> a{sv}                      width, height, frames, clippedHighlights,
//                                                 crushedShadows, luma, red, green, blue
//   Snapshot(s file) -> a{sv}                     width, height, file (an absolute path)
//   Calibrate(s tool, d x, d y, d target) -> s    tool "white-balance" or "exposure"; the message
// Commands run one at a time, in the order they arrive.
//
// Main thread.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantMap>
#include <deque>
#include <functional>
#include <memory>

#include "capture/capture_commands.h"
#include "platform/video/capture_backend.h"

namespace velto {

inline constexpr char kCaptureBusPath[] = "/app/velto/Capture";
inline constexpr char kCaptureBusInterface[] = "app.velto.Capture1";

class CaptureBusService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "app.velto.Capture1")

 public:
  // `store`, `preview` and `calibrator` must outlive the service.
  CaptureBusService(Clock& clock, CameraStore& store, PreviewController& preview, Calibrator& calibrator,
                    QDBusConnection bus, QObject* parent = nullptr);
  ~CaptureBusService() override;

  bool isExported() const { return exported_; }

 public slots:
  Q_SCRIPTABLE void Stats(int frames, const QDBusMessage& call);
  Q_SCRIPTABLE void Snapshot(const QString& file, const QDBusMessage& call);
  Q_SCRIPTABLE void Calibrate(const QString& tool, double x, double y, double target, const QDBusMessage& call);

 private:
  void enqueue(CaptureCommand command, const QDBusMessage& call);
  void runNext();

  Clock& clock_;
  CameraStore& store_;
  PreviewController& preview_;
  Calibrator& calibrator_;
  QDBusConnection bus_;
  bool exported_ = false;
  std::deque<std::pair<CaptureCommand, QDBusMessage>> queue_;
  bool running_ = false;
};

// Gives an owner without a window of its own (`velto-ctl watch`) the picture: a preview on
// `backend`, a calibrator and the service on `bus`, all children of `store`, gone with it.
void attachCapture(Clock& clock, CameraStore& store, std::unique_ptr<video::CaptureBackend> backend, QDBusConnection bus);

// "white-balance" and "exposure"; none for anything else.
std::optional<Calibrator::Tool> calibrationToolNamed(const QString& name);

}  // namespace velto
