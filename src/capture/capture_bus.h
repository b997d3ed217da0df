// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The picture on the session bus: the session's owner (the application or `velto-ctl watch`)
// exports app.velto.Capture1 (app.velto.Capture1.xml beside this file) beside its store, so that
// velto-ctl's stats, snapshot and calibrate capture through the owner's preview instead of
// fighting it for the video device.
//
// The owner's work is bounded by its callers:
//   - arguments are checked as velto-ctl checks them (1 to 10 000 frames, a point inside the
//     picture, an exposure target of 0.4, 0.5 or 0.6);
//   - statistics and snapshots share the running stream, up to kMaxPictureJobs at once; one
//     calibration runs at a time. A call waits at most kTurnWait for its turn, then answers Busy;
//   - at most kMaxWaitingJobs calls wait, and one caller has at most kMaxJobsPerCaller running or
//     waiting: a call beyond either answers Busy at once, so one caller's flood costs the others
//     nothing and the owner holds a handful of calls (and their descriptors) however many come;
//   - a snapshot's descriptor must be a regular file or a pipe open for writing (else Invalid);
//     the picture is written off the main thread, never blocking on it, within
//     kSnapshotWriteTimeout (capture_commands.h);
//   - a job ends (and its place in the queue is given up) as soon as its caller leaves the bus.
//
// Main thread.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <map>
#include <memory>

#include "capture/capture_commands.h"

class QDBusServiceWatcher;

namespace velto {

inline constexpr char kCaptureBusPath[] = "/app/velto/Camera/Capture";
inline constexpr char kCaptureBusInterface[] = "app.velto.Capture1";

class CaptureBusService : public QObject, protected QDBusContext {
  Q_OBJECT

 public:
  static constexpr int kMaxPictureJobs = 4;
  static constexpr int kMaxWaitingJobs = 8;
  static constexpr int kMaxJobsPerCaller = 4;
  static constexpr std::chrono::seconds kTurnWait{5};

  // The store of the session while this process owns it; null otherwise.
  using StoreSource = std::function<CameraStore*()>;

  // Exported at once on `bus`; `preview` and `calibrator` must outlive the service.
  CaptureBusService(Clock& clock, StoreSource store, PreviewController& preview, Calibrator& calibrator,
                    QDBusConnection bus, QObject* parent = nullptr);
  ~CaptureBusService() override;

  bool isExported() const { return exported_; }
  // Ends every job and empties the queue, answering each with `why` (the store is going).
  void endAll(const QString& why);

  // Called by the adaptor; each answers its call itself.
  QVariantMap Stats(int frames);
  QVariantMap Snapshot(const QDBusUnixFileDescriptor& file);
  QVariantMap SnapshotInMode(const QDBusUnixFileDescriptor& file, const QString& format, int width, int height, int fps);
  QVariantMap Formats();
  QString Calibrate(const QString& tool, double x, double y, double target);

 private:
  struct Job {
    CaptureCommand command;
    QDBusMessage call;
    QDBusUnixFileDescriptor file;  // a snapshot's, until the job ends
    QPointer<QObject> running;     // none while it waits
    bool started = false;
    TimerHandle deadline;          // while it waits
  };
  using JobID = std::uint64_t;

  void enqueue(CaptureCommand command, QDBusUnixFileDescriptor file = {});
  // Starts what may start now.
  void startWaiting();
  // Ends the job `id` (a running one is cancelled) and answers its caller with `code` and `why`,
  // or with Busy when `why` is empty.
  void fail(JobID id, int code, const QString& why);
  // Answers the job `id` with `outcome` and forgets it; nothing when it is gone already.
  void finish(JobID id, const CaptureOutcome& outcome);
  // The caller `name` left the bus: its jobs end.
  void callerGone(const QString& name);

  Clock& clock_;
  StoreSource store_;
  PreviewController& preview_;
  Calibrator& calibrator_;
  QDBusConnection bus_;
  QDBusServiceWatcher* callers_;
  bool exported_ = false;
  std::map<JobID, Job> jobs_;  // in order of arrival
  JobID serial_ = 0;
  bool refusing_ = false;  // calls are refused as busy; said once in the log until one is taken
};

// "white-balance" and "exposure"; none for anything else.
std::optional<Calibrator::Tool> calibrationToolNamed(const QString& name);

}  // namespace velto
