// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/capture_commands.h"

#include <QBuffer>
#include <QImageWriter>
#include <QThreadPool>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "capture/caller_file.h"
#include "capture/frame_analyzer.h"
#include "capture/preview_controller.h"
#include "capture/snapshot_saver.h"
#include "model/camera_store.h"
#include "support/log.h"
#include "support/weak_context.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

constexpr auto kPoll = 50ms;

// Snapshots being written: a thread each for as many as run side by side, apart from Qt's global
// pool, whose threads a caller's stalled pipe must not hold. The pictures are made (decoded in
// full and encoded) one at a time on a thread of their own: a flood of callers costs one full
// picture's memory, not one for every writer.
QThreadPool& sizedPool(QThreadPool& pool, int threads) {
  pool.setMaxThreadCount(threads);
  return pool;
}
QThreadPool& pictureWriters() {
  static QThreadPool pool;
  static QThreadPool& sized = sizedPool(pool, 4);
  return sized;
}
QThreadPool& pictureMaker() {
  static QThreadPool pool;
  static QThreadPool& sized = sizedPool(pool, 1);
  return sized;
}

QVariantList numbers(const std::vector<float>& values) {
  QVariantList list;
  list.reserve(static_cast<qsizetype>(values.size()));
  for (float v : values) list.append(double(v));
  return list;
}

// One command from start to end. Lives as a child of the preview, deletes itself when done.
class CaptureJob final : public QObject {
 public:
  CaptureJob(Clock& clock, PreviewController& preview, CaptureTarget target, CameraStore* store, Calibrator* calibrator,
             CaptureCommand command, std::function<void(CaptureOutcome)> done)
      : QObject(&preview),
        clock_(clock),
        preview_(preview),
        target_(std::move(target)),
        store_(store),
        calibrator_(calibrator),
        command_(std::move(command)),
        done_(std::move(done)) {}

  void cancel(CommandOutcome outcome) { finish(std::move(outcome)); }

  void begin() {
    if (command_.kind == CaptureCommand::Kind::calibrate && (store_ == nullptr || calibrator_ == nullptr)) {
      return finish({CommandOutcome::cameraFailed, QStringLiteral("calibration needs the camera store")});
    }
    // The store may go before the job does (the session's ownership moved on): the job ends then,
    // without touching it again.
    if (store_ != nullptr) {
      connect(store_, &QObject::destroyed, this, [this] {
        store_ = nullptr;
        finish({CommandOutcome::cameraFailed, QStringLiteral("the camera store was closed")});
      });
    }
    if (command_.kind == CaptureCommand::Kind::formats || !command_.mode.empty()) {
      // What the camera offers first, without streaming.
      preview_.lookUpModes(target_.locationID, target_.key,
                           [self = QPointer<CaptureJob>(this)](std::optional<video::CaptureDevice> device,
                                                               std::vector<video::CaptureMode> modes) {
                             if (self) self->modesFound(device.has_value(), modes);
                           });
      return;
    }
    startPicture();
  }

 private:
  void modesFound(bool found, const std::vector<video::CaptureMode>& modes) {
    if (finished_) return;
    if (!found) return finish({CommandOutcome::unavailable, QStringLiteral("no video device belongs to %1").arg(target_.name)});
    if (command_.kind == CaptureCommand::Kind::formats) {
      QVariantList list;
      for (const video::CaptureMode& m : modes) {
        list.append(QVariantMap{{QStringLiteral("format"), QString::fromStdString(video::formatName(m.fourcc))},
                                {QStringLiteral("fourcc"), QString::fromStdString(video::modeKey(m).substr(0, 4))},
                                {QStringLiteral("width"), m.width},
                                {QStringLiteral("height"), m.height},
                                {QStringLiteral("fps"), m.fps}});
      }
      return finish({}, {{QStringLiteral("camera"), target_.name}, {QStringLiteral("modes"), list}});
    }
    mode_ = video::pickMode(modes, command_.mode);
    if (!mode_) {
      const QString wish = QString::fromStdString(video::describeWish(command_.mode));
      if (modes.empty()) return finish({CommandOutcome::invalid, QStringLiteral("%1 does not say which modes it offers, so %2 cannot be chosen").arg(target_.name, wish)});
      return finish({CommandOutcome::invalid,
                     QStringLiteral("%1 does not offer %2; it offers %3").arg(target_.name, wish, summarizeModes(modes))});
    }
    preview_.setClientMode(command_.client, mode_);
    startPicture();
  }

  void startPicture() {
    // A camera may take a moment before its first frame; a few frames also let the exposure settle.
    needed_ = command_.kind == CaptureCommand::Kind::stats ? std::max(command_.frames, 1) : 1;
    preview_.start(command_.client, target_.locationID, target_.key);
    startCount_ = lastCount_ = preview_.analyzer().frameCount();
    lastProgress_ = clock_.monotonicNow();
    modeSince_ = lastProgress_;
    poll();
  }

  // The newest frame is of the mode asked for (any frame when none was).
  bool inMode() const {
    if (!mode_) return true;
    const Frame frame = preview_.analyzer().latest();
    return frame.sourceWidth() == mode_->width && frame.sourceHeight() == mode_->height;
  }

  void poll() {
    if (auto refusal = pictureRefusal()) return finish({CommandOutcome::unavailable, *refusal});
    const auto now = clock_.monotonicNow();
    const std::int64_t count = preview_.analyzer().frameCount();
    if (count != lastCount_) {
      lastCount_ = count;
      lastProgress_ = now;
    }
    if (count - startCount_ >= needed_) {
      if (inMode()) return pictureArrived();
      // Frames of the session before the mode took hold; the next ones count.
      startCount_ = count;
      if (now - modeSince_ >= kPictureTimeout) {
        return finish({CommandOutcome::unavailable, QStringLiteral("%1 sent no picture at %2 within %3 s")
                                                        .arg(target_.name, QString::fromStdString(video::describeMode(*mode_)))
                                                        .arg(std::chrono::duration_cast<std::chrono::seconds>(kPictureTimeout).count())});
      }
    }
    if (now - lastProgress_ >= kPictureTimeout) return finish({CommandOutcome::unavailable, stalled()});
    timer_ = clock_.singleShot(this, kPoll, [this] { poll(); });
  }

  // Why the picture cannot be had at all, as soon as that is known: from what the session says
  // now, not from what an earlier attempt left behind.
  std::optional<QString> pictureRefusal() const {
    if (preview_.state() == PreviewController::State::unauthorized) {
      return QStringLiteral("can't open the video device of %1 (permission denied): add your user to the video group "
                            "or install the udev rule, then reconnect the camera")
          .arg(target_.name);
    }
    // The preview let the camera go for another program, which has it now.
    if (const auto& holder = preview_.pausedFor()) {
      return QStringLiteral("%1 (PID %2) is using the camera").arg(QString::fromStdString(holder->name)).arg(holder->pid);
    }
    if (const auto& problem = preview_.problem()) {
      using Kind = video::SessionError::Kind;
      if (problem->kind == Kind::busy) {
        // The program that holds the camera, when it could be seen, in the session's words.
        if (problem->holder) {
          QString text = QString::fromStdString(problem->text);
          if (text.endsWith(u'.')) text.chop(1);
          return text;
        }
        return QStringLiteral("%1 is in use by another application").arg(target_.name);
      }
      if (problem->kind == Kind::missingElement || problem->kind == Kind::denied) {
        return QString::fromStdString(problem->text);
      }
      // A mode the camera advertises and then will not stream in (the simulator's H.264).
      if (mode_ && problem->kind == Kind::failed) return QString::fromStdString(problem->text);
    }
    return std::nullopt;
  }

  QString stalled() const {
    if (preview_.state() == PreviewController::State::noCamera) {
      return QStringLiteral("no video device belongs to %1").arg(target_.name);
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(kPictureTimeout).count();
    if (lastCount_ == startCount_) return QStringLiteral("%1 sent no picture within %2 s").arg(target_.name).arg(seconds);
    return QStringLiteral("the picture of %1 stopped for %2 s").arg(target_.name).arg(seconds);
  }

  void pictureArrived() {
    switch (command_.kind) {
      case CaptureCommand::Kind::stats: return stats();
      case CaptureCommand::Kind::snapshot: return snapshot();
      case CaptureCommand::Kind::calibrate: return calibrate();
      case CaptureCommand::Kind::formats: return;  // answered from the look-up
    }
  }

  void stats() {
    const Frame frame = preview_.analyzer().latest();
    const FrameStats s = analyzeFrame(frame);
    QVariantMap result{{QStringLiteral("width"), frame.sourceWidth()},
                       {QStringLiteral("height"), frame.sourceHeight()},
                       {QStringLiteral("frames"), qlonglong(lastCount_ - startCount_)},
                       {QStringLiteral("clippedHighlights"), s.clippedHighlights},
                       {QStringLiteral("crushedShadows"), s.crushedShadows},
                       {QStringLiteral("luma"), numbers(s.luma)},
                       {QStringLiteral("red"), numbers(s.red)},
                       {QStringLiteral("green"), numbers(s.green)},
                       {QStringLiteral("blue"), numbers(s.blue)}};
    finish({}, std::move(result));
  }

  void snapshot() {
    // The caller's descriptor is the caller's business: a pipe may never be read. The full picture
    // is decoded, encoded and written on a worker, into a duplicate of its own; the main thread
    // only waits for the answer, at most kSnapshotWriteTimeout.
    const int fd = command_.fd < 0 ? -1 : ::fcntl(command_.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
      return finish({CommandOutcome::unavailable,
                     QStringLiteral("can't write %1 (%2)").arg(command_.file, QString::fromLocal8Bit(std::strerror(errno)))});
    }
    timer_ = clock_.singleShot(this, kSnapshotWriteTimeout, [this] {
      writing_.cancel();
      finish({CommandOutcome::unavailable, QStringLiteral("can't write %1 (nothing took it within %2 s)")
                                               .arg(command_.file)
                                               .arg(std::chrono::duration_cast<std::chrono::seconds>(kSnapshotWriteTimeout).count())});
    });
    pictureMaker().start([frame = preview_.analyzer().latest(), fd, cancel = writing_, back = toSelf_, self = this] {
      QByteArray png;
      QSize size;
      {
        const Frame full = frame.fullResolution();
        size = QSize(full.width(), full.height());
        QBuffer buffer(&png);
        if (full.pixels() == nullptr || !buffer.open(QIODevice::WriteOnly) || !QImageWriter(&buffer, "png").write(frameImage(full))) {
          png.clear();
        }
      }
      const bool encoded = !png.isEmpty();
      pictureWriters().start([png = std::move(png), encoded, size, fd, cancel, back, self] {
        const int err = encoded ? writeFully(fd, png, cancel) : 0;
        ::close(fd);
        // Runs only while the job exists.
        back.post([self, encoded, err, size] { self->written(encoded, err, size); });
      });
    });
  }

  void written(bool encoded, int err, QSize size) {
    if (!encoded) return finish({CommandOutcome::cameraFailed, QStringLiteral("the frame could not be read")});
    if (err != 0) {
      return finish({CommandOutcome::unavailable,
                     QStringLiteral("can't write %1 (%2)")
                         .arg(command_.file, err == ENXIO || err == EPIPE ? QStringLiteral("nobody reads the pipe")
                                                          : QString::fromLocal8Bit(std::strerror(err)))});
    }
    finish({}, {{QStringLiteral("width"), size.width()}, {QStringLiteral("height"), size.height()}});
  }

  void calibrate() {
    const QString errorBefore = store_->lastErrorText();
    connect(store_, &CameraStore::lastErrorChanged, this, [this, errorBefore] {
      if (!store_->lastErrorText().isEmpty() && store_->lastErrorText() != errorBefore) writeError_ = store_->lastErrorText();
    });
    connect(calibrator_, &Calibrator::busyChanged, this, [this] {
      if (!calibrator_->busy()) calibrated();
    });
    calibrator_->setTool(command_.tool);
    calibrator_->setExposureTarget(command_.target);
    calibrator_->run(command_.point, *store_, preview_.analyzer());
    // A camera without the control ends before the search starts.
    if (!calibrator_->busy()) calibrated();
  }

  void calibrated() {
    const QString message = calibrator_->message().value_or(QString());
    CommandOutcome outcome;
    if (message.startsWith(QStringLiteral("This camera has no"))) {
      outcome = {CommandOutcome::invalid, message};
    } else if (writeError_) {
      outcome = {CommandOutcome::cameraFailed, *writeError_};
    } else if (!message.startsWith(QStringLiteral("White balance set to")) && !message.startsWith(QStringLiteral("Exposure set to"))) {
      outcome = {CommandOutcome::cameraFailed, message};
    }
    finish(outcome, {{QStringLiteral("message"), message}});
  }

  void finish(CommandOutcome outcome, QVariantMap result = {}) {
    if (finished_) return;
    finished_ = true;
    timer_.cancel();
    writing_.cancel();
    if (calibrator_ != nullptr && calibrator_->busy()) calibrator_->cancel();
    preview_.stop(command_.client);
    if (outcome.code != CommandOutcome::ok) log::info(log::Layer::capture, outcome.message.toStdString());
    auto done = std::move(done_);
    deleteLater();
    done({std::move(outcome), std::move(result)});
  }

  Clock& clock_;
  PreviewController& preview_;
  const CaptureTarget target_;
  CameraStore* store_;
  Calibrator* calibrator_;
  const CaptureCommand command_;
  std::function<void(CaptureOutcome)> done_;
  std::int64_t needed_ = 1;
  std::int64_t startCount_ = 0;
  std::int64_t lastCount_ = 0;
  Clock::MonotonicTime lastProgress_;
  Clock::MonotonicTime modeSince_;
  std::optional<video::CaptureMode> mode_;  // the snapshot's, once chosen
  std::optional<QString> writeError_;
  TimerHandle timer_;
  CancelToken writing_;  // the snapshot's write, cancelled when the command ends first
  WeakContext toSelf_{this};
  bool finished_ = false;
};

}  // namespace

QPointer<QObject> runCapture(Clock& clock, PreviewController& preview, const CaptureTarget& target, CameraStore* store,
                             Calibrator* calibrator, const CaptureCommand& command,
                             std::function<void(CaptureOutcome)> done) {
  auto* job = new CaptureJob(clock, preview, target, store, calibrator, command, std::move(done));
  QPointer<QObject> handle(job);
  job->begin();
  return handle;
}

QString summarizeModes(const std::vector<video::CaptureMode>& modes) {
  // Per format, each size once with its rates: "MJPEG 1280x720 30/15 fps, 640x480 30 fps".
  QStringList formats;
  std::vector<std::uint32_t> seen;
  for (const video::CaptureMode& m : modes) {
    if (std::find(seen.begin(), seen.end(), m.fourcc) != seen.end()) continue;
    seen.push_back(m.fourcc);
    QStringList sizes;
    for (std::size_t i = 0; i < modes.size(); ++i) {
      const video::CaptureMode& s = modes[i];
      if (s.fourcc != m.fourcc) continue;
      const QString size = QStringLiteral("%1x%2").arg(s.width).arg(s.height);
      if (!sizes.isEmpty() && sizes.back().startsWith(size + QLatin1Char(' '))) {
        sizes.back().insert(sizes.back().size() - 4, QStringLiteral("/%1").arg(s.fps));
      } else {
        sizes.append(QStringLiteral("%1 %2 fps").arg(size).arg(s.fps));
      }
    }
    formats.append(QString::fromStdString(video::formatName(m.fourcc)) + QLatin1Char(' ') + sizes.join(QStringLiteral(", ")));
  }
  return formats.join(QStringLiteral("; "));
}

void cancelCapture(const QPointer<QObject>& job, CommandOutcome outcome) {
  if (auto* running = static_cast<CaptureJob*>(job.data())) running->cancel(std::move(outcome));
}

std::optional<CaptureTarget> captureTargetOf(const CameraStore& store) {
  const auto& device = store.device();
  if (!device) return std::nullopt;
  return CaptureTarget{device->name, device->locationID, device->key};
}

}  // namespace velto
