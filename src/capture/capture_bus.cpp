// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/capture_bus.h"

#include <QDBusServiceWatcher>
#include <cmath>

#include "capture/caller_file.h"
#include "capture/preview_controller.h"
#include "capture_capture_adaptor.h"
#include "model/camera_bus.h"
#include "model/camera_store.h"
#include "support/log.h"

namespace velto {

std::optional<Calibrator::Tool> calibrationToolNamed(const QString& name) {
  if (name == QLatin1String("white-balance")) return Calibrator::Tool::whiteBalance;
  if (name == QLatin1String("exposure")) return Calibrator::Tool::exposure;
  return std::nullopt;
}

namespace {

bool isPicture(const CaptureCommand& command) { return command.kind != CaptureCommand::Kind::calibrate; }

QString busyText() { return QStringLiteral("the camera is busy with another request; try again in a moment"); }

}  // namespace

CaptureBusService::CaptureBusService(Clock& clock, StoreSource store, PreviewController& preview,
                                     Calibrator& calibrator, QDBusConnection bus, QObject* parent)
    : QObject(parent),
      clock_(clock),
      store_(std::move(store)),
      preview_(preview),
      calibrator_(calibrator),
      bus_(std::move(bus)),
      callers_(new QDBusServiceWatcher(this)) {
  registerBusTypes();
  new CaptureAdaptor(this);
  exported_ = bus_.registerObject(QString::fromLatin1(kCaptureBusPath), this, QDBusConnection::ExportAdaptors);
  if (!exported_) log::warning(log::Layer::capture, std::string("could not export ") + kCaptureBusPath + " on the session bus");
  callers_->setConnection(bus_);
  callers_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  connect(callers_, &QDBusServiceWatcher::serviceUnregistered, this, &CaptureBusService::callerGone);
}

CaptureBusService::~CaptureBusService() {
  endAll(QStringLiteral("the program that owns the cameras is quitting"));
  if (exported_) bus_.unregisterObject(QString::fromLatin1(kCaptureBusPath));
}

QVariantMap CaptureBusService::Stats(int frames) {
  setDelayedReply(true);
  if (frames < 1 || frames > 10000) {
    bus_.send(message().createErrorReply(busErrorName(CommandOutcome::invalid),
                                         QStringLiteral("stats takes a number of frames from 1 to 10000, not %1").arg(frames)));
    return {};
  }
  CaptureCommand command;
  command.kind = CaptureCommand::Kind::stats;
  command.frames = frames;
  enqueue(command);
  return {};
}

QVariantMap CaptureBusService::Snapshot(const QDBusUnixFileDescriptor& file) {
  setDelayedReply(true);
  // Checked before anything waits on it: the descriptor is the caller's word only.
  if (auto refusal = unwritableFile(file.fileDescriptor())) {
    bus_.send(message().createErrorReply(busErrorName(CommandOutcome::invalid), *refusal));
    return {};
  }
  CaptureCommand command;
  command.kind = CaptureCommand::Kind::snapshot;
  command.file = QStringLiteral("the snapshot");
  command.fd = file.fileDescriptor();
  enqueue(command, file);
  return {};
}

QVariantMap CaptureBusService::SnapshotInMode(const QDBusUnixFileDescriptor& file, const QString& format, int width,
                                              int height, int fps) {
  setDelayedReply(true);
  video::ModeWish wish;
  QString refusal;
  if (!format.isEmpty()) {
    wish.fourcc = video::formatNamed(format.toStdString());
    if (!wish.fourcc) refusal = QStringLiteral("unknown format '%1' (MJPEG, YUY2, NV12 or H.264)").arg(format);
  }
  if (width < 0 || height < 0 || fps < 0 || (width == 0) != (height == 0)) {
    refusal = QStringLiteral("the size takes a width and a height above 0, or 0 for both");
  }
  if (width > 0) {
    wish.width = width;
    wish.height = height;
  }
  if (fps > 0) wish.fps = fps;
  if (auto unwritable = unwritableFile(file.fileDescriptor())) refusal = *unwritable;
  if (!refusal.isEmpty()) {
    bus_.send(message().createErrorReply(busErrorName(CommandOutcome::invalid), refusal));
    return {};
  }
  CaptureCommand command;
  command.kind = CaptureCommand::Kind::snapshot;
  command.file = QStringLiteral("the snapshot");
  command.fd = file.fileDescriptor();
  command.mode = wish;
  enqueue(command, file);
  return {};
}

QVariantMap CaptureBusService::Formats() {
  setDelayedReply(true);
  CaptureCommand command;
  command.kind = CaptureCommand::Kind::formats;
  enqueue(command);
  return {};
}

QString CaptureBusService::Calibrate(const QString& tool, double x, double y, double target) {
  setDelayedReply(true);
  const auto chosen = calibrationToolNamed(tool);
  QString refusal;
  if (!chosen) {
    refusal = QStringLiteral("calibrate takes white-balance or exposure");
  } else if (!(x >= 0 && x <= 1 && y >= 0 && y <= 1)) {  // NaN is outside too
    refusal = QStringLiteral("the point takes numbers from 0 to 1");
  } else if (std::abs(target - 0.4) > 1e-9 && std::abs(target - 0.5) > 1e-9 && std::abs(target - 0.6) > 1e-9) {
    refusal = QStringLiteral("the target takes 0.4, 0.5 or 0.6");
  }
  if (!refusal.isEmpty()) {
    bus_.send(message().createErrorReply(busErrorName(CommandOutcome::invalid), refusal));
    return {};
  }
  CaptureCommand command;
  command.kind = CaptureCommand::Kind::calibrate;
  command.tool = *chosen;
  command.point = {x, y};
  command.target = target;
  enqueue(command);
  return {};
}

void CaptureBusService::enqueue(CaptureCommand command, QDBusUnixFileDescriptor file) {
  // Counted over the jobs held, which the limits keep to a handful: each call costs the same,
  // however many a caller sends.
  const QString caller = message().service();
  int waiting = 0;
  int callers = 0;
  for (const auto& [id, job] : jobs_) {
    if (!job.started) ++waiting;
    if (job.call.service() == caller) ++callers;
  }
  if (waiting >= kMaxWaitingJobs || callers >= kMaxJobsPerCaller) {
    if (!refusing_) {
      log::info(log::Layer::capture, "picture requests are refused as busy: " + std::to_string(jobs_.size()) +
                                         " held, " + std::to_string(callers) + " of them from " + caller.toStdString());
    }
    refusing_ = true;
    bus_.send(message().createErrorReply(QString::fromLatin1(kBusyError), busyText()));
    return;
  }
  refusing_ = false;
  const JobID id = ++serial_;
  command.client = QStringLiteral("cli-%1").arg(id);
  Job& job = jobs_[id];
  job.command = std::move(command);
  job.call = message();
  job.file = std::move(file);
  if (callers == 0) callers_->addWatchedService(caller);
  // Waiting longer than this for another caller's work: the camera is busy.
  job.deadline = clock_.singleShot(this, kTurnWait, [this, id] { fail(id, CommandOutcome::unavailable, QString()); });
  startWaiting();
}

void CaptureBusService::startWaiting() {
  int pictures = 0;
  bool calibrating = false;
  std::vector<JobID> waiting;
  for (const auto& [id, job] : jobs_) {
    if (!job.started) waiting.push_back(id);
    else if (isPicture(job.command)) ++pictures;
    else calibrating = true;
  }
  for (JobID id : waiting) {
    const auto it = jobs_.find(id);
    if (it == jobs_.end()) continue;
    Job& job = it->second;
    const bool picture = isPicture(job.command);
    if (picture ? pictures >= kMaxPictureJobs : calibrating) continue;
    CameraStore* store = store_();
    const auto target = store != nullptr ? captureTargetOf(*store) : std::nullopt;
    if (!target) {
      fail(id, CommandOutcome::noCamera, QStringLiteral("no camera is attached"));
      continue;
    }
    job.started = true;
    job.deadline.cancel();
    if (picture) ++pictures;
    else calibrating = true;
    const QPointer<QObject> running =
        runCapture(clock_, preview_, *target, store, &calibrator_, job.command, [this, id](CaptureOutcome o) {
          finish(id, o);
          // The next ones start from the event loop, after this job has wound down.
          QMetaObject::invokeMethod(this, [this] { startWaiting(); }, Qt::QueuedConnection);
        });
    // A job may have ended before runCapture returned.
    if (const auto still = jobs_.find(id); still != jobs_.end()) still->second.running = running;
  }
}

void CaptureBusService::finish(JobID id, const CaptureOutcome& o) {
  const auto it = jobs_.find(id);
  if (it == jobs_.end()) return;
  const QDBusMessage call = it->second.call;
  jobs_.erase(it);
  // A caller that has gone meanwhile is not an error: the bus drops the answer.
  if (o.outcome.code != CommandOutcome::ok) {
    bus_.send(call.createErrorReply(o.outcome.message.isEmpty() ? QString::fromLatin1(kBusyError) : busErrorName(o.outcome.code),
                                    o.outcome.message.isEmpty() ? busyText() : o.outcome.message));
  } else if (o.result.contains(QStringLiteral("message"))) {
    bus_.send(call.createReply(o.result.value(QStringLiteral("message"))));
  } else if (o.result.contains(QStringLiteral("modes"))) {
    // The modes as the interface has them: one array per field.
    QStringList formats, fourccs;
    QList<int> widths, heights, rates;
    for (const QVariant& entry : o.result.value(QStringLiteral("modes")).toList()) {
      const QVariantMap mode = entry.toMap();
      formats.append(mode.value(QStringLiteral("format")).toString());
      fourccs.append(mode.value(QStringLiteral("fourcc")).toString());
      widths.append(mode.value(QStringLiteral("width")).toInt());
      heights.append(mode.value(QStringLiteral("height")).toInt());
      rates.append(mode.value(QStringLiteral("fps")).toInt());
    }
    bus_.send(call.createReply(QVariant(QVariantMap{{QStringLiteral("camera"), o.result.value(QStringLiteral("camera"))},
                                                    {QStringLiteral("format"), formats},
                                                    {QStringLiteral("fourcc"), fourccs},
                                                    {QStringLiteral("width"), QVariant::fromValue(widths)},
                                                    {QStringLiteral("height"), QVariant::fromValue(heights)},
                                                    {QStringLiteral("fps"), QVariant::fromValue(rates)}})));
  } else {
    // The histograms as the interface has them: arrays of doubles (ad), not of variants.
    QVariantMap result = o.result;
    for (auto it = result.begin(); it != result.end(); ++it) {
      if (it.value().typeId() != QMetaType::QVariantList) continue;
      QList<double> numbers;
      for (const QVariant& v : it.value().toList()) numbers.append(v.toDouble());
      it.value() = QVariant::fromValue(numbers);
    }
    bus_.send(call.createReply(QVariant(result)));
  }
  const bool stillHere = std::any_of(jobs_.begin(), jobs_.end(), [&](const auto& j) { return j.second.call.service() == call.service(); });
  if (!stillHere) callers_->removeWatchedService(call.service());
}

void CaptureBusService::fail(JobID id, int code, const QString& why) {
  const auto it = jobs_.find(id);
  if (it == jobs_.end()) return;
  const CommandOutcome outcome{code, why};
  // A running job answers through its own end; one that already ended is answered here.
  if (it->second.running) cancelCapture(it->second.running, outcome);
  finish(id, {outcome, {}});
}

void CaptureBusService::callerGone(const QString& name) {
  std::vector<JobID> gone;
  for (const auto& [id, job] : jobs_) {
    if (job.call.service() == name) gone.push_back(id);
  }
  if (gone.empty()) return;
  log::info(log::Layer::capture, "the caller " + name.toStdString() + " left the bus; its picture requests end");
  for (JobID id : gone) fail(id, CommandOutcome::cameraFailed, QStringLiteral("the caller left"));
  startWaiting();
}

void CaptureBusService::endAll(const QString& why) {
  while (!jobs_.empty()) fail(jobs_.begin()->first, CommandOutcome::cameraFailed, why);
}

}  // namespace velto
