// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/capture_bus.h"

#include <QDir>
#include <QPointer>

#include "capture/preview_controller.h"
#include "model/camera_bus.h"
#include "model/camera_store.h"

namespace velto {

std::optional<Calibrator::Tool> calibrationToolNamed(const QString& name) {
  if (name == QLatin1String("white-balance")) return Calibrator::Tool::whiteBalance;
  if (name == QLatin1String("exposure")) return Calibrator::Tool::exposure;
  return std::nullopt;
}

void attachCapture(Clock& clock, CameraStore& store, std::unique_ptr<video::CaptureBackend> backend, QDBusConnection bus) {
  auto* preview = new PreviewController(clock, std::move(backend), [&store] { store.resetCamera(); }, &store);
  auto* calibrator = new Calibrator(clock, &store);
  new CaptureBusService(clock, store, *preview, *calibrator, std::move(bus), &store);
}

CaptureBusService::CaptureBusService(Clock& clock, CameraStore& store, PreviewController& preview,
                                     Calibrator& calibrator, QDBusConnection bus, QObject* parent)
    : QObject(parent), clock_(clock), store_(store), preview_(preview), calibrator_(calibrator), bus_(std::move(bus)) {
  exported_ = bus_.registerObject(QString::fromLatin1(kCaptureBusPath), this, QDBusConnection::ExportScriptableSlots);
}

CaptureBusService::~CaptureBusService() {
  if (exported_) bus_.unregisterObject(QString::fromLatin1(kCaptureBusPath));
}

void CaptureBusService::Stats(int frames, const QDBusMessage& call) {
  CaptureCommand command;
  command.kind = CaptureCommand::Kind::stats;
  command.frames = frames;
  enqueue(command, call);
}

void CaptureBusService::Snapshot(const QString& file, const QDBusMessage& call) {
  CaptureCommand command;
  command.kind = CaptureCommand::Kind::snapshot;
  command.file = file;
  enqueue(command, call);
}

void CaptureBusService::Calibrate(const QString& tool, double x, double y, double target, const QDBusMessage& call) {
  CaptureCommand command;
  command.kind = CaptureCommand::Kind::calibrate;
  command.tool = calibrationToolNamed(tool).value_or(Calibrator::Tool::none);
  command.point = {x, y};
  command.target = target;
  enqueue(command, call);
}

void CaptureBusService::enqueue(CaptureCommand command, const QDBusMessage& call) {
  call.setDelayedReply(true);
  if (command.kind == CaptureCommand::Kind::calibrate && command.tool == Calibrator::Tool::none) {
    bus_.send(call.createErrorReply(busErrorName(CommandOutcome::invalid),
                                    QStringLiteral("calibrate takes white-balance or exposure")));
    return;
  }
  if (command.kind == CaptureCommand::Kind::snapshot && QDir::isRelativePath(command.file)) {
    bus_.send(call.createErrorReply(busErrorName(CommandOutcome::invalid), QStringLiteral("the snapshot needs an absolute path")));
    return;
  }
  queue_.emplace_back(std::move(command), call);
  if (!running_) runNext();
}

void CaptureBusService::runNext() {
  if (queue_.empty()) {
    running_ = false;
    return;
  }
  running_ = true;
  auto [command, call] = std::move(queue_.front());
  queue_.pop_front();
  const auto target = captureTargetOf(store_);
  if (!target) {
    bus_.send(call.createErrorReply(busErrorName(CommandOutcome::noCamera), QStringLiteral("no camera is attached")));
    return runNext();
  }
  const bool calibrating = command.kind == CaptureCommand::Kind::calibrate;
  // The preview may outlive this service (the application keeps one preview while the store
  // comes and goes with the session's ownership): a job that ends after us answers nobody.
  runCapture(clock_, preview_, *target, &store_, &calibrator_, command, [self = QPointer(this), call = call, calibrating](CaptureOutcome o) {
    if (!self) return;
    CaptureBusService* service = self.data();
    if (o.outcome.code == CommandOutcome::ok) {
      service->bus_.send(call.createReply(calibrating ? QVariant(o.result.value(QStringLiteral("message"))) : QVariant(o.result)));
    } else {
      service->bus_.send(call.createErrorReply(busErrorName(o.outcome.code), o.outcome.message));
    }
    // The next one starts from the event loop, after this job has wound down.
    QMetaObject::invokeMethod(service, [service] { service->runNext(); }, Qt::QueuedConnection);
  });
}

}  // namespace velto
