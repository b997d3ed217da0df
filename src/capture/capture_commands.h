// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The picture without a window: statistics of live frames, a snapshot (in a mode of the user's
// choosing), click-to-set at a point, and the modes the camera offers, as velto-ctl offers them. One logic whoever asks, velto-ctl with a preview of its own or
// the session's owner on its behalf, so both answer alike. The command captures as the preview
// client "cli" for as long as it runs. Main thread.
#pragma once

#include <QPointF>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <optional>

#include "capture/calibrator.h"
#include "model/store_commands.h"
#include "platform/video/capture_mode.h"
#include "support/clock.h"
#include "uvc/camera_key.h"

namespace velto {

class CameraStore;
class PreviewController;

struct CaptureCommand {
  enum class Kind { stats, snapshot, calibrate, formats };
  Kind kind = Kind::stats;
  int frames = 30;                                    // stats: frames to receive first
  QString file;                                       // snapshot: the PNG's name, for messages
  int fd = -1;                                        // snapshot: where it is written (the caller's)
  // snapshot: the mode to take it in, one the camera offers; empty: the preview's own
  video::ModeWish mode;
  Calibrator::Tool tool = Calibrator::Tool::whiteBalance;  // calibrate
  QPointF point{0.5, 0.5};                            // calibrate: normalised, origin top left
  double target = 0.5;                                // calibrate exposure: 0.4, 0.5 or 0.6
  QString client = QStringLiteral("cli");             // the preview client it captures as
};

// The camera whose picture is wanted.
struct CaptureTarget {
  QString name;
  std::uint32_t locationID = 0;
  CameraKey key;
};

struct CaptureOutcome {
  CommandOutcome outcome;
  // stats: width, height, frames, clippedHighlights, crushedShadows, luma, red, green, blue
  // (64 numbers each); snapshot: width, height, file; calibrate: message; formats: camera (its
  // name) and modes, a list of maps with format (its name), fourcc, width, height and fps.
  QVariantMap result;
};

// Longest wait for the picture: for the first frame, and between frames while they are counted;
// a camera that sends nothing ends the command within 5 s.
inline constexpr std::chrono::seconds kPictureTimeout{4};

// Longest time a snapshot takes from its frame to the end of its file, encoding included: a pipe
// nobody reads holds a worker that long, and the command then ends as unavailable.
inline constexpr std::chrono::seconds kSnapshotWriteTimeout{10};

// Runs `command` for `target` on `preview` and calls `done` once. Calibration needs `store` (set to
// its camera) and `calibrator`; the others need neither. Nothing is left running afterwards: the
// command's preview client is stopped and a search that did not end is cancelled. Commands with
// different clients share the stream. A snapshot is decoded, encoded and written into `command.fd`
// (borrowed until `done`) on a worker thread. Returns the running command, for cancelCapture().
QPointer<QObject> runCapture(Clock& clock, PreviewController& preview, const CaptureTarget& target, CameraStore* store,
                             Calibrator* calibrator, const CaptureCommand& command,
                             std::function<void(CaptureOutcome)> done);

// What `modes` holds, for a message: "MJPEG 1920x1080 30 fps, 1280x720 30/15 fps; YUY2 ...".
QString summarizeModes(const std::vector<video::CaptureMode>& modes);

// Ends a running command at once with `outcome` (nothing when it has ended already).
void cancelCapture(const QPointer<QObject>& job, CommandOutcome outcome);

// The target of the camera `store` is connected to; none without one.
std::optional<CaptureTarget> captureTargetOf(const CameraStore& store);

}  // namespace velto
